#include "core/production/batch_folder.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/project_lock.h"
#include "core/app/sha256.h"
#include "core/bank/bank_files.h"
#include "core/bank/bank_import.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/manifest_signature.h"
#include "core/update/device_update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#ifdef Q_OS_LINUX
#include <cstdio>
#include <fcntl.h>
#endif

namespace quillner {

namespace {

const QString kWorkFolderName = QStringLiteral(".quillner-batch");
const QString kOutputLockName = QStringLiteral(".quillner-batch.lock");
// In the work folder: a row being built, a row built and ready to go in (or, once it went in, the
// older project it replaced), and an older project moved aside during the swap.
const QString kBuildingSuffix = QStringLiteral(".build");
const QString kReadySuffix = QStringLiteral(".new");
const QString kAsideSuffix = QStringLiteral(".old");
const QString kBinFolderName = QStringLiteral("bin");
// The mark a batch writes into the work folder it makes: only what is in a folder so marked, and
// only folders there that are no symbolic link, are ever taken for what a killed batch left.
const QString kWorkMarkName = QStringLiteral("made-by-quillner-batch");
const QByteArray kWorkMark = "The work folder of a Quillner batch: rows are built here.\n";

// Files up to this size are compared by their content, larger ones (a merged firmware) by size
// and times: every command that rewrites a merged firmware rewrites its manifest as well.
constexpr qint64 kMostHashedBytes = qint64(4) << 20;

QStringList binOutputNames(const QString& folder)
{
    return {QFileInfo(bankBinaryPath(folder)).fileName(),
            QFileInfo(bankSourcePath(folder)).fileName()};
}

QString lockFileName()
{
    return QFileInfo(projectLockPath(QStringLiteral("."))).fileName();
}

// The files of a project's lock: the lock itself, and the one beside it through which a lock that
// a killed process left is taken over (a kill at that moment leaves it).
QStringList lockFileNames()
{
    return {lockFileName(), lockFileName() + QStringLiteral(".rmlock")};
}

QFileInfoList entriesOf(const QString& folder)
{
    return QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// What the folder holds that a batch row does not write, by names relative to it; a folder
// without pargen.xml is no batch project at all.
QStringList foreignEntries(const QString& folder, const QString& mergedName)
{
    QStringList foreign;
    const QStringList topNames = batchOutputNames(mergedName);
    const QStringList binNames = binOutputNames(folder);
    for (const QFileInfo& entry : entriesOf(folder)) {
        const QString name = entry.fileName();
        if (name == kBinFolderName && entry.isDir() && !entry.isSymLink()) {
            for (const QFileInfo& inner : entriesOf(entry.filePath())) {
                if (inner.isSymLink() || !inner.isFile() || !binNames.contains(inner.fileName()))
                    foreign.append(kBinFolderName + u'/' + inner.fileName());
            }
        } else if (entry.isSymLink() || !entry.isFile() || !topNames.contains(name)) {
            foreign.append(name);
        }
    }
    const QFileInfo pargen(projectPaths(folder).PargenPath);
    if (!pargen.isFile())
        foreign.prepend(QStringLiteral("no ") + pargen.fileName());
    return foreign;
}

// A description of each entry of a batch project, so that a change made while its row was built
// shows: names, sizes, times and the content of every file but a large one. The lock file is no
// part of the project.
QMap<QString, QByteArray> folderState(const QString& folder)
{
    QMap<QString, QByteArray> state;
    const auto describe = [&](const QString& prefix, const QFileInfo& entry) {
        QByteArray text = QByteArray::number(entry.size()) + ' ' +
                          QByteArray::number(entry.lastModified().toMSecsSinceEpoch()) + ' ' +
                          QByteArray::number(entry.metadataChangeTime().toMSecsSinceEpoch());
        if (entry.isDir()) {
            text = "folder";
        } else if (entry.isFile() && entry.size() <= kMostHashedBytes) {
            QByteArray hash = "unreadable";
            try {
                hash = sha256OfFile(entry.filePath());
            } catch (const Error&) {
            }
            text += ' ' + hash;
        }
        state.insert(prefix + entry.fileName(), text);
    };
    for (const QFileInfo& entry : entriesOf(folder)) {
        if (lockFileNames().contains(entry.fileName()))
            continue;
        describe({}, entry);
        if (entry.fileName() == kBinFolderName && entry.isDir() && !entry.isSymLink()) {
            for (const QFileInfo& inner : entriesOf(entry.filePath()))
                describe(kBinFolderName + u'/', inner);
        }
    }
    return state;
}

QByteArray stateBytes(const QMap<QString, QByteArray>& state)
{
    QByteArray bytes;
    for (auto it = state.cbegin(); it != state.cend(); ++it)
        bytes += it.key().toUtf8() + '\0' + it.value() + '\n';
    return bytes;
}

QStringList changedNames(const QMap<QString, QByteArray>& before,
                         const QMap<QString, QByteArray>& now)
{
    QStringList names;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (before.value(it.key()) != it.value())
            names.append(it.key());
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!now.contains(it.key()))
            names.append(it.key());
    }
    return names;
}

QMap<QString, QByteArray> stateOfBytes(const QByteArray& bytes)
{
    QMap<QString, QByteArray> state;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype separator = line.indexOf('\0');
        if (separator > 0)
            state.insert(QString::fromUtf8(line.left(separator)), line.mid(separator + 1));
    }
    return state;
}

bool renameFolder(const QString& from, const QString& to)
{
    // Never onto an existing entry: a folder that appeared meanwhile is the user's.
    return !QFileInfo::exists(to) && !QFileInfo(to).isSymLink() && QDir().rename(from, to);
}

// Swaps two folders in one step where the system can; false where it cannot (then nothing
// changed).
bool exchangeFolders(const QString& a, const QString& b)
{
#if defined(Q_OS_LINUX) && defined(RENAME_EXCHANGE)
    return ::renameat2(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD,
                       QFile::encodeName(b).constData(), RENAME_EXCHANGE) == 0;
#else
    Q_UNUSED(a);
    Q_UNUSED(b);
    return false;
#endif
}

// A place for what the user wrote into a project that a batch replaced: a visible folder beside
// the projects, never over anything.
QString keptFolderName(const QString& outFolder, const QString& name)
{
    for (int n = 1; n < 1000; ++n) {
        const QString candidate =
            joinPath(outFolder,
                     name + (n == 1 ? QStringLiteral(".kept") : QStringLiteral(".kept-%1").arg(n)));
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
    return {};
}

// Removes the files of the folder that bear the names and, in a folder that only a batch ever
// wrote into, the temporary files of theirs that a killed writer left ("pargen.xml.AbC123": each
// file is written beside its place, then renamed).
void removeFilesNamed(const QString& folder, const QStringList& names, bool withTemporaries)
{
    static const QRegularExpression temporary(QStringLiteral("^(.+)\\.[A-Za-z0-9]{6}$"));
    for (const QFileInfo& entry : entriesOf(folder)) {
        const QRegularExpressionMatch match = temporary.match(entry.fileName());
        if (entry.isFile() && !entry.isSymLink() &&
            (names.contains(entry.fileName()) ||
             (withTemporaries && match.hasMatch() && names.contains(match.captured(1)))))
            QFile::remove(entry.filePath());
    }
}

// Removes what a batch row writes from a folder that is no longer a row's (an older project that
// was replaced, or a row built but never put in place), then the folder itself. Anything else in
// it is the user's: it is kept, in a visible folder beside the projects. batchOnly: the folder
// was never a project of the user's (a row being built). Returns a note of what was kept.
QStringList disposeFolder(const QString& folder, const QString& outFolder, const QString& name,
                          const QString& mergedName, bool batchOnly = false)
{
    const QString bin = joinPath(folder, kBinFolderName);
    if (QFileInfo(bin).isDir() && !QFileInfo(bin).isSymLink()) {
        removeFilesNamed(bin, binOutputNames(folder), batchOnly);
        QDir().rmdir(bin);
    }
    removeFilesNamed(folder, batchOutputNames(mergedName), batchOnly);
    if (QDir().rmdir(folder) || !QFileInfo::exists(folder))
        return {};
    const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                    QDir::NoDotAndDotDot);
    const QString kept = keptFolderName(outFolder, name);
    if (!kept.isEmpty() && renameFolder(folder, kept))
        return {QStringLiteral("%1 holds what was written into %2 while it was replaced (%3)")
                    .arg(kept, joinPath(outFolder, name), left.join(QStringLiteral(", ")))};
    return {QStringLiteral("%1 holds what was written into %2 while it was replaced (%3); it is "
                           "left there")
                .arg(folder, joinPath(outFolder, name), left.join(QStringLiteral(", ")))};
}

// A folder that is no symbolic link: the only kind a batch ever deletes from or moves.
bool isRealFolder(const QFileInfo& entry)
{
    return !entry.isSymLink() && entry.isDir();
}

QString nameWithout(const QString& entry, const QString& suffix)
{
    return entry.left(entry.size() - suffix.size());
}

} // namespace

QStringList batchOutputNames(const QString& mergedName)
{
    return projectDocumentNames() +
           QStringList{mergedName, QString::fromLatin1(kBuildManifestName),
                       QString::fromLatin1(kManifestSignatureName)} +
           lockFileNames();
}

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

QStringList RowFolder::putInPlace()
{
    // Complete: from here on a killed batch leaves a row that the next run puts away whole.
    const QString ready = joinPath(m_workFolder, m_name + kReadySuffix);
    if (!renameFolder(m_build, ready))
        throw Error(
            cannotCreateFileMessage(ready, QStringLiteral("cannot rename %1").arg(m_build)));
    m_build = ready;
    if (!m_replaces) {
        if (!renameFolder(ready, m_target))
            throw Error(QStringLiteral("%1 appeared while its row was built; it is left as it is")
                            .arg(m_target));
        m_inPlace = true;
        return {};
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
        throw Error(QStringLiteral("%1 changed while its row was built (%2); it is left as it is")
                        .arg(m_target, changed.join(QStringLiteral(", "))));

    QString older = ready;
    if (!exchangeFolders(m_target, ready)) {
        // In three steps, each of which the next run finishes or rolls back: the older project
        // aside, the new one in, the older one to where the new one was.
        const QString aside = joinPath(m_workFolder, m_name + kAsideSuffix);
        if (!renameFolder(m_target, aside))
            throw Error(cannotCreateFileMessage(
                m_target, QStringLiteral("the older project folder cannot be moved aside")));
        if (!renameFolder(ready, m_target)) {
            renameFolder(aside, m_target);
            throw Error(
                cannotCreateFileMessage(m_target, QStringLiteral("cannot rename %1").arg(ready)));
        }
        if (!renameFolder(aside, ready))
            older = aside;
    }
    m_inPlace = true;
    existing.unlock();
    incoming.unlock();
    return disposeFolder(older, m_outFolder, m_name, m_mergedName);
}

} // namespace quillner
