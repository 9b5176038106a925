#include "core/filters/pattern_groups.h"

#include "core/filters/mask_pattern.h"

#include <algorithm>
#include <array>
#include <bit>
#include <tuple>
#include <vector>

namespace quillner {

namespace {

// Pairwise merging compares every two groups: beyond this many parts it would take seconds.
constexpr qsizetype kMostMergedParts = 1024;
// Moves look at every part for every group; beyond this many parts, or this many looks, the
// cover is kept as it stands.
constexpr qsizetype kMostMovedParts = 20000;
constexpr qint64 kMostMoveLooks = 400000;
// Parts squared times recorded identifiers: beyond this, counting the frames of every pair of
// groups would take more than a fraction of a second.
constexpr double kMostMergeFrameLooks = 5e6;

// What joining two groups adds: (free bits of the joined pattern, or 0 when the order does not
// look at them; frames added; identifiers added). The smallest is joined first.
using MergeKey = std::tuple<qint64, qint64, qint64>;

struct MergeGroup
{
    IdPattern pattern;
    quint64 frames = 0;
    bool alive = true;
    int partner = -1;
    MergeKey key;
};

class Merger
{
public:
    Merger(const FitJudge& judge, MergeOrder order) : m_judge(judge), m_order(order)
    {
        const double parts = double(judge.set().parts.size());
        m_byFrames =
            judge.byFrames() && parts * parts * double(judge.recordedIds()) <= kMostMergeFrameLooks;
        for (const IdPattern& part : judge.set().parts)
            m_groups.push_back({part, m_byFrames ? judge.framesIn(part) : 0, true, -1, {}});
    }

    QList<IdPattern> run(int maxPatterns)
    {
        qsizetype alive = qsizetype(m_groups.size());
        for (size_t i = 0; i < m_groups.size(); ++i)
            findPartner(int(i));
        while (alive > maxPatterns) {
            int first = -1;
            for (size_t i = 0; i < m_groups.size(); ++i) {
                const MergeGroup& group = m_groups[i];
                if (group.alive && group.partner >= 0 &&
                    (first < 0 || group.key < m_groups[size_t(first)].key))
                    first = int(i);
            }
            std::vector<int> gone{m_groups[size_t(first)].partner};
            join(first, gone.front());
            // A group inside the joined pattern adds nothing to it.
            for (size_t g = 0; g < m_groups.size(); ++g) {
                if (m_groups[g].alive && int(g) != first &&
                    m_groups[size_t(first)].pattern.contains(m_groups[g].pattern)) {
                    join(first, int(g));
                    gone.push_back(int(g));
                }
            }
            alive -= qsizetype(gone.size());
            findPartner(first);
            for (size_t g = 0; g < m_groups.size(); ++g) {
                MergeGroup& group = m_groups[g];
                if (!group.alive || int(g) == first)
                    continue;
                if (group.partner == first ||
                    std::find(gone.begin(), gone.end(), group.partner) != gone.end()) {
                    findPartner(int(g));
                    continue;
                }
                const MergeKey key = keyOf(int(g), first);
                if (key < group.key || (key == group.key && first < group.partner)) {
                    group.key = key;
                    group.partner = first;
                }
            }
        }
        QList<IdPattern> cover;
        for (const MergeGroup& group : m_groups) {
            if (group.alive)
                cover.append(group.pattern);
        }
        return cover;
    }

private:
    MergeKey keyOf(int a, int b) const
    {
        const MergeGroup& one = m_groups[size_t(a)];
        const MergeGroup& other = m_groups[size_t(b)];
        const IdPattern joined = enclosingPattern(one.pattern, other.pattern);
        const qint64 frames = m_byFrames ? qint64(m_judge.framesIn(joined)) - qint64(one.frames) -
                                               qint64(other.frames)
                                         : 0;
        const qint64 identifiers =
            qint64(joined.size()) - qint64(one.pattern.size()) - qint64(other.pattern.size());
        const qint64 freeBits =
            m_order == MergeOrder::FewestFreeBits ? std::popcount(joined.free) : 0;
        return {freeBits, frames, identifiers};
    }

    void findPartner(int index)
    {
        MergeGroup& group = m_groups[size_t(index)];
        group.partner = -1;
        for (size_t other = 0; other < m_groups.size(); ++other) {
            if (int(other) == index || !m_groups[other].alive)
                continue;
            const MergeKey key = keyOf(index, int(other));
            if (group.partner < 0 || key < group.key) {
                group.key = key;
                group.partner = int(other);
            }
        }
    }

    void join(int into, int from)
    {
        MergeGroup& target = m_groups[size_t(into)];
        target.pattern = enclosingPattern(target.pattern, m_groups[size_t(from)].pattern);
        target.frames = m_byFrames ? m_judge.framesIn(target.pattern) : 0;
        m_groups[size_t(from)].alive = false;
    }

    const FitJudge& m_judge;
    MergeOrder m_order;
    bool m_byFrames = false;
    std::vector<MergeGroup> m_groups;
};

// The pieces of a group as counts per bit, so that a piece leaves or joins it in a few steps and
// its smallest pattern is read off the counts.
struct GroupBits
{
    std::array<int, kPatternLength> ones{};
    std::array<int, kPatternLength> zeros{};
    std::array<int, kPatternLength> frees{};
    int pieces = 0;

    void change(const IdPattern& piece, int step)
    {
        for (int bit = 0; bit < kPatternLength; ++bit) {
            const quint32 mask = 1u << bit;
            if (piece.free & mask)
                frees[size_t(bit)] += step;
            else if (piece.value & mask)
                ones[size_t(bit)] += step;
            else
                zeros[size_t(bit)] += step;
        }
        pieces += step;
    }

    IdPattern pattern() const
    {
        IdPattern result;
        for (int bit = 0; bit < kPatternLength; ++bit) {
            const size_t b = size_t(bit);
            if (frees[b] > 0 || (ones[b] > 0 && zeros[b] > 0))
                result.free |= 1u << bit;
            else if (ones[b] > 0)
                result.value |= 1u << bit;
        }
        return result;
    }
};

struct Piece
{
    IdPattern pattern;
    int group = 0;
};

// Cuts a part of the set until each piece lies inside one pattern of the cover, and gives each
// piece to the first such pattern. False when the pieces would be too many.
bool cutToCover(const IdPattern& part, const QList<IdPattern>& cover, std::vector<Piece>& pieces)
{
    for (qsizetype p = 0; p < cover.size(); ++p) {
        if (cover[p].contains(part)) {
            pieces.push_back({part, int(p)});
            return true;
        }
    }
    if (qsizetype(pieces.size()) >= kMostMovedParts)
        return false;
    // A part that no one pattern holds overlaps one that fixes a bit free in the part.
    quint32 cuts = 0;
    for (const IdPattern& pattern : cover) {
        if (overlapCount(pattern, part) > 0)
            cuts |= part.free & ~pattern.free;
    }
    Q_ASSERT(cuts != 0);
    const quint32 bit = 1u << (31 - std::countl_zero(cuts));
    const IdPattern half{part.value, part.free & ~bit};
    return cutToCover(half, cover, pieces) &&
           cutToCover({half.value | bit, half.free}, cover, pieces);
}

} // namespace

FitCost FitJudge::costOf(const IdPattern* patterns, int count) const
{
    FitCost cost;
    cost.identifiers = passedCount(patterns, count) - m_set.count;
    if (m_traffic)
        cost.frames = m_traffic->framesIn(patterns, count);
    return cost;
}

std::optional<QList<IdPattern>> mergeParts(const FitJudge& judge, int maxPatterns, MergeOrder order)
{
    if (judge.set().parts.size() > kMostMergedParts)
        return std::nullopt;
    return Merger(judge, order).run(maxPatterns);
}

QList<IdPattern> improveByMoves(const FitJudge& judge, const QList<IdPattern>& cover,
                                int maxPatterns)
{
    const int slots = std::min(std::max(int(cover.size()), maxPatterns), kMostFittedPatterns);
    if (cover.isEmpty() || cover.size() > slots)
        return cover;
    std::vector<Piece> pieces;
    for (const IdPattern& part : judge.set().parts) {
        if (!cutToCover(part, cover, pieces))
            return cover;
    }
    std::vector<GroupBits> groups(static_cast<size_t>(slots));
    for (const Piece& piece : pieces)
        groups[size_t(piece.group)].change(piece.pattern, +1);
    std::array<IdPattern, kMostFittedPatterns> patterns{};
    for (int g = 0; g < slots; ++g)
        patterns[size_t(g)] = groups[size_t(g)].pattern();

    // The cost of the patterns of the groups that hold a piece, with one or two of them replaced.
    std::array<IdPattern, kMostFittedPatterns> trial{};
    const auto costWith = [&](int a, const IdPattern* aPattern, int b, const IdPattern& bPattern) {
        int count = 0;
        for (int g = 0; g < slots; ++g) {
            if (g == a) {
                if (aPattern)
                    trial[size_t(count++)] = *aPattern;
            } else if (g == b) {
                trial[size_t(count++)] = bPattern;
            } else if (groups[size_t(g)].pieces > 0) {
                trial[size_t(count++)] = patterns[size_t(g)];
            }
        }
        return judge.costOf(trial.data(), count);
    };

    FitCost current = costWith(-1, nullptr, -1, {});
    qint64 looks = 0;
    bool improved = true;
    while (improved && looks < kMostMoveLooks) {
        improved = false;
        for (Piece& piece : pieces) {
            const int from = piece.group;
            GroupBits& source = groups[size_t(from)];
            source.change(piece.pattern, -1);
            const IdPattern shrunk = source.pattern();
            const bool emptied = source.pieces == 0;
            // A piece whose leaving does not shrink its pattern cannot lower the cost by moving.
            if (!emptied && shrunk == patterns[size_t(from)]) {
                source.change(piece.pattern, +1);
                continue;
            }
            FitCost best = current;
            int bestGroup = -1;
            IdPattern bestPattern;
            bool triedEmpty = false;
            for (int g = 0; g < slots; ++g) {
                if (g == from)
                    continue;
                const bool empty = groups[size_t(g)].pieces == 0;
                // One empty group stands for all of them.
                if (empty && (triedEmpty || emptied))
                    continue;
                triedEmpty = triedEmpty || empty;
                const IdPattern grown =
                    empty ? piece.pattern : enclosingPattern(patterns[size_t(g)], piece.pattern);
                ++looks;
                const FitCost cost = costWith(from, emptied ? nullptr : &shrunk, g, grown);
                if (cost < best) {
                    best = cost;
                    bestGroup = g;
                    bestPattern = grown;
                }
            }
            if (bestGroup < 0) {
                source.change(piece.pattern, +1);
                continue;
            }
            groups[size_t(bestGroup)].change(piece.pattern, +1);
            patterns[size_t(from)] = shrunk;
            patterns[size_t(bestGroup)] = bestPattern;
            piece.group = bestGroup;
            current = best;
            improved = true;
        }
    }
    QList<IdPattern> result;
    for (int g = 0; g < slots; ++g) {
        if (groups[size_t(g)].pieces > 0)
            result.append(patterns[size_t(g)]);
    }
    return result;
}

} // namespace quillner
