#pragma once

#include "core/app/result.h"

#include <QString>

#include <chrono>
#include <memory>

class QLockFile;

namespace quillner {

// A lock file opened as a lock must be: without waiting (a FIFO in its place would hold open()
// for good), without following a symbolic link, and only when it is a regular file. The value
// is the descriptor (closed on exec); otherwise the problem's text says why: "a FIFO", "a
// folder", "a symbolic link", or the system's text.
Result<int> openLockDescriptor(const QString& path);

// A lock file held by an flock on it from the moment it is taken until it is let go, and then
// removed; while held it names its owner (process id, program and host, as QLockFile writes
// them) for whoever finds it taken. A file that nobody holds is taken over when it names no
// owner it can read (left empty, or holding NUL bytes or junk by a crash) or an owner of this
// host that no longer runs. Anything else keeps it taken, and the message says which file it
// is and how to remove it safely.
class LockFile
{
public:
    explicit LockFile(QString path);
    // Lets the lock go.
    ~LockFile();

    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    const QString& path() const { return m_path; }
    bool held() const;

    // Takes the lock, trying again while a running owner holds it until wait is over. Refused
    // with busyMessage, followed on its next line by what keeps the lock taken (naming the file
    // and how to remove it safely), or "Cannot create file ..." when no lock file can be made.
    Result<Done> take(std::chrono::milliseconds wait, const QString& busyMessage);
    // Removes the file and lets the lock go; a lock not held is left as it is.
    void release();

private:
    QString m_path;
    int m_descriptor = -1;
    std::unique_ptr<QLockFile> m_portable; // where there is no flock (Windows)
};

} // namespace quillner
