#pragma once

#include "core/filters/fit_traffic.h"
#include "core/filters/id_pattern.h"

#include <QList>
#include <QString>

namespace quillner {

// How many identifiers the patterns pass that are not among `ids` (ascending, no duplicates).
quint64 extraCount(const QList<IdPattern>& patterns, const QList<quint32>& ids);

struct PatternFit
{
    QList<IdPattern> patterns;
    quint64 extras = 0;      // identifiers passed that are not in the set, the true count
    quint64 extraFrames = 0; // with a recording: its frames that only the patterns let through
    bool byFrames = false;   // fitted to the frames of a recording
    // No fit of as many patterns lets less through: frames when fitted to a recording, else
    // identifiers.
    quint64 lowerBound = 0;

    bool optimal() const { return (byFrames ? extraFrames : extras) == lowerBound; }
};

// Covers a set of 29-bit identifiers with at most maxPatterns (up to 32) patterns, as well as
// several ways of fitting manage: the prime cover or top-down split, a bottom-up merge of the
// set's parts by the fewest identifiers added and one by the fewest free bits, each followed by
// moving parts between the patterns while that lets less through; the best of them is kept. A
// set of few identifiers, or of up to 100 into at most three patterns, is searched exactly as far
// as a bound keeps the search short. With traffic, less means fewer frames of the recording first,
// then fewer identifiers. The empty set gives no pattern.
PatternFit fitPatterns(const IdPatternSet& set, int maxPatterns,
                       const ExtraTraffic* traffic = nullptr);
PatternFit fitPatterns(const QList<quint32>& ids, int maxPatterns);

// The prime cover or top-down split alone, as fitting was done before the other ways were added:
// a yardstick for them.
PatternFit fitPatternsFirstWay(const QList<quint32>& ids, int maxPatterns);

// The device's best form for a set of 29-bit identifiers: the identifier list when it holds the
// set (at most 63), else the fitted patterns.
struct FilterForm
{
    bool identifierList = false;
    QList<quint32> identifiers; // ascending, no duplicates
    PatternFit fit;
};

FilterForm chooseFilterForm(const IdPatternSet& set, int maxPatterns, const ExtraTraffic* traffic);
FilterForm chooseFilterForm(const QList<quint32>& ids, int maxPatterns);

} // namespace quillner
