#include "core/app/app_paths.h"

#include "core/app/project_layout.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/profile_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace quillner {

namespace {

const QString kSection = QStringLiteral("lastproj");
const QString kKey = QStringLiteral("projectname");

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// Whether folder, once every symbolic link on its way is followed, is PROJECTS or lies below it.
bool staysInProjects(const QString& projectsDir, const QString& folder)
{
    const QString root = QFileInfo(projectsDir).canonicalFilePath();
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty() || real.isEmpty())
        return false;
    return real == root || real.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

} // namespace

bool isBelowProjects(const QString& projectsDir, const QString& folder)
{
    const auto real = [](const QString& path) {
        const QFileInfo info(toNativeSeparators(path));
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    };
    if (projectsDir.isEmpty() || folder.isEmpty())
        return false;
    const QString root = real(projectsDir);
    const QString path = real(folder);
    return path != root && path.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

bool hasOpenProject(const AppPaths& paths)
{
    if (!isFolder(paths.ProjectDir))
        return false;
    return paths.ProjectsDir.isEmpty() || isBelowProjects(paths.ProjectsDir, paths.ProjectDir);
}

QString missingProjectMessage(const AppPaths& paths)
{
    if (paths.ProjectDir.isEmpty())
        return QStringLiteral("Project not valid");
    return hasOpenProject(paths) ? QString() : QString::fromLatin1(kNoProjectMessage);
}

QString openProjectName(const AppPaths& paths)
{
    if (!hasOpenProject(paths))
        return {};
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(paths.ProjectDir));
    if (paths.ProjectsDir.isEmpty())
        return QFileInfo(folder).fileName();
    return QDir(QDir::fromNativeSeparators(paths.ProjectsDir)).relativeFilePath(folder);
}

bool climbsOut(const QString& name)
{
    static const QRegularExpression separators(QStringLiteral("[\\\\/]"));
    return name.split(separators).contains(QStringLiteral(".."));
}

QString joinPath(const QString& folder, const QString& name)
{
    if (!folder.isEmpty() && isSeparator(folder.back()))
        return folder + name;
    return folder + QDir::separator() + name;
}

QString settingsFilePath(const AppPaths& paths)
{
    return joinPath(paths.DataDir, QString::fromLatin1(kSettingsFileName));
}

QString standardDataFolder()
{
    // Named here rather than through the application name, which is the window title
    // "Firmware Quillner" in the windows and "quillner-cli" on the command line.
    return QDir::toNativeSeparators(
        joinPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                 QStringLiteral("Quillner")));
}

bool isSystemProgramFolder(const QString& exeDir)
{
#ifdef Q_OS_UNIX
    const QString folder = QDir::cleanPath(exeDir);
    for (const auto* system : {"/bin", "/sbin", "/usr", "/opt"}) {
        const QString prefix = QString::fromLatin1(system);
        if (folder == prefix || folder.startsWith(prefix + u'/'))
            return true;
    }
#else
    Q_UNUSED(exeDir);
#endif
    return false;
}

bool isPortableFolder(const QString& exeDir, bool exeDirWritable)
{
    const QDir folder(exeDir);
    return exeDirWritable || folder.exists(QString::fromLatin1(kSettingsFileName)) ||
           folder.exists(QStringLiteral("PROJECTS"));
}

QString chooseDataFolder(const QString& exeDir, const QString& homeOption,
                         const QString& standardDataDir, bool exeDirWritable)
{
    if (!homeOption.isEmpty())
        return QDir::toNativeSeparators(QFileInfo(homeOption).absoluteFilePath());
    if (isPortableFolder(exeDir, exeDirWritable))
        return QDir::toNativeSeparators(QDir::cleanPath(exeDir));
    return QDir::toNativeSeparators(QDir::cleanPath(standardDataDir));
}

QString chooseDataFolder(const QString& exeDir, const QString& homeOption,
                         const QString& standardDataDir)
{
    // The system's program folders are writable for root, but a tool installed there is never a
    // portable one: root would otherwise keep its projects among the programs.
    const QFileInfo folder(exeDir);
    return chooseDataFolder(exeDir, homeOption, standardDataDir,
                            folder.isDir() && folder.isWritable() &&
                                !isSystemProgramFolder(exeDir));
}

QStringList helperProgramFolders(const QString& exeDir, const QString& dataDir)
{
    QStringList folders{exeDir};
    if (!dataDir.isEmpty() && QDir::cleanPath(dataDir) != QDir::cleanPath(exeDir))
        folders.append(dataDir);
    return folders;
}

QString helperProgramFolder(const QString& exeDir, const QString& dataDir,
                            const QString& programName)
{
    for (const QString& folder : helperProgramFolders(exeDir, dataDir)) {
        if (QFileInfo(joinPath(folder, programName)).isFile())
            return folder;
    }
    return exeDir;
}

bool ResolveAppPaths(AppPaths& paths, const QString& exeDir, const QString& dataDir)
{
    paths = AppPaths{};
    paths.ExeDir = QDir::toNativeSeparators(QDir::cleanPath(exeDir));
    paths.DataDir =
        dataDir.isEmpty() ? paths.ExeDir : QDir::toNativeSeparators(QDir::cleanPath(dataDir));
    paths.MasterDir = joinPath(paths.DataDir, QStringLiteral("MASTER"));
    paths.ProjectsDir = joinPath(paths.DataDir, QStringLiteral("PROJECTS"));
    // The per-user data folder is made with all its levels at the first start; the portable
    // folder exists already. A folder that cannot be created is not fatal here: every later
    // step says what is missing.
    if (paths.DataDir != paths.ExeDir)
        QDir().mkpath(paths.DataDir);
    QDir().mkdir(paths.MasterDir);
    QDir().mkdir(paths.ProjectsDir);

    paths.ProjectName = readProfileString(settingsFilePath(paths), kSection, kKey);
    // A name that climbs out of PROJECTS (edited by hand, or received with a data folder) is no
    // remembered project: it is neither opened nor written back.
    if (climbsOut(paths.ProjectName))
        paths.ProjectName.clear();
    if (!paths.ProjectName.isEmpty() && !isSeparator(paths.ProjectName.front()))
        paths.ProjectName.prepend(QDir::separator());

    // The remembered name is kept as read, even when its folder has gone, so that it is
    // written back unchanged; only the folder look-up uses the platform's separators. A folder
    // that is a symbolic link out of PROJECTS is not opened.
    const QString candidate = paths.ProjectsDir + toNativeSeparators(paths.ProjectName);
    const bool restored = !paths.ProjectName.isEmpty() && isFolder(candidate) &&
                          staysInProjects(paths.ProjectsDir, candidate);
    paths.ProjectDir = restored ? candidate : paths.ProjectsDir;
    SetDocumentPaths(paths);
    return restored;
}

void SetDocumentPaths(AppPaths& paths)
{
    const ProjectLayout layout = ProjectLayout::of(paths.ProjectDir);
    paths.PargenPath = layout.pargen;
    paths.VarPath = layout.var;
    paths.Filter20APath = layout.filter20A;
    paths.Filter20BPath = layout.filter20B;
}

void prepareOpenProject(AppPaths& paths)
{
    if (!isFolder(paths.ProjectDir))
        paths.ProjectDir.clear();
}

void finishOpenProject(AppPaths& paths, const QString* chosenFolder)
{
    if (chosenFolder) {
        const QString folder = QDir::toNativeSeparators(QDir::cleanPath(*chosenFolder));
        if (!staysInProjects(paths.ProjectsDir, folder)) {
            throw Error(QStringLiteral("Project not valid: \"%1\" leads out of \"%2\"")
                            .arg(folder, paths.ProjectsDir));
        }
        paths.ProjectDir = folder;
    }
    paths.ProjectName = paths.ProjectDir.mid(paths.ProjectsDir.size());
    SetDocumentPaths(paths);
}

Result<bool> SaveLastProject(const AppPaths& paths)
{
    return writeProfileString(settingsFilePath(paths), kSection, kKey, paths.ProjectName);
}

} // namespace quillner
