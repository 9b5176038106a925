#pragma once

#include <QString>

#include <chrono>
#include <memory>

class QLockFile;

namespace quillner {

// How long a compile, merge or update waits for another one of the same project to end.
inline constexpr std::chrono::milliseconds kProjectLockWait{5000};

// The lock file in the project folder, held while a command writes the project's outputs.
QString projectLockPath(const QString& projectDir);

// "Project DIR is busy (another Quillner is updating it)"
QString projectBusyMessage(const QString& projectDir);

// Takes a lock file for a process that may run for minutes: a lock is never taken from a process
// that still runs, whatever its age, and a lock file that a killed process left behind is taken
// over, the one it left empty too (killed between making the file and writing its id into it).
// False when another process holds the lock for the whole wait; lock.error() then says why.
bool takeLockFile(QLockFile& lock, std::chrono::milliseconds wait);

// Holds the project's lock from construction until unlock() or destruction, so that two
// compiles, merges or updates of one project, in this process or in others, never write the
// same files at once. A lock left by a process that no longer runs is taken over. Throws the
// busy message when the project stays locked for the whole wait, "Cannot create file ..." when
// the lock file cannot be made and "Project not valid" without a project folder.
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
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace quillner
