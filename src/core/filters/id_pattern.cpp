#include "core/filters/id_pattern.h"

#include "core/filters/id_bitmap.h"
#include "core/filters/mask_pattern.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <vector>

namespace quillner {

namespace {

constexpr int kFastCountLimit = 32; // patterns of the union counted by one 32-bit mask
// Up to this many patterns the union is counted by inclusion and exclusion: at most 2^12
// intersections, fewer where patterns do not meet, and fast where large patterns overlap in
// many ways, which the splitting below would cut into as many regions.
constexpr int kInclusionExclusionLimit = 12;
// Filling the bitmap costs one step for each word a pattern reaches; beyond this many steps (a few
// seconds) the set is refused.
constexpr quint64 kMostBitmapWords = quint64(1) << 31;

quint32 highestBit(quint32 bits)
{
    return 1u << (31 - std::countl_zero(bits));
}

IdPattern normalised(const IdPattern& pattern)
{
    const quint32 free = pattern.free & kPatternBits;
    return {pattern.value & kPatternBits & ~free, free};
}

// The union's size by splitting on fixed bits: bits free in every pattern double the count
// without a split, and a pattern free in every remaining bit passes all of them. `alive` marks the
// patterns that agree with the bits decided so far.
quint64 unionOf(const IdPattern* patterns, quint32 alive, quint32 remaining)
{
    if (alive == 0)
        return 0;
    if ((alive & (alive - 1)) == 0)
        return quint64(1) << std::popcount(patterns[std::countr_zero(alive)].free & remaining);
    quint32 commonFree = remaining;
    for (quint32 rest = alive; rest != 0; rest &= rest - 1) {
        const IdPattern& pattern = patterns[std::countr_zero(rest)];
        if ((pattern.free & remaining) == remaining)
            return quint64(1) << std::popcount(remaining);
        commonFree &= pattern.free;
    }
    const quint32 undecided = remaining & ~commonFree;
    const quint32 bit = highestBit(undecided);
    quint32 zero = 0;
    quint32 one = 0;
    for (quint32 rest = alive; rest != 0; rest &= rest - 1) {
        const int index = std::countr_zero(rest);
        const IdPattern& pattern = patterns[index];
        if (pattern.free & bit) {
            zero |= 1u << index;
            one |= 1u << index;
        } else {
            ((pattern.value & bit) ? one : zero) |= 1u << index;
        }
    }
    const quint32 below = undecided & ~bit;
    return (unionOf(patterns, zero, below) + unionOf(patterns, one, below))
           << std::popcount(commonFree);
}

// The identifiers that both patterns pass, as a pattern; none when they share none.
std::optional<IdPattern> intersection(const IdPattern& a, const IdPattern& b)
{
    if ((a.value ^ b.value) & ~a.free & ~b.free)
        return std::nullopt;
    const quint32 free = a.free & b.free;
    return IdPattern{(a.value | b.value) & ~free, free};
}

// The sum over the intersections of `within` with patterns from `first` on, each set of them
// taken once, with signs alternating by the number taken.
qint64 inclusionExclusion(const IdPattern* patterns, int count, int first, const IdPattern& within,
                          qint64 sign)
{
    qint64 total = 0;
    for (int i = first; i < count; ++i) {
        if (const std::optional<IdPattern> both = intersection(within, patterns[i])) {
            total += sign * qint64(both->size()) +
                     inclusionExclusion(patterns, count, i + 1, *both, -sign);
        }
    }
    return total;
}

// The patterns that can pass identifiers with the bit clear (halves[0]) and set (halves[1]): a
// pattern that leaves the bit free goes to both.
void splitAtBit(const std::vector<IdPattern>& patterns, quint32 bit,
                std::vector<IdPattern> (&halves)[2])
{
    for (const IdPattern& pattern : patterns) {
        if (pattern.free & bit) {
            halves[0].push_back(pattern);
            halves[1].push_back(pattern);
        } else {
            halves[(pattern.value & bit) ? 1 : 0].push_back(pattern);
        }
    }
}

// The same without a limit on the number of patterns.
quint64 unionSize(const std::vector<IdPattern>& patterns, quint32 remaining)
{
    if (patterns.empty())
        return 0;
    quint32 commonFree = remaining;
    for (const IdPattern& pattern : patterns) {
        if ((pattern.free & remaining) == remaining)
            return quint64(1) << std::popcount(remaining);
        commonFree &= pattern.free;
    }
    const quint32 undecided = remaining & ~commonFree;
    const quint32 bit = highestBit(undecided);
    std::vector<IdPattern> halves[2];
    splitAtBit(patterns, bit, halves);
    const quint32 below = undecided & ~bit;
    return (unionSize(halves[0], below) + unionSize(halves[1], below)) << std::popcount(commonFree);
}

// The union cut into patterns that share nothing, by the same splitting: a region that one
// pattern passes whole is one part. False when the parts would be more than the limit.
class DisjointParts
{
public:
    explicit DisjointParts(qsizetype limit) : m_limit(limit) {}

    bool collect(const std::vector<IdPattern>& alive, quint32 value, quint32 free,
                 quint32 remaining)
    {
        if (alive.empty())
            return true;
        quint32 commonFree = remaining;
        for (const IdPattern& pattern : alive) {
            if ((pattern.free & remaining) == remaining) {
                if (m_parts.size() >= m_limit)
                    return false;
                m_parts.append({value, free | remaining});
                return true;
            }
            commonFree &= pattern.free;
        }
        const quint32 undecided = remaining & ~commonFree;
        const quint32 bit = highestBit(undecided);
        std::vector<IdPattern> halves[2];
        splitAtBit(alive, bit, halves);
        const quint32 below = undecided & ~bit;
        return collect(halves[0], value, free | commonFree, below) &&
               collect(halves[1], value | bit, free | commonFree, below);
    }

    QList<IdPattern> take() { return std::move(m_parts); }

private:
    qsizetype m_limit;
    QList<IdPattern> m_parts;
};

quint64 keyOf(const IdPattern& pattern)
{
    return quint64(pattern.free) << 32 | pattern.value;
}

// Two parts of one free mask that differ in one fixed bit are one pattern; joined until no such
// pair is left, so that a run of identifiers becomes the few aligned patterns it is made of.
QList<IdPattern> joinNeighbours(QList<IdPattern> parts)
{
    bool joined = true;
    while (joined) {
        joined = false;
        QHash<quint64, qsizetype> index;
        index.reserve(parts.size());
        for (qsizetype i = 0; i < parts.size(); ++i)
            index.insert(keyOf(parts[i]), i);
        std::vector<bool> used(size_t(parts.size()), false);
        QList<IdPattern> next;
        next.reserve(parts.size());
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (used[size_t(i)])
                continue;
            used[size_t(i)] = true;
            IdPattern part = parts[i];
            for (quint32 fixed = kPatternBits & ~part.free; fixed != 0; fixed &= fixed - 1) {
                const quint32 bit = fixed & (0u - fixed);
                const auto found = index.constFind(keyOf({part.value ^ bit, part.free}));
                if (found == index.cend() || used[size_t(*found)])
                    continue;
                used[size_t(*found)] = true;
                part = {part.value & ~bit, part.free | bit};
                joined = true;
                break;
            }
            next.append(part);
        }
        parts = std::move(next);
    }
    return parts;
}

} // namespace

quint64 IdPattern::size() const
{
    return quint64(1) << std::popcount(free);
}

IdPattern idPatternOf(QStringView pattern)
{
    const quint32 nonZero = PatternNonZeroBits(pattern);
    const quint32 ones = PatternOneBits(pattern);
    return {ones, nonZero & ~ones};
}

QString idPatternText(const IdPattern& pattern)
{
    return BitsToPattern(pattern.value | pattern.free, pattern.value);
}

IdPattern enclosingPattern(const IdPattern& a, const IdPattern& b)
{
    const quint32 free = a.free | b.free | (a.value ^ b.value);
    return {a.value & ~free, free};
}

quint64 overlapCount(const IdPattern& a, const IdPattern& b)
{
    if ((a.value ^ b.value) & ~a.free & ~b.free)
        return 0;
    return quint64(1) << std::popcount(a.free & b.free);
}

quint64 passedCount(const IdPattern* patterns, int count)
{
    if (count > kFastCountLimit) {
        std::vector<IdPattern> all;
        for (int i = 0; i < count; ++i)
            all.push_back(normalised(patterns[i]));
        return unionSize(all, kPatternBits);
    }
    // A pattern that another one holds adds nothing to the union.
    std::array<IdPattern, kFastCountLimit> own;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const IdPattern pattern = normalised(patterns[i]);
        bool held = false;
        for (int j = 0; j < count && !held; ++j) {
            const IdPattern other = normalised(patterns[j]);
            held = j != i && other.contains(pattern) && (!pattern.contains(other) || j < i);
        }
        if (!held)
            own[size_t(kept++)] = pattern;
    }
    if (kept <= kInclusionExclusionLimit) {
        qint64 total = 0;
        for (int i = 0; i < kept; ++i)
            total += qint64(own[size_t(i)].size()) +
                     inclusionExclusion(own.data(), kept, i + 1, own[size_t(i)], -1);
        return quint64(total);
    }
    const quint32 alive = kept == kFastCountLimit ? ~0u : (1u << kept) - 1;
    return unionOf(own.data(), alive, kPatternBits);
}

quint64 passedCount(const QList<IdPattern>& patterns)
{
    return passedCount(patterns.constData(), int(patterns.size()));
}

std::optional<IdPattern> IdPatternSet::enclosing() const
{
    if (parts.isEmpty())
        return std::nullopt;
    IdPattern all = parts.front();
    for (const IdPattern& part : parts)
        all = enclosingPattern(all, part);
    return all;
}

quint64 IdPatternSet::countWithin(const IdPattern& pattern) const
{
    if (bitmap)
        return bitmap->countWithin(pattern);
    quint64 count = 0;
    for (const IdPattern& part : parts)
        count += overlapCount(part, pattern);
    return count;
}

bool IdPatternSet::contains(quint32 id) const
{
    if (bitmap)
        return id <= kPatternBits && bitmap->contains(id);
    return std::any_of(parts.begin(), parts.end(),
                       [id](const IdPattern& part) { return part.passes(id); });
}

std::optional<IdPatternSet> patternSetOf(const QList<IdPattern>& patterns)
{
    std::vector<IdPattern> all;
    all.reserve(size_t(patterns.size()));
    for (const IdPattern& pattern : patterns)
        all.push_back(normalised(pattern));
    IdPatternSet set;
    DisjointParts parts(kMostDisjointParts);
    if (parts.collect(all, 0, 0, kPatternBits)) {
        set.parts = joinNeighbours(parts.take());
        for (const IdPattern& part : std::as_const(set.parts))
            set.count += part.size();
        return set;
    }
    std::sort(all.begin(), all.end(), [](const IdPattern& a, const IdPattern& b) {
        return std::pair(a.free, a.value) < std::pair(b.free, b.value);
    });
    all.erase(std::unique(all.begin(), all.end()), all.end());
    quint64 words = 0;
    for (const IdPattern& pattern : all)
        words += IdBitmap::wordsOf(pattern);
    if (words > kMostBitmapWords)
        return std::nullopt;
    auto bitmap = std::make_shared<IdBitmap>();
    for (const IdPattern& pattern : all)
        bitmap->add(pattern);
    set.parts = QList<IdPattern>(all.begin(), all.end());
    set.count = bitmap->count();
    set.bitmap = std::move(bitmap);
    return set;
}

IdPatternSet patternSetOfIds(const QList<quint32>& ids)
{
    QList<IdPattern> points;
    points.reserve(ids.size());
    for (const quint32 id : ids)
        points.append({id, 0});
    // Single identifiers reach one word each: the bitmap is never refused for them.
    return *patternSetOf(points);
}

QList<quint32> identifiersOf(const IdPatternSet& set)
{
    if (set.bitmap)
        return set.bitmap->identifiers();
    QList<quint32> ids;
    ids.reserve(qsizetype(set.count));
    for (const IdPattern& part : set.parts) {
        quint32 subset = 0;
        do {
            ids.append(part.value | subset);
            subset = (subset - part.free) & part.free;
        } while (subset != 0);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace quillner
