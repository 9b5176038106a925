#include "core/logs/line_kind.h"

namespace quillner {

std::optional<quint32> hexNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    quint32 value = 0;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | quint32(digit);
    }
    return value;
}

std::optional<quint32> decimalNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint64(c - '0');
    }
    return value > 0xFFFFFFFFu ? std::nullopt : std::optional<quint32>(quint32(value));
}

QByteArrayView nextWord(QByteArrayView& rest)
{
    qsizetype start = 0;
    while (start < rest.size() && isBlank(rest[start]))
        ++start;
    qsizetype end = start;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const QByteArrayView word = rest.sliced(start, end - start);
    rest = rest.sliced(end);
    return word;
}

} // namespace quillner
