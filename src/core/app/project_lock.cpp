#include "core/app/project_lock.h"

#include "core/app/error.h"
#include "core/app/project_layout.h"

namespace quillner {

QString projectLockPath(const QString& projectDir)
{
    return ProjectLayout::of(projectDir).lockFile;
}

QString projectBusyMessage(const QString& projectDir)
{
    return QStringLiteral("Project %1 is busy (another Quillner is updating it)").arg(projectDir);
}

ProjectLock::ProjectLock(const QString& projectDir, std::chrono::milliseconds wait)
    : m_lock(projectLockPath(projectDir))
{
    // Without a project there is nothing to lock, and no folder to write into either.
    if (projectDir.isEmpty())
        throw Error(QStringLiteral("Project not valid"));
    wholeValue(m_lock.take(wait, projectBusyMessage(projectDir)));
}

ProjectLock::~ProjectLock() = default;

void ProjectLock::unlock()
{
    m_lock.release();
}

} // namespace quillner
