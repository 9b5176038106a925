#pragma once

#include "core/app/lock_file.h"

#include <QString>

#include <chrono>

namespace quillner {

// How long a compile, merge or update waits for another one of the same project to end.
inline constexpr std::chrono::milliseconds kProjectLockWait{5000};

// The lock file in the project folder, held while a command writes the project's outputs.
QString projectLockPath(const QString& projectDir);

// "Project DIR is busy (another Quillner is updating it)"
QString projectBusyMessage(const QString& projectDir);

// Holds the project's lock from construction until unlock() or destruction, so that two
// compiles, merges or updates of one project, in this process or in others, never write the
// same files at once. A lock left by a process that no longer runs is taken over, whatever its
// age (a merge may run for minutes). Throws the busy message, with the lock file and what keeps
// it taken on its next line, when the project stays locked for the whole wait, "Cannot create
// file ..." when the lock file cannot be made and "Project not valid" without a project folder.
class ProjectLock
{
public:
    explicit ProjectLock(const QString& projectDir,
                         std::chrono::milliseconds wait = kProjectLockWait);
    ~ProjectLock();

    ProjectLock(const ProjectLock&) = delete;
    ProjectLock& operator=(const ProjectLock&) = delete;

    void unlock();

private:
    LockFile m_lock;
};

} // namespace quillner
