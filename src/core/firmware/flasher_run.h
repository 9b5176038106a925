#pragma once

#include "core/firmware/device_update.h"

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

// Starts the tool as startFlasher does (an argument list, never a shell) and waits for it,
// passing its output on line by line. A tool still running when the timeout is up is asked to
// end, then killed. Throws when the system cannot start it at all.
FlasherVerdict runFlasher(const FlasherLaunch& launch,
                          std::optional<std::chrono::milliseconds> timeout,
                          const FlasherOutput& output = {});

// "Morvex.exe exited with status 1: port COM1 busy", "… did not end within 30 s and was ended",
// "… flashed New_SX51804.sx (exit status 0)".
QString flasherVerdictText(const FlasherVerdict& verdict);

} // namespace quillner
