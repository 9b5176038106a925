#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>

namespace quillner {

// What a batch's folders hold, and the moves and removals a batch makes in them: only what a
// batch row writes is ever removed, never through a symbolic link, and a folder is moved only
// where nothing is.

// The names a batch row writes into its folder, besides its bin folder; everything else in a
// row's folder is the user's.
QStringList batchOutputNames(const QString& mergedName);

// Every entry of the folder, hidden ones too, by name.
QFileInfoList entriesOf(const QString& folder);

// What the folder holds that a batch row does not write, by names relative to it; a folder
// without pargen.xml is no batch project at all.
QStringList foreignEntries(const QString& folder, const QString& mergedName);

// A description of each entry of a batch project, so that a change made while its row was built
// shows: names, sizes, times and the content of every file but a large one. The lock file is no
// part of the project.
QMap<QString, QByteArray> folderState(const QString& folder);
// The description as bytes to keep, and back.
QByteArray stateBytes(const QMap<QString, QByteArray>& state);
QMap<QString, QByteArray> stateOfBytes(const QByteArray& bytes);
// The names whose description differs between the two, or that are in one only.
QStringList changedNames(const QMap<QString, QByteArray>& before,
                         const QMap<QString, QByteArray>& now);

// Renames the folder, never onto an existing entry: a folder that appeared meanwhile is the
// user's.
bool renameFolder(const QString& from, const QString& to);
// Swaps two folders in one step where the system can; false where it cannot (then nothing
// changed).
bool exchangeFolders(const QString& a, const QString& b);

// Removes what a batch row writes from a folder that is no longer a row's (an older project that
// was replaced, or a row built but never put in place), then the folder itself. Anything else in
// it is the user's: it is kept, in a visible folder beside the projects. batchOnly: the folder
// was never a project of the user's (a row being built). Returns a note of what was kept.
QStringList disposeFolder(const QString& folder, const QString& outFolder, const QString& name,
                          const QString& mergedName, bool batchOnly = false);

// A folder that is no symbolic link: the only kind a batch ever deletes from or moves.
bool isRealFolder(const QFileInfo& entry);

} // namespace quillner
