#include "core/app/new_project.h"

#include "core/app/file_io.h"

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
    QDir().mkpath(folder + QDir::separator() + QStringLiteral("bin"));

    paths.ProjectName = name;
    paths.ProjectDir = folder;
    SetDocumentPaths(paths);
    attempt.value = true;
    return attempt;
}

} // namespace quillner
