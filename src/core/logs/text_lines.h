#pragma once

#include "core/logs/input_stream.h"

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

// The lines of a text recording, one after another. A UTF-8 byte-order mark before the first
// line is not part of it.
class LineReader
{
public:
    explicit LineReader(StreamBuffer& buffer);

    // The next line, or nothing at the end.
    std::optional<TextLine> next();

private:
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
