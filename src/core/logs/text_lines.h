#pragma once

#include "core/logs/input_stream.h"
#include "core/logs/line_kind.h"

#include <QByteArrayView>

#include <optional>

namespace quillner {

// The longest line a text recording may hold; a longer one (a binary file, a line that never
// ends) is given as cut short and passed over to its end without being kept.
inline constexpr qsizetype kMaxLineBytes = 64 << 10;

struct TextLine
{
    QByteArrayView text;   // without its line end (LF or CR LF); valid until the next line
    bool cutShort = false; // longer than kMaxLineBytes: only its start is here
    bool unended = false;  // the last line, without a line end
};

// A line without its CR of a CR LF line end.
inline QByteArrayView withoutCarriageReturn(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// Where a LineReader begins: at the recording's start, where a UTF-8 byte-order mark before the
// first line is not part of it, or at the start of a line further on.
enum class LinesFrom { RecordingStart, LineStart };

// The lines of a text recording, one after another.
class LineReader
{
public:
    explicit LineReader(StreamBuffer& buffer, LinesFrom from = LinesFrom::RecordingStart);

    // The next line, or nothing at the end.
    std::optional<TextLine> next()
    {
        m_buffer.consume(m_taken);
        m_taken = 0;
        // Most lines end in what the buffer holds: found here without a call.
        if (!m_skipping) {
            const char* begin = m_buffer.data();
            const char* end = begin + std::min(m_buffer.available(), kMaxLineBytes + 1);
            if (const char* newline = findByte(begin, end, '\n')) {
                m_taken = newline - begin + 1;
                return TextLine{withoutCarriageReturn(QByteArrayView(begin, newline))};
            }
        }
        return nextFromMore();
    }

private:
    std::optional<TextLine> nextFromMore();

    StreamBuffer& m_buffer;
    qsizetype m_taken = 0;   // the last line's bytes, taken from the buffer at the next call
    bool m_skipping = false; // passing over the rest of a line that was cut short
};

// A line without a trailing CR; blank ones hold only blanks and tabs.
bool isBlankLine(QByteArrayView line);
// A comment line of any recording: "#", ";" or "//" after leading blanks.
bool isCommentLine(QByteArrayView line);
// The line without leading blanks and tabs.
QByteArrayView withoutLeadingBlanks(QByteArrayView line);

} // namespace quillner
