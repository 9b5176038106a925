#pragma once

#include "core/filters/pattern_groups.h"

namespace quillner {

// How good a fit is: no fit of at most maxPatterns patterns lets fewer frames through than
// `frames` (with a recording) nor fewer identifiers than `identifiers`. For a set of few
// identifiers, or of up to 100 into at most three patterns, every fit is searched, which may find
// one better than the one given; it is then in `better`.
struct FitBound
{
    FitCost lowest;
    std::optional<QList<IdPattern>> better;
};

FitBound boundFit(const FitJudge& judge, int maxPatterns, FitCost bestCost);

} // namespace quillner
