#pragma once

#include "core/app/app_paths.h"
#include "core/app/project_layout.h"
#include "core/bank/bank_compiler.h"
#include "core/firmware/srec_merge.h"

#include <QString>
#include <QStringList>

class QProcess;

namespace quillner {

// The firmware in the MASTER folder and the tool that writes a firmware file into the device.
inline constexpr auto kFlasherName = "Morvex.exe";
// The serial ports offered for flashing: COM1 to COM8, passed on as 0 to 7.
inline constexpr int kFlasherPortCount = 8;

// "Error file SX51804.sx not found" and, on the next line, the path that was looked at.
QString firmwareNotFoundMessage(const QString& firmwareName, const QString& path);
QString mergedFileNotFoundMessage();
QString notVerifiedMessage();
// "Morvex.exe Not Found, Procedure Aborted" and, on the next line, every folder it was looked
// for in.
QString flasherNotFoundMessage(const QStringList& foldersLookedIn);

// How the merge ended, in one line: "New_SX51804.sx: bank 1 inserted (outcome 1)".
QString mergeSummary(const QString& newFileName, int bank, const MergeResult& result);

// A merged firmware without the bank would put the firmware's own settings, or none, into the
// device: it is not flashed.
QString bankNotInFirmwareMessage(int bank, const QString& firmwareName);

struct FlasherLaunch
{
    QString program;
    QStringList arguments; // the merged file's full path, the port index in decimal
    QString workingDirectory;
};

FlasherLaunch flasherLaunch(const QString& flasherDir, const QString& mergedFile, int portIndex,
                            const QString& workingDirectory);

// The tool's own command line, as Windows hands it over: the merged file's path always in
// double quotes, a blank, then the port index.
QString flasherCommandLine(const FlasherLaunch& launch);

// What ties the tool's processes to this program beyond its launch. The tool always starts in a
// process group (a session) of its own, so that it and every process it starts can be ended
// together, and a terminal's Ctrl-C reaches this program alone.
struct FlasherTies
{
    // The descriptor of the port's lock (PortLock), inherited by the tool and so by every
    // process it starts; -1 for none.
    int portLock = -1;
    // The tool is killed when the thread that started it ends (a parent-death signal): a tool
    // that this program waits for must not go on writing a device once it is gone.
    bool endsWithThisProgram = false;
};

// The tool's process, ready to start: its program, its arguments as a list (never a shell line;
// on Windows flasherCommandLine), its working folder and its ties.
void prepareFlasherProcess(QProcess& process, const FlasherLaunch& launch,
                           const FlasherTies& ties = {});

// Starts the tool without waiting for it (on Windows with flasherCommandLine), in a session of
// its own that outlives this program, holding the port's lock (portLock, -1 for none) as long as
// any of its processes runs; returns its process id. Call it while this program starts no other
// process: the lock is left open across the start. A problem when the system cannot start it at
// all. Whether it may be started is FirmwareJob::decideFlash's to say.
Result<qint64> startFlasher(const FlasherLaunch& launch, int portLock = -1);

// "SX_Flash.exe could not be started. REASON": the system's reason a start of the tool failed.
QString flasherNotStartedMessage(const QString& reason);

} // namespace quillner
