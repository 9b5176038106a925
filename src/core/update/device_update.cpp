#include "core/update/device_update.h"

#include "core/app/file_io.h"

#include <QDir>
#include <QProcess>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quillner {

QString firmwareNotFoundMessage(const QString& firmwareName, const QString& path)
{
    return QStringLiteral("Error file ") + firmwareName +
           QStringLiteral(" not found\nLooked for ") + path;
}

QString notVerifiedMessage()
{
    return QStringLiteral("File New Sx Not Verified, Procedure Aborted");
}

QString mergedFileNotFoundMessage()
{
    return sxFileNotFoundMessage();
}

QString flasherNotFoundMessage(const QStringList& foldersLookedIn)
{
    QStringList folders;
    for (const QString& folder : foldersLookedIn)
        folders << QDir::toNativeSeparators(folder);
    return QStringLiteral("Morvex.exe Not Found, Procedure Aborted\nLooked in ") +
           folders.join(QStringLiteral(", then in "));
}

QString bankNotInFirmwareMessage(int bank, const QString& firmwareName)
{
    return QStringLiteral("Bank %1 Not Found In %2, Procedure Aborted").arg(bank).arg(firmwareName);
}

QString mergeSummary(const QString& newFileName, int bank, const MergeResult& result)
{
    QString what;
    if (!result.value.copyCompleted)
        what = QStringLiteral("not written");
    else if (!result.value.bankInserted)
        what = QStringLiteral("bank %1 not found in the firmware").arg(bank);
    else if (result.value.outcome == 0)
        what = QStringLiteral("bank %1 inserted after the S9 end record").arg(bank);
    else
        what = QStringLiteral("bank %1 inserted").arg(bank);
    if (result.value.copyCompleted && result.value.outcome == -1)
        what += QStringLiteral(", no S9 end record");
    return QStringLiteral("%1: %2 (outcome %3)").arg(newFileName, what).arg(result.value.outcome);
}

FlasherLaunch flasherLaunch(const QString& flasherDir, const QString& mergedFile, int portIndex,
                            const QString& workingDirectory)
{
    return {joinPath(flasherDir, QString::fromLatin1(kFlasherName)),
            {mergedFile, QString::number(portIndex)},
            workingDirectory};
}

QString flasherCommandLine(const FlasherLaunch& launch)
{
    return QStringLiteral("\"%1\" %2").arg(launch.arguments.value(0), launch.arguments.value(1));
}

void prepareFlasherProcess(QProcess& process, const FlasherLaunch& launch, const FlasherTies& ties)
{
    // An argument list, never a shell: a path with blanks stays one argument.
    process.setProgram(launch.program);
#ifdef Q_OS_WIN
    process.setNativeArguments(flasherCommandLine(launch));
#else
    process.setArguments(launch.arguments);
#endif
    process.setWorkingDirectory(launch.workingDirectory);
#ifdef Q_OS_UNIX
    // Runs in the child between fork and exec: only calls that are safe there.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([ties, parent] {
        ::setsid();
        if (ties.portLock >= 0)
            ::fcntl(ties.portLock, F_SETFD, 0);
#ifdef Q_OS_LINUX
        if (ties.endsWithThisProgram) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            // This program may have ended before the signal was asked for.
            if (::getppid() != parent)
                ::_exit(127);
        }
#endif
    });
#else
    Q_UNUSED(ties);
#endif
}

QString flasherNotStartedMessage(const QString& reason)
{
    return QStringLiteral("%1 could not be started. %2")
        .arg(QString::fromLatin1(kFlasherName), reason);
}

Result<qint64> startFlasher(const FlasherLaunch& launch, int portLock)
{
    QProcess process;
    // Started detached, the tool gets a session of its own from Qt itself; the port's lock is
    // left open across the start for it, and closed again for what this program starts later.
    prepareFlasherProcess(process, launch);
#ifdef Q_OS_UNIX
    if (portLock >= 0)
        ::fcntl(portLock, F_SETFD, 0);
#endif
    qint64 processId = 0;
    const bool started = process.startDetached(&processId);
#ifdef Q_OS_UNIX
    if (portLock >= 0)
        ::fcntl(portLock, F_SETFD, FD_CLOEXEC);
#endif
    if (!started)
        return Result<qint64>::failure({{{}, {}, flasherNotStartedMessage(process.errorString())}});
    return {processId, {}, {}};
}

} // namespace quillner
