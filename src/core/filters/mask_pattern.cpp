#include "core/filters/mask_pattern.h"

#include "core/app/hex_text.h"

#include <algorithm>

namespace quillner {

namespace {

// Sets bit k for every character k from the right (up to bit 28) that the test accepts.
template <typename Test> quint32 patternBits(QStringView pattern, Test test)
{
    quint32 bits = 0;
    const qsizetype count = std::min<qsizetype>(pattern.size(), kPatternLength);
    for (qsizetype k = 0; k < count; ++k) {
        if (test(pattern[pattern.size() - 1 - k]))
            bits |= 1u << k;
    }
    return bits;
}

bool isFree(QChar c)
{
    return c == u'x' || c == u'X';
}

QString hex8(quint32 value)
{
    return QStringLiteral("0x") + hex::upperText(value, 8);
}

} // namespace

QString PadPattern(const QString& text)
{
    if (text.size() >= kPatternLength)
        return text;
    return QString(kPatternLength - text.size(), u'0') + text;
}

quint32 PatternNonZeroBits(QStringView pattern)
{
    return patternBits(pattern, [](QChar c) { return c != u'0'; });
}

quint32 PatternOneBits(QStringView pattern)
{
    return patternBits(pattern, [](QChar c) { return c == u'1'; });
}

QString BitsToPattern(quint32 first, quint32 second)
{
    QString pattern(kPatternLength, u'0');
    for (int k = 0; k < kPatternLength; ++k) {
        const quint32 bit = 1u << k;
        const int set = ((first & bit) ? 1 : 0) + ((second & bit) ? 1 : 0);
        pattern[kPatternLength - 1 - k] = set == 2 ? u'1' : set == 1 ? u'x' : u'0';
    }
    return pattern;
}

QString patternIdMaskText(QStringView pattern)
{
    const quint32 mask = kPatternBits & ~patternBits(pattern, isFree);
    return hex8(PatternOneBits(pattern)) + u'/' + hex8(mask);
}

} // namespace quillner
