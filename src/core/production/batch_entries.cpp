#include "core/production/batch_entries.h"

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

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#ifdef Q_OS_LINUX
#include <cstdio>
#include <fcntl.h>
#endif

namespace quillner {

namespace {

const QString kBinFolder = QString::fromLatin1(kBinFolderName);

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

} // namespace

QStringList batchOutputNames(const QString& mergedName)
{
    return projectDocumentNames() +
           QStringList{mergedName, QString::fromLatin1(kBuildManifestName),
                       QString::fromLatin1(kManifestSignatureName)} +
           lockFileNames();
}

QFileInfoList entriesOf(const QString& folder)
{
    return QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList foreignEntries(const QString& folder, const QString& mergedName)
{
    QStringList foreign;
    const QStringList topNames = batchOutputNames(mergedName);
    const QStringList binNames = binOutputNames(folder);
    for (const QFileInfo& entry : entriesOf(folder)) {
        const QString name = entry.fileName();
        if (name == kBinFolder && entry.isDir() && !entry.isSymLink()) {
            for (const QFileInfo& inner : entriesOf(entry.filePath())) {
                if (inner.isSymLink() || !inner.isFile() || !binNames.contains(inner.fileName()))
                    foreign.append(kBinFolder + u'/' + inner.fileName());
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
        if (entry.fileName() == kBinFolder && entry.isDir() && !entry.isSymLink()) {
            for (const QFileInfo& inner : entriesOf(entry.filePath()))
                describe(kBinFolder + u'/', inner);
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

QStringList disposeFolder(const QString& folder, const QString& outFolder, const QString& name,
                          const QString& mergedName, bool batchOnly)
{
    const QString bin = ProjectLayout::of(folder).binFolder;
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

bool isRealFolder(const QFileInfo& entry)
{
    return !entry.isSymLink() && entry.isDir();
}

} // namespace quillner
