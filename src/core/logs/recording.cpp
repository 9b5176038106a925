#include "core/logs/recording.h"

#include "core/app/error.h"
#include "core/logs/asc_reader.h"
#include "core/logs/blf_reader.h"
#include "core/logs/candump_reader.h"
#include "core/logs/format_recognition.h"
#include "core/logs/input_stream.h"
#include "core/logs/text_lines.h"
#include "core/logs/trc_reader.h"

namespace quillner {

namespace {

// Read a piece at a time: big enough that a gigabyte goes in a few hundred reads.
constexpr qsizetype kPieceBytes = 4 << 20;

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

void readText(StreamBuffer& buffer, LogFormat format, const LogVisitor& visitor,
              LogReading& reading)
{
    LineReader lines(buffer);
    AscReader asc;
    TrcReader trc;
    LogFrame frame;
    while (const std::optional<TextLine> line = lines.next()) {
        ++reading.lines;
        const QByteArrayView text = line->text;
        frame = LogFrame{};
        LineKind kind = LineKind::Other;
        if (line->cutShort) {
            kind = LineKind::Unreadable;
        } else if (isBlankLine(text)) {
            kind = LineKind::Other;
        } else if (format == LogFormat::PeakTrc && withoutLeadingBlanks(text).startsWith(";$")) {
            try {
                trc.readHeader(text);
            } catch (const Error& error) {
                throw Error(QStringLiteral("%1, line %2: %3")
                                .arg(reading.name)
                                .arg(reading.lines)
                                .arg(error.message()));
            }
        } else if (isCommentLine(text)) {
            kind = LineKind::Other;
        } else {
            switch (format) {
            case LogFormat::Candump:
                kind = readCandumpLogLine(text, frame);
                break;
            case LogFormat::CandumpScreen:
                kind = readCandumpScreenLine(text, frame);
                break;
            case LogFormat::VectorAsc:
                kind = asc.read(text, frame);
                break;
            case LogFormat::PeakTrc:
                kind = trc.read(text, frame);
                break;
            case LogFormat::VectorBlf:
            case LogFormat::LiveBus:
                break;
            }
        }
        if (kind == LineKind::Frame) {
            ++reading.frames;
            frame.line = text;
            frame.lineNumber = reading.lines;
            if (visitor.frame)
                visitor.frame(frame);
            continue;
        }
        if (kind == LineKind::ErrorFrame) {
            ++reading.errorFrames;
        } else if (kind == LineKind::Unreadable && reading.countUnreadable()) {
            reading.unreadable.append(
                {reading.name, QStringLiteral("line %1").arg(reading.lines),
                 line->cutShort ? QStringLiteral("a line longer than %1 bytes").arg(kMaxLineBytes)
                                : unreadableText(format)});
        }
        if (visitor.otherLine)
            visitor.otherLine(text);
    }
    if (format == LogFormat::PeakTrc)
        reading.version = trc.version();
}

} // namespace

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

// The recording opened, gzip unpacked; throws when it holds nothing.
std::unique_ptr<StreamBuffer> openBuffer(const QString& path, LogReading& reading)
{
    reading.name = recordingName(path);
    auto raw = std::make_unique<StreamBuffer>(openRecording(path), kPieceBytes);
    if (raw->fill(2) == 0)
        throw Error(QStringLiteral("%1: empty, no recording").arg(reading.name));
    if (!isGzip(raw->data(), raw->available()))
        return raw;
    reading.compressed = true;
    auto buffer =
        std::make_unique<StreamBuffer>(gunzipStream(std::move(raw), reading.name), kPieceBytes);
    if (buffer->fill(1) == 0)
        throw Error(QStringLiteral("%1: the gzip data hold nothing").arg(reading.name));
    return buffer;
}

void readFormat(StreamBuffer& buffer, const LogVisitor& visitor, LogReading& reading)
{
    if (visitor.formatKnown)
        visitor.formatKnown(reading.format);
    if (reading.format == LogFormat::VectorBlf)
        readBlf(buffer, visitor, reading);
    else
        readText(buffer, reading.format, visitor, reading);
    if (reading.frames == 0 && reading.errorFrames == 0)
        throw Error(QStringLiteral("%1: no frame in this %2 recording (%3 %4)")
                        .arg(reading.name, reading.formatText())
                        .arg(reading.lines)
                        .arg(reading.format == LogFormat::VectorBlf ? QStringLiteral("objects")
                                                                    : QStringLiteral("lines")));
}

} // namespace

LogReading readCanLog(const QString& path, const LogVisitor& visitor)
{
    LogReading reading;
    const std::unique_ptr<StreamBuffer> buffer = openBuffer(path, reading);
    // Looked at as it comes, so that a live capture through a pipe is told by its first frame.
    Recognition recognition;
    for (;;) {
        const qsizetype available = buffer->available();
        recognition =
            recogniseFormat(QByteArrayView(buffer->data(), available), buffer->streamEnded());
        if (recognition.format || buffer->streamEnded() || available >= kRecognitionBytes)
            break;
        buffer->fill(available + 1);
    }
    if (!recognition.format)
        throw Error(QStringLiteral("%1: no frame in any known format; first line: %2")
                        .arg(reading.name, recognition.firstLine));
    reading.format = *recognition.format;
    readFormat(*buffer, visitor, reading);
    return reading;
}

LogReading readCanLogAs(const QString& path, LogFormat format, const LogVisitor& visitor)
{
    LogReading reading;
    const std::unique_ptr<StreamBuffer> buffer = openBuffer(path, reading);
    reading.format = format;
    readFormat(*buffer, visitor, reading);
    return reading;
}

} // namespace quillner
