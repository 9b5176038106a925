#pragma once

#include "core/app/result.h"

#include <QString>
#include <QStringList>

namespace quillner {

// The folders and files of the run. Folder fields hold no trailing separator.
struct AppPaths
{
    QString ExeDir;
    QString DataDir; // holds Quillner.ini, MASTER and PROJECTS: ExeDir in a portable folder
    QString MasterDir;
    QString ProjectsDir;
    QString ProjectName; // as the caption shows it; may begin with a separator; may be empty
    QString ProjectDir;  // ProjectsDir itself when no project is open
    QString PargenPath;
    QString VarPath;
    QString Filter20APath;
    QString Filter20BPath;
};

inline constexpr auto kSettingsFileName = "Quillner.ini";

// Whether a name below a folder climbs out of it on its own: a ".." among its names ("\" or "/"
// between them).
bool climbsOut(const QString& name);

// folder, a separator and name; a folder that already ends in a separator gets no second one.
QString joinPath(const QString& folder, const QString& name);
QString settingsFilePath(const AppPaths& paths);

// The per-user data folder of an installed tool (~/.local/share/Quillner on Linux).
QString standardDataFolder();

// Whether exeDir is one of the system's program folders (/usr/..., /bin, /sbin, /opt/...), where
// an installed tool lives.
bool isSystemProgramFolder(const QString& exeDir);

// Whether exeDir is a portable folder that keeps the settings, MASTER and PROJECTS beside the
// executable: it is writable, or it already holds Quillner.ini or PROJECTS (a read-only copy
// of a portable folder stays portable).
bool isPortableFolder(const QString& exeDir, bool exeDirWritable);

// The folder of Quillner.ini, MASTER and PROJECTS: the --home folder when one is given, else
// the executable's folder when it is portable, else the per-user standardDataDir. The second
// form asks the file system whether exeDir is writable; a system program folder counts as not
// writable, even for root.
QString chooseDataFolder(const QString& exeDir, const QString& homeOption,
                         const QString& standardDataDir, bool exeDirWritable);
QString chooseDataFolder(const QString& exeDir, const QString& homeOption,
                         const QString& standardDataDir);

// The folders a helper program such as the flashing tool is looked for in, in order: the
// executable's folder, then the data folder when it is another one.
QStringList helperProgramFolders(const QString& exeDir, const QString& dataDir);
// The first of those folders that holds the program; the executable's folder when none holds
// it, so that a "not found" names the usual place.
QString helperProgramFolder(const QString& exeDir, const QString& dataDir,
                            const QString& programName);

// Fills paths for the executable folder exeDir and the data folder dataDir (exeDir itself when
// empty): creates the data folder, MASTER and PROJECTS when missing and restores the
// remembered project. Returns whether that project's folder was found. A remembered name with a
// ".." among its names is no remembered project; a folder that is a symbolic link out of
// PROJECTS is not restored.
bool ResolveAppPaths(AppPaths& paths, const QString& exeDir, const QString& dataDir = {});

void SetDocumentPaths(AppPaths& paths);

// The two halves of opening a project around the folder browser: before it, a project folder
// that has gone is forgotten; after it, the chosen folder (or, when cancelled, the kept one)
// becomes the project and its name is the path below PROJECTS. A chosen folder that leads out of
// PROJECTS (a symbolic link to elsewhere) throws "Project not valid: ..." and changes nothing.
void prepareOpenProject(AppPaths& paths);
void finishOpenProject(AppPaths& paths, const QString* chosenFolder);

// The answer of every step that needs a project while none is open.
inline constexpr auto kNoProjectMessage = "Open or create a project first.";

// Whether folder lies below projectsDir, once every symbolic link on the way is followed:
// projectsDir itself holds the projects and is none. A folder that does not exist yet is
// judged by its path.
bool isBelowProjects(const QString& projectsDir, const QString& folder);

// Whether a project is open: ProjectDir is an existing folder below PROJECTS. Without a PROJECTS
// folder (a project named on the command line) any existing folder is one.
bool hasOpenProject(const AppPaths& paths);

// Why a step that reads or writes the project cannot run: "Project not valid" when ProjectDir
// is empty (its folder went and the folder browser was cancelled), kNoProjectMessage when no
// project is open; empty when one is.
QString missingProjectMessage(const AppPaths& paths);

// The open project's name as the user knows it: its path below PROJECTS ("Alpha", or
// "Alpha/bin" for a deeper folder), the folder's own name without a PROJECTS folder; empty when
// no project is open.
QString openProjectName(const AppPaths& paths);

// Stores ProjectName in the settings file; throws "Unable to write to <path>". A settings file
// that could not be read whole is kept as it is: the value is false, the problem says why.
Result<bool> SaveLastProject(const AppPaths& paths);

} // namespace quillner
