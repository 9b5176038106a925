#include "core/logs/text_lines.h"

#include "core/logs/text_recording.h"

#include <algorithm>
#include <cstring>

namespace quillner {

const LogFrame kFreshFrame{};

LineReader::LineReader(StreamBuffer& buffer, LinesFrom from) : m_buffer(buffer)
{
    if (from == LinesFrom::LineStart)
        return;
    m_buffer.fill(3);
    if (m_buffer.available() >= 3 && std::memcmp(m_buffer.data(), "\xEF\xBB\xBF", 3) == 0)
        m_buffer.consume(3);
}

std::optional<TextLine> LineReader::nextFromMore()
{
    qsizetype searched = 0; // bytes already known to hold no line end
    for (;;) {
        const char* begin = m_buffer.data();
        const qsizetype available = m_buffer.available();
        const void* newline = std::memchr(begin + searched, '\n', size_t(available - searched));
        if (m_skipping) {
            // The rest of an overlong line goes without being kept.
            if (!newline) {
                m_buffer.consume(available);
                searched = 0;
                if (m_buffer.fill(1) == 0) {
                    m_skipping = false;
                    return std::nullopt;
                }
                continue;
            }
            m_buffer.consume(static_cast<const char*>(newline) - begin + 1);
            m_skipping = false;
            searched = 0;
            continue;
        }
        if (newline) {
            const qsizetype length = static_cast<const char*>(newline) - begin;
            if (length <= kMaxLineBytes) {
                m_taken = length + 1;
                return TextLine{withoutCarriageReturn(QByteArrayView(begin, length)), false};
            }
        }
        if (newline || available >= kMaxLineBytes + 1) {
            // Too long to be a line of any recording: its start is told, the rest passed over.
            m_taken = kMaxLineBytes;
            m_skipping = true;
            return TextLine{QByteArrayView(begin, kMaxLineBytes), true};
        }
        if (m_buffer.streamEnded()) {
            if (available == 0)
                return std::nullopt;
            m_taken = available;
            return TextLine{withoutCarriageReturn(QByteArrayView(begin, available)), false, true};
        }
        searched = available;
        m_buffer.fill(available + 1);
    }
}

bool isBlankLine(QByteArrayView line)
{
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

QByteArrayView withoutLeadingBlanks(QByteArrayView line)
{
    qsizetype start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    return line.sliced(start);
}

bool isCommentLine(QByteArrayView line)
{
    const QByteArrayView text = withoutLeadingBlanks(line);
    return text.startsWith('#') || text.startsWith(';') || text.startsWith("//");
}

} // namespace quillner
