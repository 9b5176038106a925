#include "core/documents/new_project.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/documents/general_parameters.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

namespace {

bool leavesDestination(const QString& name)
{
    if (isSeparator(name.front()) || QDir::isAbsolutePath(name))
        return true;
    if (name.size() >= 2 && name[1] == u':') // a drive letter
        return true;
    return climbsOut(name);
}

void refuse(NewProjectAttempt& attempt, const QString& message)
{
    attempt.problems.append({{}, {}, message});
}

} // namespace

NewProjectAttempt createProjectFolder(AppPaths& paths, const QString& destination,
                                      const QString& name)
{
    NewProjectAttempt attempt;
    if (destination.isEmpty())
        refuse(attempt, QStringLiteral("directory destination not valid"));
    if (name.isEmpty() || leavesDestination(name))
        refuse(attempt, QStringLiteral("Name project not valid"));
    if (!attempt.problems.isEmpty())
        return attempt;

    const QString folder = destination + QDir::separator() + toNativeSeparators(name);
    if (QFileInfo::exists(folder) && QFileInfo(folder).isDir()) {
        refuse(attempt, QStringLiteral("Name project not valid because directory already exists"));
        return attempt;
    }
    // One level only: a name whose upper folders do not exist is refused without a message.
    if (!QDir().mkdir(folder))
        return attempt;
    QDir().mkpath(ProjectLayout::of(folder).binFolder);

    paths.ProjectName = name;
    paths.ProjectDir = folder;
    SetDocumentPaths(paths);
    attempt.value = true;
    return attempt;
}

void writeNewProjectDocuments(const AppPaths& paths)
{
    saveGeneralParameters(paths.PargenPath, GeneralParameters{});
    saveTranslateTable(paths.VarPath);
}

AppPaths createProjectAt(const QString& folder)
{
    const QString path = QDir::toNativeSeparators(
        QDir::cleanPath(QFileInfo(toNativeSeparators(folder)).absoluteFilePath()));
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        throw Error(QStringLiteral("Cannot create project %1: the folder %2 does not exist")
                        .arg(path, QDir::toNativeSeparators(info.absolutePath())));
    if (info.exists() || info.isSymLink()) {
        const bool emptyFolder = info.isDir() && !info.isSymLink() &&
                                 QDir(path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                    QDir::Hidden | QDir::System);
        if (!emptyFolder)
            throw Error(QStringLiteral("Cannot create project %1: it exists and is not an empty "
                                       "folder")
                            .arg(path));
    } else if (!QDir().mkdir(path)) {
        throw Error(QStringLiteral("Cannot create folder \"%1\"").arg(path));
    }
    AppPaths paths;
    paths.ProjectDir = path;
    SetDocumentPaths(paths);
    if (const QString bin = ProjectLayout::of(path).binFolder; !QDir().mkpath(bin))
        throw Error(QStringLiteral("Cannot create folder \"%1\"").arg(bin));
    writeNewProjectDocuments(paths);
    return paths;
}

} // namespace quillner
