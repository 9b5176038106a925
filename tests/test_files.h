#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Reading and writing whole fixture files in tests.
namespace quillner::testing {

// The file's bytes, or nothing when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the bytes, creating the folders on the way; false when that fails.
[[nodiscard]] inline bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

[[nodiscard]] inline bool writeFile(const QString& path, const char* content)
{
    return writeFile(path, QByteArray(content));
}

[[nodiscard]] inline bool writeFile(const QString& path, const QString& text)
{
    return writeFile(path, text.toUtf8());
}

} // namespace quillner::testing
