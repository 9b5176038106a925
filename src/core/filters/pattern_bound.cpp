#include "core/filters/pattern_bound.h"

#include "core/filters/pattern_exact.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace quillner {

namespace {

// Sets of at most this many identifiers are searched exactly, and sets of up to 100 when they go
// into at most three patterns, where each identifier has few groups to choose from. A search of
// this many steps takes a few tens of milliseconds for 100 identifiers and ends every J1939-like
// set of that size tried; sets spread evenly over the 29 bits may take more and are then left to
// the other ways, with what the search found so far.
constexpr quint64 kMostSearchedIds = 20;
constexpr quint64 kMostSearchedIdsInFewPatterns = 100;
constexpr int kFewPatterns = 3;
constexpr qint64 kMostSearchSteps = 30000;
// Each step counts a recording's frames too: per this many recorded identifiers, the steps are
// fewer by one more share.
constexpr qint64 kRecordedIdsPerStepShare = 256;
// Points of the set compared for the pigeonhole bound, at most.
constexpr qsizetype kMostCandidates = 4096;
constexpr int kStarts = 8;
constexpr qsizetype kMostCostSpreadParts = 128;
constexpr qsizetype kMostPartsForTriples = 8192;

qint64 searchSteps(const FitJudge& judge)
{
    return kMostSearchSteps / (1 + judge.recordedIds() / kRecordedIdsPerStepShare);
}

// What the smallest pattern passing the points lets through beyond the set.
FitCost enclosingCost(const FitJudge& judge, const quint32* points, int count)
{
    IdPattern pattern{points[0], 0};
    for (int i = 1; i < count; ++i)
        pattern = enclosingPattern(pattern, {points[i], 0});
    return {judge.framesIn(pattern), pattern.size() - judge.set().countWithin(pattern)};
}

FitCost smaller(FitCost a, FitCost b)
{
    return {std::min(a.frames, b.frames), std::min(a.identifiers, b.identifiers)};
}

FitCost larger(FitCost a, FitCost b)
{
    return {std::max(a.frames, b.frames), std::max(a.identifiers, b.identifiers)};
}

// Points of the set chosen far apart: each next one is the candidate whose nearest chosen point
// is farthest from it, by the distance given.
template <typename Distance>
std::vector<quint32> spreadPoints(const std::vector<quint32>& candidates, size_t start,
                                  size_t wanted, Distance distance)
{
    using Value = decltype(distance(0u, 0u));
    std::vector<quint32> chosen{candidates[start]};
    std::vector<std::optional<Value>> nearest(candidates.size());
    while (chosen.size() < wanted) {
        size_t farthest = start;
        for (size_t c = 0; c < candidates.size(); ++c) {
            const Value next = distance(candidates[c], chosen.back());
            if (!nearest[c] || next < *nearest[c])
                nearest[c] = next;
            if (*nearest[c] > *nearest[farthest])
                farthest = c;
        }
        if (*nearest[farthest] == Value{})
            break;
        chosen.push_back(candidates[farthest]);
    }
    return chosen;
}

// The least over all pairs of the first maxPatterns + 1 points, and over all triples of the
// first 2 * maxPatterns + 1, of what their smallest pattern passes beyond the set.
FitCost boundOfPoints(const FitJudge& judge, const std::vector<quint32>& points, int maxPatterns)
{
    const size_t pairPoints = size_t(maxPatterns) + 1;
    const size_t triplePoints = 2 * size_t(maxPatterns) + 1;
    if (points.size() < pairPoints)
        return {};
    FitCost pairs{~0ull, ~0ull};
    for (size_t a = 0; a < pairPoints; ++a) {
        for (size_t b = a + 1; b < pairPoints; ++b) {
            const quint32 two[] = {points[a], points[b]};
            pairs = smaller(pairs, enclosingCost(judge, two, 2));
        }
    }
    if (points.size() < triplePoints)
        return pairs;
    FitCost triples{~0ull, ~0ull};
    for (size_t a = 0; a < triplePoints; ++a) {
        for (size_t b = a + 1; b < triplePoints; ++b) {
            for (size_t c = b + 1; c < triplePoints; ++c) {
                const quint32 three[] = {points[a], points[b], points[c]};
                triples = smaller(triples, enclosingCost(judge, three, 3));
            }
        }
    }
    return larger(pairs, triples);
}

// Any fit gives each chosen point to a pattern that passes it. Of maxPatterns + 1 points, two
// share a pattern, which passes at least what the smallest pattern over those two passes beyond
// the set; of 2 * maxPatterns + 1 points, three share one. So the least over all pairs (or all
// triples) of the chosen points bounds every fit from below.
FitCost pigeonholeBound(const FitJudge& judge, int maxPatterns)
{
    std::vector<quint32> candidates;
    for (const IdPattern& part : judge.set().parts) {
        if (qsizetype(candidates.size()) >= kMostCandidates)
            break;
        candidates.push_back(part.value);
        if (part.free != 0)
            candidates.push_back(part.value | part.free);
    }
    // Points far apart by their bits are cheap to choose; by what their pattern passes is
    // better, but it counts the set for every two, so it is done for sets of few parts only.
    // Counting a recording's frames takes longer: fewer choices are tried with one.
    const bool byCost = !judge.byFrames() && judge.set().parts.size() <= kMostCostSpreadParts;
    // Each pair or triple counts the set within its pattern, part by part: a set of many parts
    // is judged by the pairs of one choice of points only.
    const bool manyParts = judge.set().parts.size() > kMostPartsForTriples;
    const int starts = manyParts ? 1 : judge.byFrames() ? kStarts / 2 : kStarts;
    const size_t wanted = (manyParts ? 1 : 2) * size_t(maxPatterns) + 1;
    FitCost bound;
    for (int start = 0; start < starts; ++start) {
        const size_t first = candidates.size() * size_t(start) / size_t(starts);
        bound = larger(bound, boundOfPoints(judge,
                                            spreadPoints(candidates, first, wanted,
                                                         [](quint32 a, quint32 b) {
                                                             return std::popcount(a ^ b);
                                                         }),
                                            maxPatterns));
        if (byCost) {
            const auto cost = [&](quint32 a, quint32 b) {
                const quint32 two[] = {a, b};
                return enclosingCost(judge, two, 2);
            };
            bound =
                larger(bound, boundOfPoints(judge, spreadPoints(candidates, first, wanted, cost),
                                            maxPatterns));
        }
    }
    return bound;
}

} // namespace

FitBound boundFit(const FitJudge& judge, int maxPatterns, FitCost bestCost)
{
    FitBound result;
    const IdPatternSet& set = judge.set();
    if (bestCost == FitCost{} || set.parts.isEmpty())
        return result;
    // One pattern that passes the set passes at least the smallest one that does.
    if (maxPatterns == 1) {
        const IdPattern all = *set.enclosing();
        result.lowest = {judge.framesIn(all), all.size() - set.count};
        return result;
    }
    // Counting the set within a pattern through the bitmap takes too long for every pair.
    if (!set.overlapping())
        result.lowest = pigeonholeBound(judge, maxPatterns);
    if (set.count <= kMostSearchedIds ||
        (maxPatterns <= kFewPatterns && set.count <= kMostSearchedIdsInFewPatterns)) {
        const ExactFit search =
            searchGroupsExactly(judge, maxPatterns, bestCost, searchSteps(judge));
        result.better = search.better;
        if (search.complete) {
            // The search orders fits by frames first: what it proves of the identifiers holds
            // only without a recording.
            result.lowest = larger(
                result.lowest, judge.byFrames() ? FitCost{search.lowest.frames, 0} : search.lowest);
        }
    }
    return result;
}

} // namespace quillner
