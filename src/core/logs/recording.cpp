#include "core/logs/recording.h"

#include "core/app/error.h"
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

// The recording opened, gzip unpacked; throws when it holds nothing.
std::unique_ptr<StreamBuffer> openBuffer(const QString& path, LogReading& reading)
{
    reading.name = recordingName(path);
    auto raw = std::make_unique<StreamBuffer>(openRecording(path), kRecordingPieceBytes);
    if (raw->fill(2) == 0)
        throw Error(QStringLiteral("%1: empty, no recording").arg(reading.name));
    if (!isGzip(raw->data(), raw->available()))
        return raw;
    reading.compressed = true;
    auto buffer = std::make_unique<StreamBuffer>(gunzipStream(std::move(raw), reading.name),
                                                 kRecordingPieceBytes);
    if (buffer->fill(1) == 0)
        throw Error(QStringLiteral("%1: the gzip data hold nothing").arg(reading.name));
    return buffer;
}

void readFormat(StreamBuffer& buffer, const LogVisitor& visitor, LogReading& reading,
                CutShort cutShort)
{
    if (visitor.formatKnown)
        visitor.formatKnown(reading.format);
    if (reading.format == LogFormat::VectorBlf) {
        readBlf(buffer, visitor, reading);
    } else {
        VisitorSink sink{visitor};
        readTextLines(buffer, LinesFrom::RecordingStart, reading.format, sink, reading);
    }
    checkReading(reading, cutShort);
}

} // namespace

void checkReading(const LogReading& reading, CutShort cutShort)
{
    // Cut short before its first frame, a recording is refused for that alone.
    if (reading.cutShortAt >= 0 &&
        (cutShort == CutShort::Refused || reading.frames + reading.errorFrames == 0))
        throw Error(cutShortText(reading));
    if (reading.frames == 0 && reading.errorFrames == 0)
        throw Error(QStringLiteral("%1: no frame in this %2 recording (%3 %4)%5")
                        .arg(reading.name, reading.formatText())
                        .arg(reading.lines)
                        .arg(reading.format == LogFormat::VectorBlf ? QStringLiteral("objects")
                                                                    : QStringLiteral("lines"),
                             firstReasons(reading)));
}

QString cutShortText(const LogReading& reading)
{
    return QStringLiteral("%1: cut short at byte %2, after %3 %4")
        .arg(reading.name)
        .arg(reading.cutShortAt)
        .arg(reading.frames)
        .arg(reading.frames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"));
}

OpenedRecording openCanLog(const QString& path)
{
    OpenedRecording opened;
    LogReading& reading = opened.reading;
    opened.buffer = openBuffer(path, reading);
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
    if (!recognition.format)
        throw Error(QStringLiteral("%1: no frame in any known format; first line: %2")
                        .arg(reading.name, recognition.firstLine));
    reading.format = *recognition.format;
    return opened;
}

LogReading readCanLog(const QString& path, const LogVisitor& visitor, CutShort cutShort)
{
    OpenedRecording opened = openCanLog(path);
    readFormat(*opened.buffer, visitor, opened.reading, cutShort);
    return opened.reading;
}

LogReading readCanLogAs(const QString& path, LogFormat format, const LogVisitor& visitor,
                        CutShort cutShort)
{
    LogReading reading;
    const std::unique_ptr<StreamBuffer> buffer = openBuffer(path, reading);
    reading.format = format;
    readFormat(*buffer, visitor, reading, cutShort);
    return reading;
}

} // namespace quillner
