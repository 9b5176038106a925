#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QList>
#include <QString>

#include <optional>

namespace quillner {

// Replaces the file at path in one step: the data goes to a temporary file beside it, which is
// renamed over the target only when complete, so a crash or a full disk leaves the old file or
// the new one, never a truncated one. Throws "Cannot create file "path". cause".
void writeFileAtomically(const QString& path, const QByteArray& data,
                         std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Replaces the files together: each file's data goes to a temporary file beside it, and the
// temporary files are renamed over their targets only once every one is complete, so that a full
// disk or a file size limit leaves all the old files, never some old and some new. Throws
// "Cannot create file "path". cause" for the first file that fails.
struct FileContent
{
    QString path;
    QByteArray data;
    // Set on the temporary file before its first byte is written, so that a secret is never
    // readable by others for a moment; the system's default when empty.
    std::optional<QFileDevice::Permissions> permissions = std::nullopt;
};
void writeFilesAtomically(const QList<FileContent>& files);

// Writes all length bytes, going on after a short write: a write that stops short (a full disk,
// a file size limit) says nothing of why, the next one fails with the system's reason ("No space
// left on device", "File too large"), which the device's errorString() then holds. False when
// not everything was written.
bool writeAll(QIODevice& device, const char* data, qint64 length);

QString cannotCreateFileMessage(const QString& path, const QString& cause);
// "Cannot open file "path". cause" and "Cannot read file "path". cause".
QString cannotOpenFileMessage(const QString& path, const QString& cause);
QString cannotReadFileMessage(const QString& path, const QString& cause);

// How large a file read whole may be: at most, or exactly, this many bytes.
struct FileSize
{
    qint64 bytes = 0;
    bool exact = false;

    static FileSize atMost(qint64 bytes) { return {bytes, false}; }
    static FileSize exactly(qint64 bytes) { return {bytes, true}; }
};

// The whole content of a regular file of the given size, read in one go; never more than the
// size allows is read, so a FIFO, a device or a file that grows cannot hold the reader. Throws
// "Cannot open file "path". cause" (also for what is no regular file), "Cannot read file
// "path". cause", "path holds N bytes, not SIZE" or "path holds more than SIZE bytes".
QByteArray readFileBytes(const QString& path, FileSize size);

// Paths typed by the user or read from a file may use "\" or "/": both become the platform's
// separator before the file system sees them.
QString toNativeSeparators(QString path);
// The path made absolute (against the working folder) with the platform's separators; "\" and
// "/" are both taken as separators in what is given.
QString absoluteNativePath(const QString& path);
bool isSeparator(QChar c);

} // namespace quillner
