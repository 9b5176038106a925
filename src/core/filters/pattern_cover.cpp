#include "core/filters/pattern_cover.h"

#include "core/filters/mask_pattern.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <tuple>
#include <vector>

namespace quillner {

namespace {

// Beyond these the prime patterns or the cover search would take too long for a window's click;
// the split below then gives the cover.
constexpr size_t kMaxImplicants = 400000;
constexpr size_t kMaxPrimes = 20000;
constexpr long kMaxSearchNodes = 20000;

quint64 keyOf(const IdPattern& pattern)
{
    return quint64(pattern.free) << 32 | pattern.value;
}

// A set of patterns by open addressing: the prime search looks up every pattern once per bit.
class PatternSet
{
public:
    explicit PatternSet(size_t expected)
    {
        size_t capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        m_slots.assign(capacity, kEmpty);
        m_shift = 64 - std::countr_zero(capacity);
    }

    void insert(quint64 key)
    {
        size_t slot = indexOf(key);
        while (m_slots[slot] != kEmpty && m_slots[slot] != key)
            slot = (slot + 1) & (m_slots.size() - 1);
        m_slots[slot] = key;
    }

    bool contains(quint64 key) const
    {
        size_t slot = indexOf(key);
        while (m_slots[slot] != kEmpty) {
            if (m_slots[slot] == key)
                return true;
            slot = (slot + 1) & (m_slots.size() - 1);
        }
        return false;
    }

private:
    static constexpr quint64 kEmpty = ~quint64(0); // no pattern has bits above bit 60
    size_t indexOf(quint64 key) const { return size_t((key * 0x9E3779B97F4A7C15ull) >> m_shift); }

    std::vector<quint64> m_slots;
    int m_shift = 0;
};

// The prime patterns of the set: those that pass only identifiers of the set and grow no further.
// A pattern of level L+1 is made once, from its two halves split on its highest free bit.
std::optional<std::vector<IdPattern>> primePatterns(const QList<quint32>& ids)
{
    std::vector<IdPattern> primes;
    std::vector<IdPattern> level;
    level.reserve(size_t(ids.size()));
    // Only a bit in which identifiers of the set differ can be freed.
    quint32 all = kPatternBits;
    quint32 any = 0;
    for (const quint32 id : ids) {
        level.push_back({id, 0});
        all &= id;
        any |= id;
    }
    std::vector<quint32> varying;
    for (int bit = 0; bit < kPatternLength; ++bit) {
        if ((all ^ any) >> bit & 1)
            varying.push_back(1u << bit);
    }
    size_t made = level.size();
    while (!level.empty()) {
        PatternSet present(level.size());
        for (const IdPattern& pattern : level)
            present.insert(keyOf(pattern));
        std::vector<IdPattern> next;
        for (const IdPattern& pattern : level) {
            const quint32 highestFree =
                pattern.free ? 1u << (31 - std::countl_zero(pattern.free)) : 0;
            bool prime = true;
            for (const quint32 mask : varying) {
                if (pattern.free & mask)
                    continue;
                if (!present.contains(keyOf({pattern.value ^ mask, pattern.free})))
                    continue;
                prime = false;
                if (!(pattern.value & mask) && mask > highestFree)
                    next.push_back({pattern.value, pattern.free | mask});
            }
            if (prime)
                primes.push_back(pattern);
        }
        made += next.size();
        if (made > kMaxImplicants || primes.size() > kMaxPrimes)
            return std::nullopt;
        level = std::move(next);
    }
    return primes;
}

template <typename Visit> void forEachMember(const IdPattern& pattern, Visit visit)
{
    quint32 subset = 0;
    do {
        visit(pattern.value | subset);
        subset = (subset - pattern.free) & pattern.free;
    } while (subset != 0);
}

// A smallest cover of the set by prime patterns, by branch and bound: the uncovered identifier
// with the fewest primes is covered first, by each of its primes in turn.
class CoverSearch
{
public:
    CoverSearch(const QList<quint32>& ids, const std::vector<IdPattern>& primes)
        : m_primes(primes), m_covers(size_t(ids.size())), m_coverCount(size_t(ids.size()), 0)
    {
        m_members.resize(primes.size());
        for (size_t p = 0; p < primes.size(); ++p) {
            forEachMember(primes[p], [&](quint32 id) {
                const auto at = std::lower_bound(ids.begin(), ids.end(), id);
                const int index = int(at - ids.begin());
                m_members[p].push_back(index);
                m_covers[size_t(index)].push_back(int(p));
            });
            m_largest = std::max(m_largest, m_members[p].size());
        }
        m_uncovered = ids.size();
    }

    // The smallest cover of at most maxPatterns primes, if one was found.
    std::optional<QList<IdPattern>> search(int maxPatterns)
    {
        m_best = maxPatterns + 1;
        descend();
        if (m_bestChoice.empty())
            return std::nullopt;
        QList<IdPattern> cover;
        for (const int p : m_bestChoice)
            cover.append(m_primes[size_t(p)]);
        return cover;
    }

private:
    void choose(int p, int step)
    {
        for (const int index : m_members[size_t(p)]) {
            int& count = m_coverCount[size_t(index)];
            if (step > 0 && count++ == 0)
                --m_uncovered;
            else if (step < 0 && --count == 0)
                ++m_uncovered;
        }
    }

    int newlyCovered(int p) const
    {
        int count = 0;
        for (const int index : m_members[size_t(p)])
            count += m_coverCount[size_t(index)] == 0;
        return count;
    }

    void descend()
    {
        if (++m_nodes > kMaxSearchNodes)
            return;
        if (m_uncovered == 0) {
            if (int(m_chosen.size()) < m_best) {
                m_best = int(m_chosen.size());
                m_bestChoice = m_chosen;
            }
            return;
        }
        const qsizetype bound = qsizetype(m_chosen.size()) +
                                (m_uncovered + qsizetype(m_largest) - 1) / qsizetype(m_largest);
        if (bound >= m_best)
            return;
        size_t hardest = 0;
        size_t fewest = SIZE_MAX;
        for (size_t index = 0; index < m_covers.size(); ++index) {
            if (m_coverCount[index] == 0 && m_covers[index].size() < fewest) {
                fewest = m_covers[index].size();
                hardest = index;
            }
        }
        std::vector<std::pair<int, int>> options; // (newly covered, prime)
        for (const int p : m_covers[hardest])
            options.push_back({newlyCovered(p), p});
        std::sort(options.begin(), options.end(), std::greater<>());
        for (const auto& option : options) {
            m_chosen.push_back(option.second);
            choose(option.second, +1);
            descend();
            choose(option.second, -1);
            m_chosen.pop_back();
        }
    }

    const std::vector<IdPattern>& m_primes;
    std::vector<std::vector<int>> m_members; // per prime, the indexes of its identifiers
    std::vector<std::vector<int>> m_covers;  // per identifier, the primes that pass it
    std::vector<int> m_coverCount;
    size_t m_largest = 1;
    qsizetype m_uncovered = 0;
    std::vector<int> m_chosen;
    std::vector<int> m_bestChoice;
    int m_best = 0;
    long m_nodes = 0;
};

// A part of the set while it is split: its pieces, and the smallest pattern that passes them.
struct Part
{
    std::vector<IdPattern> pieces;
    IdPattern pattern;
    quint64 count = 0;
    quint64 extras() const { return pattern.size() - count; }
};

// The smallest pattern over pieces: the bits that all their identifiers have set are fixed to 1,
// those that none has set to 0, the others free.
struct Enclosing
{
    quint32 all = kPatternBits;
    quint32 any = 0;

    void add(const IdPattern& piece)
    {
        all &= piece.value;
        any |= piece.value | piece.free;
    }
    IdPattern pattern() const { return {all, all ^ any}; }
};

// The parts are cut along fixed bits, so the identifiers of the set in a part's pattern are its
// pieces' identifiers.
Part makePart(const IdPatternSet& set, std::vector<IdPattern> pieces)
{
    Enclosing enclosing;
    quint64 count = 0;
    for (const IdPattern& piece : pieces) {
        enclosing.add(piece);
        count += piece.size();
    }
    Part part;
    part.pattern = enclosing.pattern();
    part.count = set.overlapping() ? set.countWithin(part.pattern) : count;
    part.pieces = std::move(pieces);
    return part;
}

// A piece on one side of a bit: the piece itself, or its half when the bit is free in it.
IdPattern sideOf(const IdPattern& piece, quint32 bit, int side)
{
    if (!(piece.free & bit))
        return piece;
    return {piece.value | (side ? bit : 0), piece.free & ~bit};
}

// Without an exact cover: the set starts as one pattern, and the split that lets the fewest extra
// identifiers through is made, one at a time, until the patterns are used up. A split that saves
// nothing at once is still made when nothing better is left, on the part with the most extras and
// its highest free bit, since the halves it makes may be split with gain later (a range needs
// that). The parts never overlap, so a split saves what its two patterns pass less than the one
// they replace.
QList<IdPattern> splitCover(const IdPatternSet& set, int maxPatterns)
{
    std::vector<Part> parts;
    parts.push_back(makePart(set, std::vector<IdPattern>(set.parts.begin(), set.parts.end())));
    while (int(parts.size()) < maxPatterns) {
        // (gain, part's extras, bit): the largest wins.
        std::tuple<quint64, quint64, int> best{0, 0, -1};
        size_t bestPart = 0;
        for (size_t p = 0; p < parts.size(); ++p) {
            const Part& part = parts[p];
            if (part.extras() == 0)
                continue;
            for (int bit = 0; bit < kPatternLength; ++bit) {
                const quint32 mask = 1u << bit;
                if (!(part.pattern.free & mask))
                    continue;
                Enclosing sides[2];
                for (const IdPattern& piece : part.pieces) {
                    if (piece.free & mask) {
                        sides[0].add(sideOf(piece, mask, 0));
                        sides[1].add(sideOf(piece, mask, 1));
                    } else {
                        sides[(piece.value & mask) ? 1 : 0].add(piece);
                    }
                }
                const quint64 gain =
                    part.pattern.size() - sides[0].pattern().size() - sides[1].pattern().size();
                const std::tuple<quint64, quint64, int> candidate{gain, part.extras(), bit};
                if (candidate > best) {
                    best = candidate;
                    bestPart = p;
                }
            }
        }
        if (std::get<2>(best) < 0)
            break;
        const quint32 bit = 1u << std::get<2>(best);
        std::vector<IdPattern> zero;
        std::vector<IdPattern> one;
        for (const IdPattern& piece : parts[bestPart].pieces) {
            if (piece.free & bit) {
                zero.push_back(sideOf(piece, bit, 0));
                one.push_back(sideOf(piece, bit, 1));
            } else {
                ((piece.value & bit) ? one : zero).push_back(piece);
            }
        }
        parts[bestPart] = makePart(set, std::move(zero));
        parts.push_back(makePart(set, std::move(one)));
    }
    QList<IdPattern> cover;
    for (const Part& part : parts)
        cover.append(part.pattern);
    return cover;
}

} // namespace

QList<IdPattern> primeCoverOrSplit(const IdPatternSet& set, int maxPatterns)
{
    if (set.parts.isEmpty() || maxPatterns <= 0)
        return {};
    // A set larger than the prime patterns may grow to has too many of them to search.
    if (set.count <= kMaxImplicants) {
        const QList<quint32> ids = identifiersOf(set);
        if (const auto primes = primePatterns(ids)) {
            if (const auto exact = CoverSearch(ids, *primes).search(maxPatterns))
                return *exact;
        }
    }
    return splitCover(set, maxPatterns);
}

} // namespace quillner
