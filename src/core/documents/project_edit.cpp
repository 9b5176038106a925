#include "core/documents/project_edit.h"

#include "core/app/project_output.h"

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

void ProjectEdit::checkOutput(const QString& path) const
{
    checkProjectOutput(m_projectDir, path);
}

} // namespace quillner
