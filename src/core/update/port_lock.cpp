#include "core/update/port_lock.h"

#include "core/app/file_io.h"
#include "core/app/lock_file.h"
#include "core/update/flasher_run.h"
#include "core/update/update_outcome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#include <unistd.h>
#endif

#include <thread>

namespace quillner {

namespace {

const QString kPortLockFolderName = QStringLiteral(".quillner-ports");
// How often a port that an earlier tool's processes hold is tried again.
constexpr std::chrono::milliseconds kRetryInterval{20};

using TakenPort = Result<std::unique_ptr<PortLock>>;

TakenPort notTaken(const QString& text)
{
    return TakenPort::failure({{{}, {}, text}});
}

// The folder of the port locks, made when missing; a symbolic link or anything else in its place
// is refused, so that no lock is made where it points.
Result<Done> makeLockFolder(const QString& folder)
{
    const QFileInfo found(folder);
    if (found.isSymLink() || (found.exists() && !found.isDir()))
        return Result<Done>::failure(
            {{{},
              {},
              cannotCreateFileMessage(
                  folder, QStringLiteral("it is no folder of Quillner's (%1); remove it once no "
                                         "Quillner is flashing")
                              .arg(found.isSymLink() ? QStringLiteral("a symbolic link")
                                                     : QStringLiteral("a file")))}});
    if (!found.exists() && !QDir().mkpath(folder))
        return Result<Done>::failure(
            {{{}, {}, cannotCreateFileMessage(folder, QStringLiteral("cannot make the folder"))}});
    return {};
}

} // namespace

QString portLockPath(const QString& dataDir, int port)
{
    return joinPath(joinPath(dataDir, kPortLockFolderName),
                    flasherPortName(port) + QStringLiteral(".lock"));
}

QString portBusyMessage(int port, const QString& lockPath)
{
    return QStringLiteral("%1 is busy: an earlier flashing tool still runs on it (%2 is held by "
                          "its processes; the port is free once they have ended)")
        .arg(flasherPortName(port), lockPath);
}

PortLock::PortLock(QString path, int port) : m_path(std::move(path)), m_port(port) {}

TakenPort PortLock::take(const QString& dataDir, int port,
                         std::optional<std::chrono::milliseconds> wait, const Waiting& waiting)
{
    std::unique_ptr<PortLock> lock(new PortLock(portLockPath(dataDir, port), port));
    const QString& path = lock->m_path;
    const Result<Done> folder = makeLockFolder(QFileInfo(path).absolutePath());
    if (!folder.whole())
        return TakenPort::failure(folder.problems);
    QElapsedTimer clock;
    for (bool first = true;; first = false) {
        const Result<bool> taken = lock->tryTake();
        if (!taken.whole())
            return TakenPort::failure(taken.problems);
        if (taken.value)
            return {std::move(lock), {}, {}};
        if (first) {
            if (waiting)
                waiting(QStringLiteral("%1 is still taken by an earlier flashing tool (%2); "
                                       "waiting for it to end")
                            .arg(flasherPortName(port), path));
            clock.start();
            continue;
        }
        if (flashersStopping())
            return notTaken(flashersStoppedMessage());
        if (wait && clock.elapsed() >= wait->count())
            return notTaken(portBusyMessage(port, path));
        std::this_thread::sleep_for(kRetryInterval);
    }
}

PortLock::~PortLock()
{
    handOver();
}

void PortLock::handOver()
{
#ifdef Q_OS_UNIX
    // Closed, never unlocked: an unlock would free the port under the tool that inherited it.
    if (m_descriptor >= 0)
        ::close(m_descriptor);
#endif
    m_descriptor = -1;
}

bool PortLock::retake(std::chrono::milliseconds wait)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const Result<bool> taken = tryTake();
        // A lock file that can no longer be opened tells nothing of who holds the port.
        if (!taken.whole())
            return false;
        if (taken.value)
            return true;
        if (clock.elapsed() >= wait.count())
            return false;
        std::this_thread::sleep_for(kRetryInterval);
    }
}

Result<bool> PortLock::tryTake()
{
    if (m_descriptor >= 0)
        return {true, {}, {}};
#ifdef Q_OS_UNIX
    const Result<int> opened = openLockDescriptor(m_path);
    if (!opened.whole())
        return Result<bool>::failure(
            {{{}, {}, cannotCreateFileMessage(m_path, opened.problems.first().text)}});
    const int descriptor = opened.value;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return {false, {}, {}};
    }
    m_descriptor = descriptor;
    return {true, {}, {}};
#else
    // Where there is no flock, the port is not guarded beyond the one tool waited for.
    return {true, {}, {}};
#endif
}

} // namespace quillner
