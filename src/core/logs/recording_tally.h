#pragma once

#include "core/device/receive_filter.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"

namespace quillner {

// How a recording is read for a tally.
struct TallyThreads
{
    // Two read a candump log (or candump's screen output) that is an uncompressed regular file
    // at two places at once: the second thread from the first line that begins after the
    // middle. Any other recording is read by one.
    int count = 2;
    // A smaller file is read by one thread: starting a second costs more than it saves.
    qint64 leastSplitBytes = 16 << 20;
    // Where the second thread looks for its first line; -1 for the middle. Tests choose it.
    qint64 splitNear = -1;
};

// Reads the recording as readCanLog does and counts each of its frames in the tally with the
// filter's verdict, as a visitor calling tally.add would: the tally and the reading are the same,
// to the order extended identifiers are met in and the unreadable lines listed, whether one
// thread or two read it. Frames are judged as the lines are read, without a call through a
// function object for each. Its problems are readCanLog's.
Result<LogReading> tallyRecording(const QString& path, const FrameFilter& filter,
                                  FilterTally& tally, CutShort cutShort = CutShort::Refused,
                                  const TallyThreads& threads = {});

} // namespace quillner
