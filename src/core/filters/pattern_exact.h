#pragma once

#include "core/filters/pattern_groups.h"

namespace quillner {

// What searching every way of giving a set's identifiers to at most maxPatterns groups found.
struct ExactFit
{
    bool complete = false; // the search ran to its end: `lowest` is the best any fit can do
    FitCost lowest;        // the best cost found, or bestCost when nothing better was found
    std::optional<QList<IdPattern>> better; // a fit below bestCost, when one was found
};

// Searches the fits of a set of few identifiers for one that costs less than bestCost, each
// group's pattern being the smallest that passes its identifiers. The search stops after
// mostSteps steps; it is then incomplete and proves nothing.
ExactFit searchGroupsExactly(const FitJudge& judge, int maxPatterns, FitCost bestCost,
                             qint64 mostSteps);

} // namespace quillner
