#include "core/app/file_io.h"

#include "core/app/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <memory>
#include <vector>

namespace quillner {

QString cannotCreateFileMessage(const QString& path, const QString& cause)
{
    return QStringLiteral("Cannot create file \"%1\". %2").arg(path, cause);
}

QString cannotOpenFileMessage(const QString& path, const QString& cause)
{
    return QStringLiteral("Cannot open file \"%1\". %2").arg(path, cause);
}

QString cannotReadFileMessage(const QString& path, const QString& cause)
{
    return QStringLiteral("Cannot read file \"%1\". %2").arg(path, cause);
}

void writeFileAtomically(const QString& path, const QByteArray& data,
                         std::optional<QFileDevice::Permissions> permissions)
{
    writeFilesAtomically({{path, data, permissions}});
}

void writeFilesAtomically(const QList<FileContent>& files)
{
    // A file not committed is removed with its QSaveFile: an early throw leaves every target
    // as it was.
    std::vector<std::unique_ptr<QSaveFile>> written;
    for (const FileContent& content : files) {
        auto file = std::make_unique<QSaveFile>(content.path);
        if (!file->open(QIODevice::WriteOnly) ||
            (content.permissions && !file->setPermissions(*content.permissions)))
            throw Error(cannotCreateFileMessage(content.path, file->errorString()));
        // A small file stays in the device's buffer until the end: flush it here, because a
        // failure of that last write is not seen by commit(), which would then put the partial
        // file in place of the good one.
        if (!writeAll(*file, content.data.constData(), content.data.size()) || !file->flush() ||
            file->error() != QFileDevice::NoError)
            throw Error(cannotCreateFileMessage(content.path, file->errorString()));
        written.push_back(std::move(file));
    }
    // Only a rename can fail from here on.
    for (size_t i = 0; i < written.size(); ++i) {
        if (!written[i]->commit())
            throw Error(
                cannotCreateFileMessage(files[qsizetype(i)].path, written[i]->errorString()));
    }
}

QByteArray readFileBytes(const QString& path, FileSize size)
{
    const auto cannotOpen = [&path](const QString& cause) {
        return Error(cannotOpenFileMessage(path, cause));
    };
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw cannotOpen(QStringLiteral("It is not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw cannotOpen(file.errorString());
    // One byte more than allowed tells a file that is too large without reading all of it.
    const QByteArray bytes = file.read(size.bytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw Error(cannotReadFileMessage(path, file.errorString()));
    if (size.exact && bytes.size() != size.bytes) {
        const qint64 held = bytes.size() > size.bytes ? file.size() : bytes.size();
        throw Error(
            QStringLiteral("%1 holds %2 bytes, not %3").arg(path).arg(held).arg(size.bytes));
    }
    if (bytes.size() > size.bytes)
        throw Error(QStringLiteral("%1 holds more than %2 bytes").arg(path).arg(size.bytes));
    return bytes;
}

bool writeAll(QIODevice& device, const char* data, qint64 length)
{
    qint64 written = 0;
    while (written < length) {
        const qint64 part = device.write(data + written, length - written);
        if (part <= 0)
            return false;
        written += part;
    }
    return true;
}

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

QString toNativeSeparators(QString path)
{
    const QChar native = QDir::separator();
    for (QChar& c : path) {
        if (isSeparator(c))
            c = native;
    }
    return path;
}

QString absoluteNativePath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(toNativeSeparators(path)).absoluteFilePath());
}

} // namespace quillner
