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

// The tool's process, ready to start: its program, its arguments as a list (never a shell line;
// on Windows flasherCommandLine) and its working folder.
void prepareFlasherProcess(QProcess& process, const FlasherLaunch& launch);

// Starts the tool without waiting for it (on Windows with flasherCommandLine); returns its
// process id. Throws when the system cannot start it at all. Whether it may be started is
// FirmwareJob::decideFlash's to say.
qint64 startFlasher(const FlasherLaunch& launch);

} // namespace quillner
