#include "core/app/int_parse.h"

#include "core/app/error.h"

namespace quillner {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

std::optional<qint32> tryParseInt(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= n)
        return std::nullopt;

    bool hex = false;
    if (text[i] == u'$' || text[i] == u'x' || text[i] == u'X') {
        hex = true;
        ++i;
    } else if (text[i] == u'0' && i + 1 < n && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }

    if (hex) {
        const qsizetype digits = n - i;
        if (digits < 1 || digits > 8)
            return std::nullopt;
        quint32 value = 0;
        for (; i < n; ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0)
                return std::nullopt;
            value = (value << 4) | quint32(d);
        }
        if (negative)
            value = 0u - value;
        return static_cast<qint32>(value);
    }

    if (i >= n)
        return std::nullopt;
    // Accumulate the magnitude in 64 bits; the limit differs by one between the two signs.
    const qint64 limit = negative ? 2147483648LL : 2147483647LL;
    qint64 magnitude = 0;
    for (; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u < '0' || u > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (u - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<qint32>(negative ? -magnitude : magnitude);
}

qint32 parseIntStrict(const QString& text)
{
    if (const auto value = tryParseInt(text))
        return *value;
    throw Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

qint32 parseIntLenient(QStringView text, qint32 fallback)
{
    return tryParseInt(text).value_or(fallback);
}

} // namespace quillner
