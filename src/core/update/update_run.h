#pragma once

#include "core/app/app_paths.h"
#include "core/app/project_lock.h"
#include "core/app/result.h"
#include "core/bank/bank_files.h"
#include "core/update/firmware_job.h"
#include "core/update/flasher_run.h"
#include "core/update/port_lock.h"

#include <chrono>
#include <functional>
#include <optional>

namespace quillner {

// What one update of a device from one project is asked to do.
struct UpdateRequest
{
    AppPaths paths;    // the project; ExeDir and DataDir say where the flashing tool lies
    QString masterDir; // holds the firmware
    // Compile the documents into the bank files first; without it the bank file already in the
    // project's bin folder is merged.
    bool compile = true;
    // Flash after the merge, waiting for the tool to end (it is ended when the timeout is up),
    // or start it and leave it; without flashing the run ends with the merge.
    bool flash = false;
    int port = 0; // 0 (COM1) to 7 (COM8), unless the observer asks for each pass's port
    bool waitForFlasher = true;
    std::optional<std::chrono::milliseconds> timeout;
    std::chrono::milliseconds lockWait = kProjectLockWait;
    // How long the port is waited for while an earlier tool's processes hold it; without a
    // wait, until it is free.
    std::optional<std::chrono::milliseconds> portWait = kProjectLockWait;
};

// Where a run stopped short of what it was asked.
enum class UpdateStop {
    None,              // it did all it was asked
    Compile,           // the bank was not written: a document could not be read, or not written
    NotPlanned,        // no firmware to merge into
    Merge,             // the merge or its check did not give a file fit for the device
    BankNotInFirmware, // merged, but the firmware has no record of the bank's range
    NotFlashed,        // the tool was missing, or the last word before flashing said no
    FlasherFailed,     // the tool waited for ended with a failure, or was stopped
    FlasherTimedOut,   // the tool waited for was still running when the time was up
};

// One pass of merge and flash, and how it ended.
struct UpdatePass
{
    int port = 0;
    MergeResult merged;
    FlashDecision decision;
    std::optional<qint64> processId; // the tool's, once it started
    std::optional<FlasherVerdict> verdict;
    UpdateStop stop = UpdateStop::None;
};

// What the run did: the bank it built, the job it planned and its last pass.
struct UpdateReport
{
    BankBuild build;
    FirmwareJob job;
    std::optional<UpdatePass> last;
    UpdateStop stop = UpdateStop::None;
};

// What a face of the run is told, or asked, as the run goes; each member may be left empty.
// The run calls them on its own thread, in this order.
struct UpdateObserver
{
    // The project's lock is held by another run: this one waits for it (up to lockWait).
    std::function<void()> waitingForLock;
    // Whether the compiled bank goes on to the bank files (and to the device); by default only a
    // whole one does.
    std::function<bool(const CompiledBank&)> acceptCompile;
    std::function<void(const BankBuild&)> compiled;
    std::function<void(const Result<FirmwareJob>&)> planned;
    // The port of the next pass, or none to end the run: a window waits for the user's press.
    // Without it the run makes one pass on the request's port.
    std::function<std::optional<int>()> nextPort;
    MergeProgress mergeProgress;
    // The merged file and what follows from it; afterMerge may add to it (a signature).
    std::function<void(const FirmwareJob&, const UpdatePass&)> merged;
    // The last word before the tool starts (a signature required); false leaves it unstarted.
    std::function<bool(const FirmwareJob&)> mayFlash;
    std::function<void(const FlasherLaunch&, qint64 processId)> flasherStarted;
    FlasherOutput flasherOutput;
    // The port is held by processes of an earlier tool: the run waits for them (portWait).
    PortLock::Waiting waitingForPort;
    // How a pass that started the tool ended: a verdict when it was waited for.
    std::function<void(const FirmwareJob&, const UpdatePass&)> passEnded;
};

// The one sequence of an update, which every face (the command line, the windows, a batch)
// runs: the project's lock, held to the end; the compile and both bank files; the firmware job;
// then for each port asked, the merge with its check, the decision and the flashing tool, waited
// for when asked. A problem (the project busy, a file that cannot be written) ends the run with
// what it did so far; a stop short of the request is the report's stop.
Result<UpdateReport> runUpdate(const UpdateRequest& request, const UpdateObserver& observer = {});

} // namespace quillner
