#include "core/logs/recording.h"

#include "core/logs/blf_reader.h"
#include "core/logs/format_recognition.h"
#include "core/logs/input_stream.h"
#include "core/logs/text_recording.h"

namespace quillner {

namespace {

// A visitor's functions, called for what they are given.
struct VisitorSink
{
    const LogVisitor& visitor;

    void frame(const LogFrame& frame)
    {
        if (visitor.frame)
            visitor.frame(frame);
    }
    void otherLine(QByteArrayView line)
    {
        if (visitor.otherLine)
            visitor.otherLine(line);
    }
    void listedUnreadable(qint64) {}
    bool stopped() const { return visitor.stopped(); }
};

} // namespace

QString unreadableText(LogFormat format)
{
    switch (format) {
    case LogFormat::PeakTrc:
        return QStringLiteral("not a PEAK TRC frame");
    case LogFormat::VectorAsc:
        return QStringLiteral("not a Vector ASC frame");
    default:
        return QStringLiteral("not a candump frame");
    }
}

QString lineLocation(qint64 lineNumber)
{
    return QStringLiteral("line %1").arg(lineNumber);
}

QString logFormatName(LogFormat format)
{
    switch (format) {
    case LogFormat::Candump:
        return QStringLiteral("candump log");
    case LogFormat::VectorAsc:
        return QStringLiteral("Vector ASC");
    case LogFormat::CandumpScreen:
        return QStringLiteral("candump screen output");
    case LogFormat::PeakTrc:
        return QStringLiteral("PEAK TRC");
    case LogFormat::VectorBlf:
        return QStringLiteral("Vector BLF");
    case LogFormat::LiveBus:
        return QStringLiteral("live CAN bus");
    }
    return {};
}

QString LogReading::formatText() const
{
    QString text = logFormatName(format);
    if (!version.isEmpty())
        text += u' ' + version;
    if (compressed)
        text += QStringLiteral(", gzip");
    return text;
}

namespace {

// How many reasons a refusal of a recording without a valid frame gives.
constexpr qsizetype kReasonsGiven = 5;

// "; unreadable: object 1: identifier 0x4444444 is no 11-bit one; object 2: …", as the warnings
// would list them had one frame been valid; empty when nothing was unreadable.
QString firstReasons(const LogReading& reading)
{
    QStringList reasons;
    for (const Problem& problem :
         reading.unreadable.first(std::min<qsizetype>(reading.unreadable.size(), kReasonsGiven)))
        reasons << QStringLiteral("%1: %2").arg(problem.location, problem.text);
    if (reasons.isEmpty())
        return {};
    QString text = QStringLiteral("; unreadable: ") + reasons.join(QStringLiteral("; "));
    if (reading.unreadableCount > reasons.size())
        text += QStringLiteral("; and %1 more").arg(reading.unreadableCount - reasons.size());
    return text;
}

using OpenedBuffer = Result<std::unique_ptr<StreamBuffer>>;

// The buffer's stream could not be read, or held nothing; in either case no recording is read.
OpenedBuffer nothingIn(const StreamBuffer& buffer, const LogReading& reading, const QString& text)
{
    if (!buffer.problems().isEmpty())
        return OpenedBuffer::failure(buffer.problems());
    return OpenedBuffer::failure({{reading.name, {}, text}});
}

// The recording opened, gzip unpacked; a problem when it holds nothing.
OpenedBuffer openBuffer(const QString& path, LogReading& reading)
{
    reading.name = recordingName(path);
    Result<std::unique_ptr<ByteStream>> stream = openRecording(path);
    if (!stream.whole())
        return OpenedBuffer::failure(stream.problems);
    auto raw = std::make_unique<StreamBuffer>(std::move(stream.value), kRecordingPieceBytes);
    if (raw->fill(2) == 0)
        return nothingIn(*raw, reading, QStringLiteral("empty, no recording"));
    if (!isGzip(raw->data(), raw->available()))
        return {std::move(raw), {}, {}};
    reading.compressed = true;
    auto buffer = std::make_unique<StreamBuffer>(gunzipStream(std::move(raw), reading.name),
                                                 kRecordingPieceBytes);
    if (buffer->fill(1) == 0)
        return nothingIn(*buffer, reading, QStringLiteral("the gzip data hold nothing"));
    return {std::move(buffer), {}, {}};
}

Result<LogReading> readFormat(StreamBuffer& buffer, const LogVisitor& visitor, LogReading reading,
                              CutShort cutShort)
{
    if (visitor.formatKnown)
        visitor.formatKnown(reading.format);
    Result<Done> read;
    if (reading.format == LogFormat::VectorBlf) {
        read = readBlf(buffer, visitor, reading);
    } else {
        VisitorSink sink{visitor};
        read = readTextLines(buffer, LinesFrom::RecordingStart, reading.format, sink, reading);
    }
    if (read.whole() && !visitor.stopped())
        read = checkReading(reading, cutShort);
    return {std::move(reading), std::move(read.problems), {}};
}

} // namespace

Result<Done> checkReading(const LogReading& reading, CutShort cutShort)
{
    // Cut short before its first frame, a recording is refused for that alone.
    if (reading.cutShortAt >= 0 &&
        (cutShort == CutShort::Refused || reading.frames + reading.errorFrames == 0))
        return Result<Done>::failure({{{}, {}, cutShortText(reading)}});
    if (reading.frames == 0 && reading.errorFrames == 0)
        return Result<Done>::failure(
            {{reading.name,
              {},
              QStringLiteral("no frame in this %1 recording (%2 %3)%4")
                  .arg(reading.formatText())
                  .arg(reading.lines)
                  .arg(reading.format == LogFormat::VectorBlf ? QStringLiteral("objects")
                                                              : QStringLiteral("lines"),
                       firstReasons(reading))}});
    return {};
}

QString cutShortText(const LogReading& reading)
{
    return QStringLiteral("%1: cut short at byte %2, after %3 %4")
        .arg(reading.name)
        .arg(reading.cutShortAt)
        .arg(reading.frames)
        .arg(reading.frames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"));
}

Result<OpenedRecording> openCanLog(const QString& path)
{
    OpenedRecording opened;
    LogReading& reading = opened.reading;
    OpenedBuffer buffered = openBuffer(path, reading);
    if (!buffered.whole())
        return Result<OpenedRecording>::failure(buffered.problems);
    opened.buffer = std::move(buffered.value);
    StreamBuffer& buffer = *opened.buffer;
    // Looked at as it comes, so that a live capture through a pipe is told by its first frame.
    Recognition recognition;
    for (;;) {
        const qsizetype available = buffer.available();
        recognition =
            recogniseFormat(QByteArrayView(buffer.data(), available), buffer.streamEnded());
        if (recognition.format || buffer.streamEnded() || available >= kRecognitionBytes)
            break;
        buffer.fill(available + 1);
    }
    if (!buffer.problems().isEmpty())
        return Result<OpenedRecording>::failure(buffer.problems());
    if (!recognition.format)
        return Result<OpenedRecording>::failure(
            {{reading.name,
              {},
              QStringLiteral("no frame in any known format; first line: %1")
                  .arg(recognition.firstLine)}});
    reading.format = *recognition.format;
    return {std::move(opened), {}, {}};
}

Result<LogReading> readCanLog(const QString& path, const LogVisitor& visitor, CutShort cutShort)
{
    Result<OpenedRecording> opened = openCanLog(path);
    if (!opened.whole())
        return {std::move(opened.value.reading), std::move(opened.problems), {}};
    return readFormat(*opened.value.buffer, visitor, std::move(opened.value.reading), cutShort);
}

Result<LogReading> readCanLogAs(const QString& path, LogFormat format, const LogVisitor& visitor,
                                CutShort cutShort)
{
    LogReading reading;
    OpenedBuffer buffer = openBuffer(path, reading);
    if (!buffer.whole())
        return {std::move(reading), std::move(buffer.problems), {}};
    reading.format = format;
    return readFormat(*buffer.value, visitor, std::move(reading), cutShort);
}

} // namespace quillner
