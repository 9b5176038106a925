#pragma once

#include <QString>

namespace quillner {

// The folders and files of the run. Folder fields hold no trailing separator.
struct AppPaths
{
    QString ExeDir;
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

// folder, a separator and name; a folder that already ends in a separator gets no second one.
QString joinPath(const QString& folder, const QString& name);
QString settingsFilePath(const AppPaths& paths);

// Fills paths for the executable folder exeDir: creates MASTER and PROJECTS when missing and
// restores the remembered project. Returns whether that project's folder was found.
bool ResolveAppPaths(AppPaths& paths, const QString& exeDir);

void SetDocumentPaths(AppPaths& paths);

// The two halves of opening a project around the folder browser: before it, a project folder
// that has gone is forgotten; after it, the chosen folder (or, when cancelled, the kept one)
// becomes the project and its name is the path below PROJECTS.
void prepareOpenProject(AppPaths& paths);
void finishOpenProject(AppPaths& paths, const QString* chosenFolder);

// Stores ProjectName in the settings file; throws "Unable to write to <path>".
void SaveLastProject(const AppPaths& paths);

} // namespace quillner
