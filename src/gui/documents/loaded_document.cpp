#include "gui/documents/loaded_document.h"

#include "core/app/error.h"
#include "core/app/sha256.h"
#include "gui/app/ui_seams.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

LoadedDocument::State LoadedDocument::stateOf(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {Presence::Missing, {}};
    try {
        return {Presence::Readable, sha256OfFile(path)};
    } catch (const Error&) {
        // A file that cannot be read now was no document the window showed: the window showed
        // its defaults and reported why.
        return {Presence::Unreadable, {}};
    }
}

void LoadedDocument::remember(const QString& path)
{
    m_path = path;
    m_state = stateOf(path);
}

bool LoadedDocument::changedOnDisk() const
{
    return !m_path.isEmpty() && stateOf(m_path) != m_state;
}

bool mayOverwrite(QWidget* parent, const LoadedDocument& document)
{
    if (!document.changedOnDisk())
        return true;
    const QString name = QFileInfo(document.path()).fileName();
    return askYesNo(
        parent,
        QStringLiteral("%1 was changed on disk after this window read it:\n%2\n\nOverwrite the "
                       "file's values with the ones shown here? No keeps the file's values and "
                       "shows them.")
            .arg(name, QDir::toNativeSeparators(document.path())),
        QStringLiteral("&Overwrite"), QStringLiteral("&Keep the file's values"));
}

} // namespace quillner
