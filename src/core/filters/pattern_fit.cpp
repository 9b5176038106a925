#include "core/filters/pattern_fit.h"

#include "core/filters/filter_entries.h"
#include "core/filters/pattern_bound.h"
#include "core/filters/pattern_cover.h"
#include "core/filters/pattern_groups.h"

#include <algorithm>

namespace quillner {

namespace {

// The best cover met so far: the lower cost, then the fewer patterns, then the one met first.
struct BestCover
{
    QList<IdPattern> patterns;
    FitCost cost;

    void offer(const FitJudge& judge, const QList<IdPattern>& candidate)
    {
        const FitCost candidateCost = judge.costOf(candidate);
        if (patterns.isEmpty() || candidateCost < cost ||
            (candidateCost == cost && candidate.size() < patterns.size())) {
            patterns = candidate;
            cost = candidateCost;
        }
    }
};

PatternFit fitOf(const BestCover& best, bool byFrames)
{
    PatternFit fit;
    fit.patterns = best.patterns;
    fit.extras = best.cost.identifiers;
    fit.extraFrames = best.cost.frames;
    fit.byFrames = byFrames;
    return fit;
}

} // namespace

quint64 extraCount(const QList<IdPattern>& patterns, const QList<quint32>& ids)
{
    quint64 inSet = 0;
    for (const quint32 id : ids) {
        inSet += std::any_of(patterns.begin(), patterns.end(),
                             [id](const IdPattern& pattern) { return pattern.passes(id); });
    }
    return passedCount(patterns) - inSet;
}

PatternFit fitPatterns(const IdPatternSet& set, int maxPatterns, const ExtraTraffic* traffic)
{
    maxPatterns = std::min(maxPatterns, kMostFittedPatterns);
    if (set.parts.isEmpty() || maxPatterns <= 0)
        return {};
    const FitJudge judge(set, traffic);
    BestCover best;
    best.offer(judge, primeCoverOrSplit(set, maxPatterns));
    if (set.parts.size() <= maxPatterns)
        best.offer(judge, set.parts);
    if (best.cost != FitCost{}) {
        best.offer(judge, improveByMoves(judge, best.patterns, maxPatterns));
        for (const MergeOrder order : {MergeOrder::FewestAdded, MergeOrder::FewestFreeBits}) {
            if (const auto merged = mergeParts(judge, maxPatterns, order))
                best.offer(judge, improveByMoves(judge, *merged, maxPatterns));
        }
    }
    const FitBound bound = boundFit(judge, maxPatterns, best.cost);
    if (bound.better)
        best.offer(judge, *bound.better);
    PatternFit fit = fitOf(best, judge.byFrames());
    fit.lowerBound = judge.byFrames() ? bound.lowest.frames : bound.lowest.identifiers;
    return fit;
}

PatternFit fitPatterns(const QList<quint32>& ids, int maxPatterns)
{
    return fitPatterns(patternSetOfIds(ids), maxPatterns);
}

PatternFit fitPatternsFirstWay(const QList<quint32>& ids, int maxPatterns)
{
    const IdPatternSet set = patternSetOfIds(ids);
    const FitJudge judge(set, nullptr);
    BestCover best;
    best.offer(judge, primeCoverOrSplit(set, maxPatterns));
    return fitOf(best, false);
}

FilterForm chooseFilterForm(const IdPatternSet& set, int maxPatterns, const ExtraTraffic* traffic)
{
    FilterForm form;
    if (set.count <= quint64(kCobIdListMax)) {
        form.identifierList = true;
        form.identifiers = identifiersOf(set);
        return form;
    }
    form.fit = fitPatterns(set, maxPatterns, traffic);
    return form;
}

FilterForm chooseFilterForm(const QList<quint32>& ids, int maxPatterns)
{
    return chooseFilterForm(patternSetOfIds(ids), maxPatterns, nullptr);
}

} // namespace quillner
