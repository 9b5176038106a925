#include "core/filters/pattern_exact.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <vector>

namespace quillner {

namespace {

quint64 sizeOf(const IdPattern& pattern)
{
    return quint64(1) << std::popcount(pattern.free);
}

// The identifiers both patterns pass, as a pattern; `free` all ones stands for none.
IdPattern meet(const IdPattern& a, const IdPattern& b, bool& empty)
{
    empty = ((a.value ^ b.value) & ~a.free & ~b.free) != 0;
    const quint32 free = a.free & b.free;
    return {(a.value | b.value) & ~free, free};
}

// The union of the groups' patterns. The search counts it for every identifier and group it
// weighs, so up to three patterns are counted by inclusion and exclusion in place.
quint64 unionSize(const IdPattern* patterns, int count)
{
    switch (count) {
    case 0:
        return 0;
    case 1:
        return sizeOf(patterns[0]);
    case 2: {
        bool empty = false;
        const IdPattern both = meet(patterns[0], patterns[1], empty);
        return sizeOf(patterns[0]) + sizeOf(patterns[1]) - (empty ? 0 : sizeOf(both));
    }
    case 3: {
        quint64 total = sizeOf(patterns[0]) + sizeOf(patterns[1]) + sizeOf(patterns[2]);
        bool emptyAB = false;
        bool emptyAC = false;
        bool emptyBC = false;
        bool emptyABC = false;
        const IdPattern ab = meet(patterns[0], patterns[1], emptyAB);
        const IdPattern ac = meet(patterns[0], patterns[2], emptyAC);
        const IdPattern bc = meet(patterns[1], patterns[2], emptyBC);
        total -=
            (emptyAB ? 0 : sizeOf(ab)) + (emptyAC ? 0 : sizeOf(ac)) + (emptyBC ? 0 : sizeOf(bc));
        if (!emptyAB && !emptyAC) {
            const IdPattern abc = meet(ab, patterns[2], emptyABC);
            total += emptyABC ? 0 : sizeOf(abc);
        }
        return total;
    }
    default:
        return passedCount(patterns, count);
    }
}

// Gives the set's identifiers to groups one at a time, always the identifier whose cheapest
// group costs most, cut off where a lower bound reaches the best cost known.
//
// Two facts keep it small. An identifier that a group's pattern already passes joins that group:
// its pattern does not grow, and any other group it could join only grows, so no fit is lost.
// And every identifier still to be given must join some group, so the cost of the cheapest
// group for the identifier that is worst placed bounds every fit below the node.
class GroupSearch
{
public:
    GroupSearch(const FitJudge& judge, int maxPatterns, FitCost bestCost, qint64 mostSteps)
        : m_judge(judge), m_maxPatterns(maxPatterns), m_best(bestCost), m_mostSteps(mostSteps),
          m_ids(identifiersOf(judge.set())), m_open(size_t(m_ids.size()) + 1)
    {
        for (auto& level : m_open)
            level.reserve(size_t(m_ids.size()));
    }

    ExactFit run()
    {
        m_open[0].assign(m_ids.begin(), m_ids.end());
        descend(0, 0);
        return {m_steps <= m_mostSteps, m_best, m_better};
    }

private:
    // A way to place an identifier: into group `group` (the next free one opens a new group),
    // and the identifier count of the lower bound that follows.
    struct Option
    {
        int group = 0;
        qint64 identifiers = 0;
    };

    qint64 setCount() const { return qint64(m_ids.size()); }

    // The union of the groups' patterns with `grown` in place of group g.
    quint64 unionWith(int groups, int g, const IdPattern& grown)
    {
        const IdPattern before = m_groups[size_t(g)];
        m_groups[size_t(g)] = grown;
        const quint64 passed = unionSize(m_groups.data(), std::max(groups, g + 1));
        m_groups[size_t(g)] = before;
        return passed;
    }

    // The identifiers still to be given that `grown` does not pass.
    static qint64 outside(const IdPattern& grown, const std::vector<quint32>& open)
    {
        qint64 count = 0;
        for (const quint32 id : open)
            count += !grown.passes(id);
        return count;
    }

    // The identifiers the node's bound counts beyond the set once `grown` replaces group g: the
    // union of the patterns, and every identifier still to be given that it does not pass.
    qint64 boundWith(int groups, int g, const IdPattern& grown, const std::vector<quint32>& open)
    {
        return qint64(unionWith(groups, g, grown)) + outside(grown, open) - setCount();
    }

    IdPattern grownBy(int groups, int g, quint32 id) const
    {
        return g < groups ? enclosingPattern(m_groups[size_t(g)], {id, 0}) : IdPattern{id, 0};
    }

    struct Choice
    {
        size_t index = 0;
        qint64 cheapest = 0; // the least bound of placing it
    };

    // While a group can still be opened, placing any identifier costs nothing yet: the one whose
    // nearest group would grow most is placed first, as it most likely opens a group of its own.
    Choice farthest(int groups, const std::vector<quint32>& open)
    {
        Choice chosen;
        quint64 chosenNearest = 0;
        for (size_t i = 0; i < open.size() && groups > 0; ++i) {
            quint64 nearest = ~quint64(0);
            for (int g = 0; g < groups; ++g)
                nearest = std::min(nearest, unionWith(groups, g, grownBy(groups, g, open[i])));
            if (i == 0 || nearest > chosenNearest) {
                chosen.index = i;
                chosenNearest = nearest;
            }
        }
        chosen.cheapest =
            qint64(unionSize(m_groups.data(), groups)) + qint64(open.size()) - setCount();
        return chosen;
    }

    // With every group open, the identifier whose cheapest group costs most. What the grown
    // pattern takes in of the identifiers still open changes a bound by less than their number:
    // it is counted only where the union alone cannot settle the choice.
    Choice worstPlaced(int groups, const std::vector<quint32>& open, qint64 bound)
    {
        Choice chosen{0, -1};
        const qint64 others = qint64(open.size()) - 1;
        std::array<qint64, kMostFittedPatterns> unions{};
        std::array<IdPattern, kMostFittedPatterns> grown{};
        for (size_t i = 0; i < open.size(); ++i) {
            qint64 mostCheapest = std::numeric_limits<qint64>::max();
            for (int g = 0; g < groups; ++g) {
                grown[size_t(g)] = grownBy(groups, g, open[i]);
                unions[size_t(g)] = qint64(unionWith(groups, g, grown[size_t(g)])) - setCount();
                mostCheapest = std::min(mostCheapest, unions[size_t(g)] + others);
            }
            if (mostCheapest <= chosen.cheapest)
                continue;
            qint64 cheapest = std::numeric_limits<qint64>::max();
            for (int g = 0; g < groups && cheapest > chosen.cheapest; ++g) {
                if (unions[size_t(g)] < cheapest)
                    cheapest =
                        std::min(cheapest, unions[size_t(g)] + outside(grown[size_t(g)], open));
            }
            if (cheapest > chosen.cheapest)
                chosen = {i, cheapest};
        }
        chosen.cheapest = std::max(chosen.cheapest, bound);
        return chosen;
    }

    void descend(int depth, int groups)
    {
        if (++m_steps > m_mostSteps)
            return;
        const std::vector<quint32>& open = m_open[size_t(depth)];
        const qint64 bound =
            qint64(unionSize(m_groups.data(), groups)) + qint64(open.size()) - setCount();
        const quint64 frames = m_judge.framesIn(m_groups.data(), groups);
        if (FitCost{frames, quint64(bound)} >= m_best)
            return;
        if (open.empty()) {
            m_best = {frames, quint64(bound)};
            m_better = QList<IdPattern>(m_groups.begin(), m_groups.begin() + groups);
            return;
        }
        const int choices = std::min(groups + 1, m_maxPatterns);
        const auto [chosen, chosenCheapest] =
            groups < m_maxPatterns ? farthest(groups, open) : worstPlaced(groups, open, bound);
        // The frames counted so far only grow: they bound every fit below, with the identifiers.
        if (FitCost{frames, quint64(chosenCheapest)} >= m_best)
            return;
        const quint32 id = open[chosen];
        std::array<Option, kMostFittedPatterns> options{};
        for (int g = 0; g < choices; ++g)
            options[size_t(g)] = {g, g < groups ? boundWith(groups, g, grownBy(groups, g, id), open)
                                                : bound};
        std::stable_sort(
            options.begin(), options.begin() + choices,
            [](const Option& a, const Option& b) { return a.identifiers < b.identifiers; });
        std::vector<quint32>& next = m_open[size_t(depth) + 1];
        for (int o = 0; o < choices; ++o) {
            const Option& option = options[size_t(o)];
            if (FitCost{frames, quint64(option.identifiers)} >= m_best)
                break;
            const IdPattern before = m_groups[size_t(option.group)];
            const IdPattern grown = grownBy(groups, option.group, id);
            next.clear();
            for (const quint32 other : open) {
                if (!grown.passes(other))
                    next.push_back(other);
            }
            m_groups[size_t(option.group)] = grown;
            descend(depth + 1, std::max(groups, option.group + 1));
            m_groups[size_t(option.group)] = before;
            if (m_steps > m_mostSteps)
                return;
        }
    }

    const FitJudge& m_judge;
    int m_maxPatterns;
    FitCost m_best;
    qint64 m_mostSteps;
    QList<quint32> m_ids;
    // The identifiers not yet given to a group and passed by none of their patterns, per depth.
    std::vector<std::vector<quint32>> m_open;
    std::array<IdPattern, kMostFittedPatterns> m_groups{};
    std::optional<QList<IdPattern>> m_better;
    qint64 m_steps = 0;
};

} // namespace

ExactFit searchGroupsExactly(const FitJudge& judge, int maxPatterns, FitCost bestCost,
                             qint64 mostSteps)
{
    maxPatterns = std::min(maxPatterns, kMostFittedPatterns);
    if (maxPatterns <= 0 || judge.set().parts.isEmpty())
        return {};
    return GroupSearch(judge, maxPatterns, bestCost, mostSteps).run();
}

} // namespace quillner
