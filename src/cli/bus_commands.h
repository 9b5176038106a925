#pragma once

#include "cli_support.h"
#include "core/filters/fit_traffic.h"
#include "core/logs/frame_tally.h"
#include "core/logs/live_bus.h"

#include <optional>

namespace quillner::cli {

// The options of a session on a live bus, declared once for filter test, filter fit and record.
extern const OptionSpec kBusOption;
extern const OptionSpec kSecondsOption;
extern const OptionSpec kFramesOption;

struct BusRequest
{
    BusAddress bus;
    SessionEnd end;
};

// --bus with --seconds or --frames; nothing without --bus. A usage error for an address that is
// no PLUGIN:INTERFACE, for both ends, or for an end without --bus.
std::optional<BusRequest> busRequestOf(const CommandLine& line);

// Listens as `filter test` reads a recording, each frame to the visitor. On a terminal, and when
// a tally is given, its identifiers are shown as they come, at most ten times a second; Ctrl-C
// ends the session with what was heard. A bus that cannot be opened, or that fails, is told as an
// error; the reading holds the frames heard before it.
Result<LogReading> listenFromCommandLine(const BusRequest& request, const LogVisitor& visitor,
                                         const FilterTally* shownTally = nullptr);

// The extended frames heard, counted as `filter fit --log` counts a recording's.
Result<RecordedTraffic> heardTraffic(const BusRequest& request);

// "record --bus …": a session kept as a candump log.
const CommandSpec& recordCommand();

} // namespace quillner::cli
