#include "core/documents/project_edit.h"

#include "core/app/project_output.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

QString unreadableDocumentRefusal(const QString& name, const Problems& problems)
{
    return problemLines(problems).join(u'\n') +
           QStringLiteral("\n%1 cannot be read, so it is not rewritten; correct it or save it in "
                          "its window first")
               .arg(name);
}

ProjectEdit::ProjectEdit(const QString& projectDir, std::chrono::milliseconds wait)
    : m_projectDir(projectDir)
{
    if (projectDir.isEmpty() || QFileInfo(projectDir).isDir())
        m_lock.emplace(projectDir, wait);
}

namespace {

// The project folder of the run's paths, once it is known to be one.
const QString& projectFolderOf(const AppPaths& paths)
{
    if (paths.ProjectsDir.isEmpty() || paths.ProjectDir.isEmpty() ||
        isBelowProjects(paths.ProjectsDir, paths.ProjectDir))
        return paths.ProjectDir;
    const QString folder = QDir::toNativeSeparators(paths.ProjectDir);
    const QString projects = QDir::toNativeSeparators(paths.ProjectsDir);
    if (QDir::cleanPath(QDir::fromNativeSeparators(folder)) ==
        QDir::cleanPath(QDir::fromNativeSeparators(projects)))
        throw Error(QStringLiteral("\"%1\" holds the projects and is none itself: %2")
                        .arg(folder, QLatin1StringView(kNoProjectMessage).toString().toLower()));
    throw Error(
        QStringLiteral("\"%1\" is not a project folder below \"%2\": %3")
            .arg(folder, projects, QLatin1StringView(kNoProjectMessage).toString().toLower()));
}

} // namespace

ProjectEdit::ProjectEdit(const AppPaths& paths, std::chrono::milliseconds wait)
    : ProjectEdit(projectFolderOf(paths), wait)
{
}

void ProjectEdit::checkOutput(const QString& path) const
{
    checkProjectOutput(m_projectDir, path);
}

} // namespace quillner
