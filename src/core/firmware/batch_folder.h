#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;

namespace quillner {

// The folder of one batch row, built aside and put in place only once complete: a failed row
// leaves no folder, and an existing project of the row's name is replaced only when it holds
// nothing but what a batch row writes.
class RowFolder
{
public:
    // Throws when the row's place holds anything but a batch project (then it is left as it is)
    // or the folder to build in cannot be made.
    RowFolder(const QString& outFolder, const QString& name, const QString& mergedName);
    ~RowFolder();

    RowFolder(const RowFolder&) = delete;
    RowFolder& operator=(const RowFolder&) = delete;

    // Where the row is built.
    QString buildFolder() const;
    // The row's place: OUT/NAME.
    const QString& target() const { return m_target; }

    // Puts the built folder in the row's place, replacing the older project there. Throws when
    // it cannot; the older project then stays.
    void putInPlace();

private:
    QString m_outFolder;
    QString m_name;
    QString m_target;
    bool m_replaces = false;
    std::unique_ptr<QTemporaryDir> m_staging;
};

} // namespace quillner
