#pragma once

#include "core/app/result.h"
#include "core/logs/log_frame.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace quillner {

// A CAN interface as Qt SerialBus opens it, typed as PLUGIN:INTERFACE: "socketcan:vcan0",
// "peakcan:usb0", "virtualcan:can0" or "virtualcan:tcp://127.0.0.1:35468/can0".
struct BusAddress
{
    QString plugin;
    QString interface;

    QString text() const { return plugin + u':' + interface; }
};

// The address split at its first colon; nothing when either side is empty.
std::optional<BusAddress> busAddressOf(const QString& text);

// The plugins Qt SerialBus finds on this machine ("passthrucan", "peakcan", "socketcan",
// "tinycan", "virtualcan"), for the completion and the error that names them.
QStringList busPlugins();

// When a session ends of itself: after so many frames (error frames not counted) or after so
// long, whichever comes first; with neither, only when it is asked to stop.
struct SessionEnd
{
    std::optional<qint64> frames;
    std::optional<std::chrono::milliseconds> duration;
};

struct SessionHooks
{
    // Asked a few times a second; true ends the session with what was heard.
    std::function<bool()> stopRequested;
    // Told once, as soon as the bus is open and frames can come.
    std::function<void()> listening;
};

// Listens to the bus on the calling thread, in an event loop of its own, and hands every frame to
// the visitor as a recording's reader would: the same LogFrame for the same frame on the bus,
// with the bus's time stamp (or the clock's, where the interface gives none) as its time, as a
// channel 0 and without a line. Error frames are counted, not handed over; what the interface
// gives that is no frame is counted as unreadable. The reading is named after the address and
// has the format LiveBus.
//
// A bus that cannot be opened, or that fails while it is listened to, is a problem naming the
// address; the reading then holds the frames heard before.
Result<LogReading> listenToBus(const BusAddress& bus, const SessionEnd& end,
                               const LogVisitor& visitor, const SessionHooks& hooks = {});

} // namespace quillner
