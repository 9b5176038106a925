#pragma once

#include "core/app/lock_file.h"
#include "core/app/result.h"

#include <QString>
#include <QStringList>

namespace quillner {

// The output folder of a batch. One batch at a time writes into it: a second one is refused as
// busy. Rows are built in its work folder, OUT/.quillner-batch, and put in place from there;
// what a killed batch left in the work folder is finished or rolled back before anything else,
// so that no rerun meets it again and nothing of the user's is lost with it. Only what the batch
// marked as its own is ever deleted or moved: its work folder holds a mark it wrote, and a
// symbolic link where it expects its own file or folder is refused or kept, never followed.
class BatchOutput
{
public:
    // Makes the folder when missing and takes it. mergedName is the merged firmware's name in
    // each row ("New_SX51804.sx"), a batch's own file. Throws "OUT is busy (another batch is
    // writing into it)" while another batch holds it, or when it cannot be made or taken.
    BatchOutput(const QString& folder, const QString& mergedName);
    // Removes the work folder once it is empty and lets the folder go.
    ~BatchOutput();

    BatchOutput(const BatchOutput&) = delete;
    BatchOutput& operator=(const BatchOutput&) = delete;

    const QString& folder() const { return m_folder; }
    QString workFolder() const;
    // What was found from a killed batch and what became of it, one line each: "restored
    // OUT/Alpha, which a killed batch had moved aside".
    const QStringList& notes() const { return m_notes; }

private:
    void takeWorkFolder();
    void recover();
    void noteEarlierVersion();

    QString m_folder;
    QString m_mergedName;
    LockFile m_lock;
    QStringList m_notes;
};

// The folder of one batch row, built aside in the work folder and put in place only once
// complete: a failed row leaves no folder. An existing project of the row's name is replaced
// only when it holds nothing but what a batch row writes, and only when it is as it was when the
// row began: a file written into it meanwhile, or a set, leaves it as it is and fails the row.
class RowFolder
{
public:
    // Throws when the row's place holds anything but a batch project (then it is left as it is)
    // or the folder to build in cannot be made.
    RowFolder(const BatchOutput& output, const QString& name, const QString& mergedName);
    // A row not put in place leaves nothing behind.
    ~RowFolder();

    RowFolder(const RowFolder&) = delete;
    RowFolder& operator=(const RowFolder&) = delete;

    // Where the row is built.
    const QString& buildFolder() const { return m_build; }
    // The row's place: OUT/NAME.
    const QString& target() const { return m_target; }

    // Puts the built folder in the row's place. An older project there is replaced under its
    // project lock, held for the whole swap, and only when it has not changed since the row
    // began. A problem when it cannot be done; the older project then stays as it is. Returns
    // what was kept that the batch did not write (files written into the older project during
    // the swap itself). Throws when a project lock cannot be taken.
    Result<QStringList> putInPlace();

private:
    QString m_outFolder;
    QString m_workFolder;
    QString m_name;
    QString m_mergedName;
    QString m_target;
    QString m_build;
    bool m_replaces = false;
    bool m_inPlace = false;
    QByteArray m_targetState; // what the older project held when the row began
};

} // namespace quillner
