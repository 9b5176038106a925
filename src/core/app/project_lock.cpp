#include "core/app/project_lock.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"

#include <QFile>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <thread>

namespace quillner {

namespace {

// Removes the lock file at path when it is empty and no process holds it, twice seen so a moment
// apart (an owner makes the file and locks it at once); true when it was removed.
bool removeAbandonedEmptyLock(const QString& path)
{
#ifdef Q_OS_UNIX
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A running owner holds an flock on its lock file from a moment after it made it until it
    // lets it go; so does another process taking this abandoned file over.
    struct stat opened
    {
    };
    const auto emptyAndLockedHere = [&] {
        return ::fstat(fd, &opened) == 0 && opened.st_size == 0 &&
               ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    };
    bool abandoned = emptyAndLockedHere();
    if (abandoned) {
        ::flock(fd, LOCK_UN);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abandoned = emptyAndLockedHere();
    }
    // Held until the file is gone, and only the file looked at goes: not one that another
    // process made meanwhile under its name.
    struct stat named
    {
    };
    abandoned = abandoned && ::stat(nativePath.constData(), &named) == 0 &&
                named.st_dev == opened.st_dev && named.st_ino == opened.st_ino &&
                ::unlink(nativePath.constData()) == 0;
    ::close(fd);
    return abandoned;
#else
    Q_UNUSED(path);
    return false;
#endif
}

} // namespace

bool takeLockFile(QLockFile& lock, std::chrono::milliseconds wait)
{
    // The owner's process id in the file tells a lock that a killed process left behind; no lock
    // is stale by its age alone.
    lock.setStaleLockTime(std::chrono::milliseconds::zero());
    if (lock.tryLock(std::chrono::milliseconds::zero()))
        return true;
    if (lock.error() != QLockFile::LockFailedError)
        return false;
    if (removeAbandonedEmptyLock(lock.fileName()) &&
        lock.tryLock(std::chrono::milliseconds::zero()))
        return true;
    if (lock.tryLock(wait))
        return true;
    return lock.error() == QLockFile::LockFailedError &&
           removeAbandonedEmptyLock(lock.fileName()) &&
           lock.tryLock(std::chrono::milliseconds::zero());
}

QString projectLockPath(const QString& projectDir)
{
    return ProjectLayout::of(projectDir).lockFile;
}

QString projectBusyMessage(const QString& projectDir)
{
    return QStringLiteral("Project %1 is busy (another Quillner is updating it)").arg(projectDir);
}

ProjectLock::ProjectLock(const QString& projectDir, std::chrono::milliseconds wait)
    : m_lock(std::make_unique<QLockFile>(projectLockPath(projectDir)))
{
    // Without a project there is nothing to lock, and no folder to write into either.
    if (projectDir.isEmpty())
        throw Error(QStringLiteral("Project not valid"));
    // A merge of a large firmware on a slow disk may run for minutes.
    if (takeLockFile(*m_lock, wait))
        return;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        throw Error(projectBusyMessage(projectDir));
    case QLockFile::PermissionError:
        throw Error(cannotCreateFileMessage(projectLockPath(projectDir),
                                            QStringLiteral("Permission denied")));
    default:
        throw Error(cannotCreateFileMessage(projectLockPath(projectDir),
                                            QStringLiteral("The lock file cannot be made")));
    }
}

ProjectLock::~ProjectLock() = default;

void ProjectLock::unlock()
{
    m_lock->unlock();
}

} // namespace quillner
