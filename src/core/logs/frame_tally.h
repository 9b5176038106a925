#pragma once

#include "core/device/receive_filter.h"
#include "core/logs/log_frame.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <vector>

namespace quillner {

// Extended identifiers counted one by one; the frames of any further ones are counted together
// in one row, so that a recording of millions of distinct identifiers takes the memory of a
// bus's worth.
inline constexpr qsizetype kListedExtendedIds = 65536;

// Frames of recordings counted by identifier and by what the device does with them.
struct FilterTally
{
    struct Counts
    {
        quint64 passed = 0;
        quint64 blocked = 0; // every frame not passed, for whatever reason
        quint64 remote = 0;  // of them, remote frames while remote frames are off
        quint64 fd = 0;      // of them, CAN FD frames
        bool wrongForm = false;
    };
    // By identifier: standard ones in a table, extended ones as they are met.
    std::vector<Counts> standard = std::vector<Counts>(kStandardIdCount);
    QHash<quint32, Counts> extended;
    Counts otherExtended; // identifiers met after kListedExtendedIds others
    quint64 passed = 0;
    quint64 blocked = 0; // the frames of every reason below included
    quint64 wrongForm = 0;
    quint64 remote = 0;
    quint64 fd = 0;
    quint64 errors = 0;
    quint64 unreadable = 0;
    QList<LogReading> recordings;

    void add(const LogFrame& frame, FrameVerdict verdict);
    // The recording's error frames, unreadable lines and summary.
    void addReading(const LogReading& reading);
};

// One line per identifier, the other identifiers' row, one "Read:" line per recording and the
// total.
QString filterTallyText(const FilterTally& tally);
QJsonObject filterTallyJson(const FilterTally& tally);

// 1203344 as "1 203 344".
QString groupedNumber(quint64 number);

} // namespace quillner
