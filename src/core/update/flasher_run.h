#pragma once

#include "core/update/device_update.h"
#include "core/update/port_lock.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace quillner {

// How a flashing tool that was waited for ended.
struct FlasherVerdict
{
    enum class Outcome {
        Succeeded, // exited with status 0
        Failed,    // exited with another status, or crashed
        TimedOut,  // still ran when the time was up, and was ended
        Stopped,   // still ran when this program was asked to end, and was ended
    };
    Outcome outcome = Outcome::Failed;
    int exitCode = -1; // -1 when it crashed or was ended
    QString lastLine;  // the last line it printed that was not blank
    qint64 processId = 0;
    qint64 milliseconds = 0; // from its start to its end

    bool succeeded() const { return outcome == Outcome::Succeeded; }
};

// Called with each line the tool prints (standard output and error together), without its end.
using FlasherOutput = std::function<void(const QString& line)>;

// The tool's output cut into lines as it comes, each passed on without its end; the last line that
// is not blank is kept for the verdict. A line longer than 64 KiB is passed on in pieces, so that a
// tool printing without line ends cannot grow the buffer without end.
class FlasherLines
{
public:
    FlasherLines(const FlasherOutput& output, QString& lastLine);

    void add(const QByteArray& bytes);
    // Passes on what is left, once the tool has ended.
    void finish();

private:
    void emitLine(QByteArray line);

    FlasherOutput m_output;
    QString& m_lastLine;
    QByteArray m_pending;
};

// Starts the tool to be watched: an argument list, never a shell, its output and errors in one
// channel and no input, in a process group of its own with the ties asked for. A problem when the
// system cannot start it at all.
Result<Done> startWatchedFlasherProcess(QProcess& process, const FlasherLaunch& launch,
                                        const FlasherTies& ties = {});

// Starts the tool as startFlasher does (an argument list, never a shell), on the port taken, and
// waits for it, passing its output on line by line. The tool and every process it starts form a
// group that holds the port's lock and dies with this program. Once the tool has ended, or the
// timeout is up, or this program is asked to stop (endWaitedFlashers), whatever of the group
// still runs is asked to end, then killed after a grace period; returns once nothing of it holds
// the port (the port is then the caller's again). A problem when the system cannot start it at
// all, or when this program is stopping. started, when given, is told the tool's process id as
// soon as it runs.
Result<FlasherVerdict> runFlasher(const FlasherLaunch& launch,
                                  std::optional<std::chrono::milliseconds> timeout, PortLock& port,
                                  const FlasherOutput& output = {},
                                  const std::function<void(qint64 processId)>& started = {});

// This program is asked to end (SIGTERM, Ctrl-C): every tool runFlasher waits for is ended with
// its whole group, as at a timeout, and no other is started. Returns once each of them has
// ended. Safe to call from any thread but a signal handler.
void endWaitedFlashers();
bool flashersStopping();
// "Stopped: quillner-cli is ending"
QString flashersStoppedMessage();

// The verdict of a tool that ended by itself: crashed when it did not exit normally.
FlasherVerdict finishedFlasherVerdict(bool exitedNormally, int exitCode, const QString& lastLine,
                                      qint64 processId, qint64 milliseconds);

// "Morvex.exe exited with status 1: port COM1 busy", "… did not end within 30 s and was ended",
// "… flashed New_SX51804.sx (exit status 0)".
QString flasherVerdictText(const FlasherVerdict& verdict);

} // namespace quillner
