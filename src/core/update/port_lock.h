#pragma once

#include "core/app/result.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quillner {

// The lock of a serial port in the data folder: DATA/.quillner-ports/COM1.lock.
QString portLockPath(const QString& dataDir, int port);

// A serial port taken for one flashing tool at a time. Its lock is an flock on a file of the
// data folder that the tool and every process it starts inherit, so that the port stays taken
// until the last of them has ended, whatever becomes of this program meanwhile (killed, or
// ended before the tool). The file itself stays: removed, it would let the next run lock a new
// file of the same name beside a tool still holding the old one.
class PortLock
{
public:
    using Waiting = std::function<void(const QString& message)>;

    // Takes the port. While processes of an earlier tool hold it, tells waiting once ("COM1 is
    // still taken by an earlier flashing tool ...; waiting for it to end") and tries again until
    // wait is over (without a wait, until the port is free or this program is asked to stop).
    // A problem of portBusyMessage when the port stays taken, "Cannot create file ..." when the
    // lock file cannot be made, and the stop's message when this program is asked to end
    // meanwhile.
    static Result<std::unique_ptr<PortLock>> take(const QString& dataDir, int port,
                                                  std::optional<std::chrono::milliseconds> wait,
                                                  const Waiting& waiting = {});
    ~PortLock();

    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    const QString& path() const { return m_path; }
    // The descriptor of this program's own hold, for a tool to inherit; -1 once handed over.
    int descriptor() const { return m_descriptor; }
    // The tool started holds the port now: this program's own hold goes, so that the port is
    // free exactly when the tool's last process has ended.
    void handOver();
    // Takes the port back once nothing of the tool it was handed to holds it, trying for at most
    // wait; false when something still does, or when its lock file can no longer be opened to
    // tell.
    bool retake(std::chrono::milliseconds wait);

private:
    PortLock(QString path, int port);

    // Whether the port is this program's now; a problem when its lock file cannot be opened.
    Result<bool> tryTake();

    QString m_path;
    int m_port = 0;
    int m_descriptor = -1;
};

// "COM1 is busy: an earlier flashing tool still runs on it (DATA/.quillner-ports/COM1.lock is
// held by its processes; the port is free once they have ended)".
QString portBusyMessage(int port, const QString& lockPath);

} // namespace quillner
