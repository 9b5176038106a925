#pragma once

#include "core/filters/fit_traffic.h"
#include "core/filters/id_pattern.h"

#include <compare>
#include <optional>

namespace quillner {

// Patterns fitted to a set are judged first by the frames of a recording they let through beyond
// the set (zero without a recording), then by the identifiers they let through beyond the set.
struct FitCost
{
    quint64 frames = 0;
    quint64 identifiers = 0;

    friend auto operator<=>(const FitCost&, const FitCost&) = default;
};

// At most this many patterns are fitted at once: the counting keeps them in one 32-bit mask.
inline constexpr int kMostFittedPatterns = 32;

// The set being fitted and the measure of a fit.
class FitJudge
{
public:
    FitJudge(const IdPatternSet& set, const ExtraTraffic* traffic) : m_set(set), m_traffic(traffic)
    {
    }

    const IdPatternSet& set() const { return m_set; }
    bool byFrames() const { return m_traffic != nullptr; }

    // The cost of at most kMostFittedPatterns patterns that pass the whole set.
    FitCost costOf(const IdPattern* patterns, int count) const;
    FitCost costOf(const QList<IdPattern>& patterns) const
    {
        return costOf(patterns.constData(), int(patterns.size()));
    }
    // The frames beyond the set that the patterns pass; zero without a recording.
    quint64 framesIn(const IdPattern* patterns, int count) const
    {
        return m_traffic ? m_traffic->framesIn(patterns, count) : 0;
    }
    quint64 framesIn(const IdPattern& pattern) const { return framesIn(&pattern, 1); }
    // How many identifiers outside the set the recording holds: the work of each count above.
    qsizetype recordedIds() const { return m_traffic ? m_traffic->identifierCount() : 0; }

private:
    const IdPatternSet& m_set;
    const ExtraTraffic* m_traffic;
};

enum class MergeOrder {
    FewestAdded,    // the two groups whose enclosing pattern adds the least to the cost
    FewestFreeBits, // the two groups whose enclosing pattern has the fewest free bits
};

// Bottom-up: every part of the set starts as a group of its own, and the two groups chosen by the
// order are joined, one pair at a time, until at most maxPatterns are left; a group whose pattern
// lies inside a joined one is taken into it. Empty when the set has too many parts to compare
// them pairwise in time. With many parts and many recorded identifiers, the frames of every pair
// would take seconds to count: the pairs are then compared by identifiers alone, and the moves
// that follow weigh the frames.
std::optional<QList<IdPattern>> mergeParts(const FitJudge& judge, int maxPatterns,
                                           MergeOrder order);

// Moves parts of the set from one pattern's group to another's, one at a time, while the cost
// falls; each pattern shrinks to the smallest that passes its group. The result passes the set
// and costs at most what `cover` costs.
QList<IdPattern> improveByMoves(const FitJudge& judge, const QList<IdPattern>& cover,
                                int maxPatterns);

} // namespace quillner
