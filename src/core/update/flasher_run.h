#pragma once

#include "core/update/device_update.h"

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
// channel and no input. Throws when the system cannot start it at all.
void startWatchedFlasherProcess(QProcess& process, const FlasherLaunch& launch);

// Starts the tool as startFlasher does (an argument list, never a shell) and waits for it,
// passing its output on line by line. A tool still running when the timeout is up is asked to
// end, then killed. Throws when the system cannot start it at all.
// started, when given, is told the tool's process id as soon as it runs.
FlasherVerdict runFlasher(const FlasherLaunch& launch,
                          std::optional<std::chrono::milliseconds> timeout,
                          const FlasherOutput& output = {},
                          const std::function<void(qint64 processId)>& started = {});

// The verdict of a tool that ended by itself: crashed when it did not exit normally.
FlasherVerdict finishedFlasherVerdict(bool exitedNormally, int exitCode, const QString& lastLine,
                                      qint64 processId, qint64 milliseconds);

// "Morvex.exe exited with status 1: port COM1 busy", "… did not end within 30 s and was ended",
// "… flashed New_SX51804.sx (exit status 0)".
QString flasherVerdictText(const FlasherVerdict& verdict);

} // namespace quillner
