#pragma once

#include "core/filters/id_pattern.h"

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace quillner {

// The extended frames of a recording, counted by identifier, for fitting patterns to the traffic
// that a gateway will see rather than to the bare identifiers (core/logs reads them).
struct RecordedTraffic
{
    QHash<quint32, quint64> framesById;
    quint64 frames = 0;
    // From the first frame's time to the last one's, when the lines carry times.
    std::optional<double> seconds;
};

// The frames of a recording whose identifiers lie outside a set: what patterns let through that
// the set did not ask for. Counted for any patterns by walking the sorted identifiers bit by bit.
class ExtraTraffic
{
public:
    ExtraTraffic(const RecordedTraffic& traffic, const IdPatternSet& set);

    // The frames of identifiers outside the set that at least one of at most 32 patterns passes.
    quint64 framesIn(const IdPattern* patterns, int count) const;
    quint64 framesIn(const IdPattern& pattern) const { return framesIn(&pattern, 1); }
    quint64 total() const { return m_running.back(); }
    qsizetype identifierCount() const { return qsizetype(m_ids.size()); }

private:
    quint64 framesUnder(qsizetype first, qsizetype end, const IdPattern* patterns, quint32 alive,
                        quint32 remaining) const;

    std::vector<quint32> m_ids;     // ascending
    std::vector<quint64> m_frames;  // of each identifier
    std::vector<quint64> m_running; // frames of the identifiers before each index
    // Marks of the identifiers some pattern passes, kept between counts so that a count needs no
    // allocation: a fit is judged by one thread.
    mutable std::vector<quint8> m_passed;
};

} // namespace quillner
