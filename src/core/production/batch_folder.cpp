#include "core/production/batch_folder.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/project_lock.h"
#include "core/production/batch_entries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

namespace quillner {

namespace {

const QString kWorkFolderName = QStringLiteral(".quillner-batch");
const QString kOutputLockName = QStringLiteral(".quillner-batch.lock");
// In the work folder: a row being built, a row built and ready to go in (or, once it went in, the
// older project it replaced), and an older project moved aside during the swap.
const QString kBuildingSuffix = QStringLiteral(".build");
const QString kReadySuffix = QStringLiteral(".new");
const QString kAsideSuffix = QStringLiteral(".old");
// The mark a batch writes into the work folder it makes: only what is in a folder so marked, and
// only folders there that are no symbolic link, are ever taken for what a killed batch left.
const QString kWorkMarkName = QStringLiteral("made-by-quillner-batch");
const QByteArray kWorkMark = "The work folder of a Quillner batch: rows are built here.\n";

QString nameWithout(const QString& entry, const QString& suffix)
{
    return entry.left(entry.size() - suffix.size());
}

} // namespace

BatchOutput::BatchOutput(const QString& folder, const QString& mergedName)
    : m_folder(folder), m_mergedName(mergedName), m_lock(joinPath(folder, kOutputLockName))
{
    if (!QDir().mkpath(folder))
        throw Error(cannotCreateFileMessage(folder, QStringLiteral("cannot make the folder")));
    // As for a project: a lock whose batch no longer runs is taken over, whatever its age.
    wholeValue(
        m_lock.take(std::chrono::milliseconds::zero(),
                    QStringLiteral("%1 is busy (another batch is writing into it)").arg(folder)));
    takeWorkFolder();
    recover();
}

BatchOutput::~BatchOutput()
{
    // Only the mark left: the work folder goes with it.
    const QString work = workFolder();
    if (QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                             QDir::NoDotAndDotDot) == QStringList{kWorkMarkName}) {
        QFile::remove(joinPath(work, kWorkMarkName));
        QDir().rmdir(work);
    }
}

void BatchOutput::takeWorkFolder()
{
    const QString work = workFolder();
    const QFileInfo found(work);
    if (found.isSymLink() || (found.exists() && !found.isDir()))
        throw Error(QStringLiteral("%1 is %2, not the work folder of a batch; nothing is written "
                                   "or deleted through it: remove it once no batch runs")
                        .arg(work, found.isSymLink() ? QStringLiteral("a symbolic link")
                                                     : QStringLiteral("a file")));
    if (!found.exists() && !QDir().mkdir(work))
        throw Error(cannotCreateFileMessage(work, QStringLiteral("cannot make the folder")));
    const QFileInfo mark(joinPath(work, kWorkMarkName));
    if (mark.isFile() && !mark.isSymLink())
        return;
    const QStringList held =
        QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (!held.isEmpty())
        throw Error(QStringLiteral("%1 holds what no batch marked as its own (%2); it is left as "
                                   "it is: move it away before the next batch")
                        .arg(work, held.join(QStringLiteral(", "))));
    writeFileAtomically(mark.filePath(), kWorkMark);
}

QString BatchOutput::workFolder() const
{
    return joinPath(m_folder, kWorkFolderName);
}

void BatchOutput::recover()
{
    const QString& mergedName = m_mergedName;
    noteEarlierVersion();
    const QString work = workFolder();
    QList<QFileInfo> folders;
    for (const QFileInfo& entry : entriesOf(work)) {
        if (entry.fileName() == kWorkMarkName && entry.isFile() && !entry.isSymLink())
            continue;
        if (isRealFolder(entry))
            folders.append(entry);
        else
            m_notes.append(QStringLiteral("kept %1: %2, which no batch makes here")
                               .arg(entry.filePath(), entry.isSymLink()
                                                          ? QStringLiteral("a symbolic link")
                                                          : QStringLiteral("not a folder")));
    }
    // Rows that were being built: nothing of them ever was in place.
    for (const QFileInfo& entry : folders) {
        if (entry.fileName().endsWith(kBuildingSuffix) &&
            QDir(entry.filePath()).removeRecursively())
            m_notes.append(QStringLiteral("removed %1, a row a killed batch was building")
                               .arg(entry.filePath()));
    }
    // An older project moved aside: it goes back when its row's place is empty (killed between
    // the two steps of the swap), else the swap was complete and it is the replaced one.
    for (const QFileInfo& entry : folders) {
        if (!entry.fileName().endsWith(kAsideSuffix))
            continue;
        const QString name = nameWithout(entry.fileName(), kAsideSuffix);
        const QString target = joinPath(m_folder, name);
        if (renameFolder(entry.filePath(), target)) {
            m_notes.append(
                QStringLiteral("restored %1, which a killed batch had moved aside").arg(target));
        } else {
            m_notes.append(QStringLiteral("removed %1, the project a killed batch had replaced")
                               .arg(entry.filePath()));
            m_notes += disposeFolder(entry.filePath(), m_folder, name, mergedName);
        }
    }
    // A row built and not put in place, or the older project it replaced.
    for (const QFileInfo& entry : folders) {
        if (!entry.fileName().endsWith(kReadySuffix))
            continue;
        m_notes.append(QStringLiteral("removed %1, which a killed batch left (a row built and not "
                                      "put in place, or the project it replaced)")
                           .arg(entry.filePath()));
        m_notes += disposeFolder(entry.filePath(), m_folder,
                                 nameWithout(entry.fileName(), kReadySuffix), mergedName);
    }
}

void BatchOutput::noteEarlierVersion()
{
    // Earlier versions built each row in a hidden ".NAME.XXXXXX" beside the projects and moved an
    // older project aside into another such folder, without a mark: what looks like one may as
    // well be a user's copy (cp -a OUT/R00 OUT/.R00.backup), so it is kept and named.
    static const QRegularExpression hidden(QStringLiteral("^\\.(.+)\\.[A-Za-z0-9]{6}$"));
    for (const QFileInfo& entry : entriesOf(m_folder)) {
        const QRegularExpressionMatch match = hidden.match(entry.fileName());
        if (!match.hasMatch() || !isRealFolder(entry))
            continue;
        const QString name = match.captured(1);
        const QStringList content =
            QDir(entry.filePath())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (content.contains(name) ||
            content.contains(QFileInfo(projectPaths(name).PargenPath).fileName()) ||
            content.contains(QFileInfo(projectPaths(name).VarPath).fileName()))
            m_notes.append(QStringLiteral("kept %1: it may be what an earlier version of Quillner "
                                          "left when killed, or a copy of yours; no batch marked "
                                          "it, so it is left for you to remove")
                               .arg(entry.filePath()));
    }
}

RowFolder::RowFolder(const BatchOutput& output, const QString& name, const QString& mergedName)
    : m_outFolder(output.folder()), m_workFolder(output.workFolder()), m_name(name),
      m_mergedName(mergedName), m_target(joinPath(output.folder(), name)),
      m_build(joinPath(output.workFolder(), name + kBuildingSuffix))
{
    const QFileInfo existing(m_target);
    m_replaces = existing.exists() || existing.isSymLink();
    if (m_replaces) {
        const QStringList foreign = existing.isSymLink() || !existing.isDir()
                                        ? QStringList{QStringLiteral("not a folder")}
                                        : foreignEntries(m_target, mergedName);
        if (!foreign.isEmpty())
            throw Error(QStringLiteral("%1 exists and holds more than a batch project (%2); it is "
                                       "left as it is")
                            .arg(m_target, foreign.join(QStringLiteral(", "))));
        m_targetState = stateBytes(folderState(m_target));
    }
    if (!QDir().mkpath(m_workFolder) || !QDir().mkdir(m_build))
        throw Error(cannotCreateFileMessage(m_build, QStringLiteral("cannot make the folder")));
}

RowFolder::~RowFolder()
{
    if (!m_inPlace)
        QDir(m_build).removeRecursively();
}

Result<QStringList> RowFolder::putInPlace()
{
    const auto refused = [](const QString& text) {
        return Result<QStringList>::failure({Problem{{}, {}, text}});
    };
    // Complete: from here on a killed batch leaves a row that the next run puts away whole.
    const QString ready = joinPath(m_workFolder, m_name + kReadySuffix);
    if (!renameFolder(m_build, ready))
        return refused(
            cannotCreateFileMessage(ready, QStringLiteral("cannot rename %1").arg(m_build)));
    m_build = ready;
    if (!m_replaces) {
        if (!renameFolder(ready, m_target))
            return refused(
                QStringLiteral("%1 appeared while its row was built; it is left as it is")
                    .arg(m_target));
        m_inPlace = true;
        return {QStringList(), {}, {}};
    }

    // The row's place is locked at every moment of the swap: before it by the older project's
    // lock, after it by the new folder's own, which moves in with it. Once the two folders have
    // changed places each lock names the other's file; both are this batch's, and each one's
    // unlocking removes one of them.
    ProjectLock incoming(ready);
    ProjectLock existing(m_target);
    const QMap<QString, QByteArray> before = stateOfBytes(m_targetState);
    const QStringList changed = changedNames(before, folderState(m_target));
    if (!changed.isEmpty())
        return refused(
            QStringLiteral("%1 changed while its row was built (%2); it is left as it is")
                .arg(m_target, changed.join(QStringLiteral(", "))));

    QString older = ready;
    if (!exchangeFolders(m_target, ready)) {
        // In three steps, each of which the next run finishes or rolls back: the older project
        // aside, the new one in, the older one to where the new one was.
        const QString aside = joinPath(m_workFolder, m_name + kAsideSuffix);
        if (!renameFolder(m_target, aside))
            return refused(cannotCreateFileMessage(
                m_target, QStringLiteral("the older project folder cannot be moved aside")));
        if (!renameFolder(ready, m_target)) {
            renameFolder(aside, m_target);
            return refused(
                cannotCreateFileMessage(m_target, QStringLiteral("cannot rename %1").arg(ready)));
        }
        if (!renameFolder(aside, ready))
            older = aside;
    }
    m_inPlace = true;
    existing.unlock();
    incoming.unlock();
    return {disposeFolder(older, m_outFolder, m_name, m_mergedName), {}, {}};
}

} // namespace quillner
