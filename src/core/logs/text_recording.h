#pragma once

#include "core/app/result.h"
#include "core/logs/asc_reader.h"
#include "core/logs/candump_reader.h"
#include "core/logs/log_frame.h"
#include "core/logs/text_lines.h"
#include "core/logs/trc_reader.h"

namespace quillner {

// Why a line of the format is unreadable: "not a candump frame".
QString unreadableText(LogFormat format);
// "line 12": where an unreadable line is, as a recording's problems name it.
QString lineLocation(qint64 lineNumber);

// Whether a line that begins with the character may be no frame: a blank line, a comment or a
// TRC header.
inline bool mayBeginOtherLine(char c)
{
    return isBlank(c) || c == '#' || c == ';' || c == '/';
}

// A frame as made afresh, for each line to begin from. Defined apart from the readers, so that
// a frame is copied from it: cleared in place, it would be by a string instruction that costs as
// much as reading the line.
extern const LogFrame kFreshFrame;

// Reads the lines of a text recording in its format, from the buffer's start to its end, counting
// them in reading. Each frame goes to sink.frame(const LogFrame&), every other line to
// sink.otherLine(QByteArrayView), and every unreadable line listed in reading.unreadable to
// sink.listedUnreadable(qint64 lineNumber), so that a reader of a part of a recording can number
// its lines after the parts before; after each of the first two, sink.stopped() true ends the
// reading. A template rather than a call through a function object for each line: a recording
// holds millions of them. A problem when the buffer could not be read, or for a TRC header of a
// version not known.
template <typename Sink>
Result<Done> readTextLines(StreamBuffer& buffer, LinesFrom from, LogFormat format, Sink& sink,
                           LogReading& reading)
{
    LineReader lines(buffer, from);
    AscReader asc;
    TrcReader trc;
    LogFrame frame;
    // A stream that could not be read ends there, and what its last line held is no line.
    const auto ended = [&]() -> Result<Done> {
        if (!buffer.problems().isEmpty())
            return Result<Done>::failure(buffer.problems());
        return {};
    };
    while (const std::optional<TextLine> line = lines.next()) {
        ++reading.lines;
        const QByteArrayView text = line->text;
        frame = kFreshFrame;
        LineKind kind = LineKind::Other;
        // Most lines are frames, whose first character begins no blank line, comment or TRC
        // header: they go straight to their reader.
        const bool plain = !text.isEmpty() && !mayBeginOtherLine(text.front());
        if (line->cutShort) {
            kind = LineKind::Unreadable;
        } else if (!plain && isBlankLine(text)) {
            kind = LineKind::Other;
        } else if (!plain && format == LogFormat::PeakTrc &&
                   withoutLeadingBlanks(text).startsWith(";$")) {
            Result<Done> header = trc.readHeader(text);
            if (!header.whole()) {
                for (Problem& problem : header.problems) {
                    problem.file = reading.name;
                    problem.location = lineLocation(reading.lines);
                }
                return header;
            }
        } else if (!plain && isCommentLine(text)) {
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
        if (line->unended && (kind == LineKind::Unreadable || buffer.endedEarly())) {
            // The recording ends inside this line: its frame is not whole.
            reading.cutShortAt = buffer.position() + buffer.available();
            return ended();
        }
        if (kind == LineKind::Frame) {
            ++reading.frames;
            frame.line = text;
            frame.lineNumber = reading.lines;
            sink.frame(frame);
            if (sink.stopped())
                return {};
            continue;
        }
        if (kind == LineKind::ErrorFrame) {
            ++reading.errorFrames;
        } else if (kind == LineKind::Unreadable && reading.countUnreadable()) {
            reading.unreadable.append(
                {reading.name, lineLocation(reading.lines),
                 line->cutShort ? QStringLiteral("a line longer than %1 bytes").arg(kMaxLineBytes)
                                : unreadableText(format)});
            sink.listedUnreadable(reading.lines);
        }
        sink.otherLine(text);
        if (sink.stopped())
            return {};
    }
    if (format == LogFormat::PeakTrc)
        reading.version = trc.version();
    if (buffer.endedEarly())
        reading.cutShortAt = buffer.position();
    return ended();
}

} // namespace quillner
