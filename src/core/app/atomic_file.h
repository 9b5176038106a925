#pragma once

#include "core/app/result.h"

#include <QFileDevice>
#include <QIODevice>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace quillner {

// A file that replaces the one at its path in one step, written as a stream: the bytes go to a
// file beside the target (its name, a dot and six letters or digits), which takes the target's
// name only on commit(), once every byte is written and, unless asked otherwise, on the disk. A
// writer dropped before commit(), or a commit() that fails, removes the file beside, so that a
// crash, a full disk or a file size limit leaves the old file or the new one, never half of
// one. A symbolic link at the target is replaced, never followed: what it points to is left as
// it is.
//
// Every write goes on after a short write, so that the next one tells the system's reason ("No
// space left on device", "File too large"); a write that fails makes every later write and the
// commit() fail with that reason.
class AtomicFile final : public QIODevice
{
public:
    // Synced: the bytes and the new name are on the disk when commit() returns. NotSynced: for a
    // file that is made again before each use, where the time to wait for the disk buys nothing.
    enum class Durability { Synced, NotSynced };

    struct Options
    {
        // Set before the first byte is written, so that a secret is never readable by others
        // for a moment; without them, what the system gives a new file.
        std::optional<QFileDevice::Permissions> permissions = std::nullopt;
        Durability durability = Durability::Synced;
        // The system's write and fsync; a test puts in one that fails as a full disk does.
        ssize_t (*write)(int descriptor, const void* data, size_t length) = nullptr;
        int (*sync)(int descriptor) = nullptr;
    };

    explicit AtomicFile(QString path, Options options);
    explicit AtomicFile(QString path) : AtomicFile(std::move(path), Options{}) {}
    ~AtomicFile() override;

    // Makes the file beside the target and opens it for writing. A problem "Cannot create file
    // "path". cause" when it cannot be made.
    Result<Done> create();
    // Takes the target's name; the same problem when a write failed or the name cannot be
    // taken. The file is closed afterwards either way.
    Result<Done> commit();

    QString targetPath() const { return m_path; }
    // Where the bytes go until commit(); empty when none is open.
    QString asidePath() const { return m_asidePath; }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxLength) override;
    qint64 writeData(const char* data, qint64 length) override;

private:
    Result<Done> failure(const QString& cause);
    void discard();

    const QString m_path;
    const Options m_options;
    QString m_asidePath;
    int m_descriptor = -1;
    // The first failure of a write, with the system's reason.
    QString m_writeFault;
};

} // namespace quillner
