#include "core/app/app_paths.h"

#include "core/app/file_io.h"
#include "core/app/profile_file.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

namespace {

const QString kSection = QStringLiteral("lastproj");
const QString kKey = QStringLiteral("projectname");

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

QString joinPath(const QString& folder, const QString& name)
{
    if (!folder.isEmpty() && isSeparator(folder.back()))
        return folder + name;
    return folder + QDir::separator() + name;
}

QString settingsFilePath(const AppPaths& paths)
{
    return joinPath(paths.ExeDir, QString::fromLatin1(kSettingsFileName));
}

bool ResolveAppPaths(AppPaths& paths, const QString& exeDir)
{
    paths = AppPaths{};
    paths.ExeDir = QDir::toNativeSeparators(QDir::cleanPath(exeDir));
    paths.MasterDir = joinPath(paths.ExeDir, QStringLiteral("MASTER"));
    paths.ProjectsDir = joinPath(paths.ExeDir, QStringLiteral("PROJECTS"));
    // A folder that cannot be created is not fatal here: every later step says what is missing.
    QDir().mkdir(paths.MasterDir);
    QDir().mkdir(paths.ProjectsDir);

    paths.ProjectName = readProfileString(settingsFilePath(paths), kSection, kKey);
    if (!paths.ProjectName.isEmpty() && !isSeparator(paths.ProjectName.front()))
        paths.ProjectName.prepend(QDir::separator());

    // The remembered name is kept as read, even when its folder has gone, so that it is
    // written back unchanged; only the folder look-up uses the platform's separators.
    const QString candidate = paths.ProjectsDir + toNativeSeparators(paths.ProjectName);
    const bool restored = !paths.ProjectName.isEmpty() && isFolder(candidate);
    paths.ProjectDir = restored ? candidate : paths.ProjectsDir;
    SetDocumentPaths(paths);
    return restored;
}

void SetDocumentPaths(AppPaths& paths)
{
    paths.PargenPath = joinPath(paths.ProjectDir, QStringLiteral("pargen.xml"));
    paths.VarPath = joinPath(paths.ProjectDir, QStringLiteral("var.xml"));
    paths.Filter20APath = joinPath(paths.ProjectDir, QStringLiteral("Filter20A.xml"));
    paths.Filter20BPath = joinPath(paths.ProjectDir, QStringLiteral("Filter20B.xml"));
}

void prepareOpenProject(AppPaths& paths)
{
    if (!isFolder(paths.ProjectDir))
        paths.ProjectDir.clear();
}

void finishOpenProject(AppPaths& paths, const QString* chosenFolder)
{
    if (chosenFolder)
        paths.ProjectDir = QDir::toNativeSeparators(QDir::cleanPath(*chosenFolder));
    paths.ProjectName = paths.ProjectDir.mid(paths.ProjectsDir.size());
    SetDocumentPaths(paths);
}

void SaveLastProject(const AppPaths& paths)
{
    writeProfileString(settingsFilePath(paths), kSection, kKey, paths.ProjectName);
}

} // namespace quillner
