#pragma once

#include "core/device/receive_filter.h"
#include "core/logs/log_frame.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <vector>

namespace quillner {

// Extended identifiers counted one by one; the frames of any further ones are counted together
// in one row, so that a recording of millions of distinct identifiers takes the memory of a
// bus's worth.
inline constexpr qsizetype kListedExtendedIds = 65536;

// What the device did with the frames of one identifier.
struct IdentifierTally
{
    quint64 passed = 0;
    quint64 blocked = 0; // every frame not passed, for whatever reason
    quint64 remote = 0;  // of them, remote frames while remote frames are off
    quint64 fd = 0;      // of them, CAN FD frames
    bool wrongForm = false;

    // The frames of the same identifier counted in another tally, added to these.
    void add(const IdentifierTally& other);
};

// Extended identifiers with their counts, in the order they were first met. Found through an
// open-addressing table of their places, since a frame of a recording is looked up millions of
// times and the order is what tells which identifiers are listed once there are too many.
class ExtendedTally
{
public:
    struct Entry
    {
        quint32 id;
        IdentifierTally counts;
    };

    // The identifier's counts, or null when it was not met.
    IdentifierTally* find(quint32 id)
    {
        if (m_slots.empty())
            return nullptr;
        for (size_t slot = slotOf(id);; slot = (slot + 1) & (m_slots.size() - 1)) {
            const quint32 place = m_slots[slot];
            if (place == 0)
                return nullptr;
            if (m_entries[place - 1].id == id)
                return &m_entries[place - 1].counts;
        }
    }
    const IdentifierTally* find(quint32 id) const
    {
        return const_cast<ExtendedTally*>(this)->find(id);
    }
    // Counts for an identifier not met before.
    IdentifierTally& insert(quint32 id);
    qsizetype size() const { return qsizetype(m_entries.size()); }
    // First met first.
    const std::vector<Entry>& entries() const { return m_entries; }

private:
    size_t slotOf(quint32 id) const { return size_t((id * 0x9E3779B1u) >> m_shift); }

    std::vector<Entry> m_entries;
    std::vector<quint32> m_slots; // an entry's place plus one; 0 is free
    int m_shift = 32;
};

// Frames of recordings counted by identifier and by what the device does with them.
struct FilterTally
{
    using Counts = IdentifierTally;
    // By identifier: standard ones in a table, extended ones as they are met.
    std::vector<Counts> standard = std::vector<Counts>(kStandardIdCount);
    ExtendedTally extended;
    Counts otherExtended; // identifiers met after kListedExtendedIds others
    quint64 passed = 0;
    quint64 blocked = 0; // the frames of every reason below included
    quint64 wrongForm = 0;
    quint64 remote = 0;
    quint64 fd = 0;
    quint64 errors = 0;
    quint64 unreadable = 0;
    QList<LogReading> recordings;

    void add(const LogFrame& frame, FrameVerdict verdict)
    {
        Counts& counts = frame.extended ? extendedCounts(frame.id) : standard[frame.id];
        if (verdict == FrameVerdict::Passed) {
            ++counts.passed;
            ++passed;
            return;
        }
        addBlocked(counts, verdict);
    }
    // The recording's error frames, unreadable lines and summary.
    void addReading(const LogReading& reading);

    // Whether every extended identifier met is counted on its own, none in otherExtended.
    bool listsEveryIdentifier() const;
    // The frames of a tally of what was read after this tally's frames, added as though they
    // had been added here one after another: only a tally that lists every identifier it met
    // tells which of them would have been met after kListedExtendedIds others here.
    void addLater(const FilterTally& later);

private:
    Counts& extendedCounts(quint32 id)
    {
        if (Counts* found = extended.find(id))
            return *found;
        return extended.size() < kListedExtendedIds ? extended.insert(id) : otherExtended;
    }
    void addBlocked(Counts& counts, FrameVerdict verdict);
};

// One line per identifier, the other identifiers' row, one "Read:" line per recording and the
// total.
QString filterTallyText(const FilterTally& tally);
QJsonObject filterTallyJson(const FilterTally& tally);

// 1203344 as "1 203 344".
QString groupedNumber(quint64 number);

} // namespace quillner
