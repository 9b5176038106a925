#include "core/app/project_lock.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QLockFile>

namespace quillner {

QString projectLockPath(const QString& projectDir)
{
    return joinPath(projectDir, QStringLiteral(".quillner.lock"));
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
    // A merge of a large firmware on a slow disk may run for minutes: the lock is never taken
    // from a process that still runs, whatever its age. The owner's process id in the file
    // tells a lock that a killed Quillner left behind.
    m_lock->setStaleLockTime(std::chrono::milliseconds::zero());
    if (m_lock->tryLock(wait))
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
