#include "core/filters/id_bitmap.h"

#include "core/filters/mask_pattern.h"

#include <bit>

namespace quillner {

namespace {

constexpr int kWordBits = 6; // identifier bits inside one word

// The identifiers of one word that the pattern passes, from its low six bits.
quint64 wordMask(const IdPattern& pattern)
{
    const quint32 free = pattern.free & 63;
    const quint32 value = pattern.value & 63;
    quint64 mask = 0;
    for (quint32 low = 0; low < 64; ++low) {
        if ((low & ~free) == value)
            mask |= quint64(1) << low;
    }
    return mask;
}

// Calls visit with the index of every word the pattern reaches.
template <typename Visit> void forEachWord(const IdPattern& pattern, Visit visit)
{
    const quint32 value = pattern.value >> kWordBits;
    const quint32 free = pattern.free >> kWordBits;
    quint32 subset = 0;
    do {
        visit(size_t(value | subset));
        subset = (subset - free) & free;
    } while (subset != 0);
}

} // namespace

IdBitmap::IdBitmap() : m_words(size_t(1) << (kPatternLength - kWordBits), 0) {}

quint64 IdBitmap::wordsOf(const IdPattern& pattern)
{
    return quint64(1) << std::popcount(pattern.free >> kWordBits);
}

void IdBitmap::add(const IdPattern& pattern)
{
    const quint64 mask = wordMask(pattern);
    forEachWord(pattern, [&](size_t word) { m_words[word] |= mask; });
}

quint64 IdBitmap::count() const
{
    quint64 count = 0;
    for (const quint64 word : m_words)
        count += quint64(std::popcount(word));
    return count;
}

quint64 IdBitmap::countWithin(const IdPattern& pattern) const
{
    const quint64 mask = wordMask(pattern);
    quint64 count = 0;
    forEachWord(pattern,
                [&](size_t word) { count += quint64(std::popcount(m_words[word] & mask)); });
    return count;
}

QList<quint32> IdBitmap::identifiers() const
{
    QList<quint32> ids;
    for (size_t word = 0; word < m_words.size(); ++word) {
        for (quint64 bits = m_words[word]; bits != 0; bits &= bits - 1)
            ids.append(quint32(word << kWordBits) | quint32(std::countr_zero(bits)));
    }
    return ids;
}

} // namespace quillner
