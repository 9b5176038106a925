#include "core/firmware/batch_folder.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/bank_import.h"
#include "core/firmware/build_manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

namespace quillner {

namespace {

constexpr QFileDevice::Permissions kFolderPermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

// Whether the folder holds nothing but what a batch row writes: a batch may then replace it,
// and no file of the user's is lost with it.
bool holdsOnlyBatchOutputs(const QString& folder, const QString& mergedName)
{
    const QStringList projectFiles =
        projectDocumentNames() +
        QStringList{mergedName, QString::fromLatin1(kBuildManifestName), QStringLiteral("bin")};
    const QStringList binFiles{QFileInfo(bankBinaryPath(folder)).fileName(),
                               QFileInfo(bankSourcePath(folder)).fileName()};
    const auto only = [](const QString& path, const QStringList& allowed) {
        const QFileInfoList entries = QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                               QDir::System | QDir::NoDotAndDotDot);
        return std::all_of(entries.cbegin(), entries.cend(), [&](const QFileInfo& entry) {
            return !entry.isSymLink() && allowed.contains(entry.fileName()) &&
                   (entry.fileName() == QLatin1StringView("bin")) == entry.isDir();
        });
    };
    return QFileInfo::exists(joinPath(folder, QStringLiteral("pargen.xml"))) &&
           only(folder, projectFiles) && only(joinPath(folder, QStringLiteral("bin")), binFiles);
}

std::unique_ptr<QTemporaryDir> hiddenFolderFor(const QString& outFolder, const QString& name)
{
    return std::make_unique<QTemporaryDir>(
        joinPath(outFolder, u'.' + name + QStringLiteral(".XXXXXX")));
}

} // namespace

RowFolder::RowFolder(const QString& outFolder, const QString& name, const QString& mergedName)
    : m_outFolder(outFolder), m_name(name), m_target(joinPath(outFolder, name))
{
    const QFileInfo existing(m_target);
    m_replaces = existing.exists() || existing.isSymLink();
    if (m_replaces &&
        (existing.isSymLink() || !existing.isDir() || !holdsOnlyBatchOutputs(m_target, mergedName)))
        throw Error(QStringLiteral("%1 exists and holds more than a batch project; it is left as "
                                   "it is")
                        .arg(m_target));
    m_staging = hiddenFolderFor(outFolder, name);
    if (!m_staging->isValid())
        throw Error(cannotCreateFileMessage(m_target, m_staging->errorString()));
    QFile::setPermissions(buildFolder(), kFolderPermissions);
}

RowFolder::~RowFolder() = default;

QString RowFolder::buildFolder() const
{
    return QDir::toNativeSeparators(m_staging->path());
}

void RowFolder::putInPlace()
{
    // An older project of this name goes aside first and is removed once the new one is in place.
    std::unique_ptr<QTemporaryDir> older;
    if (m_replaces) {
        older = hiddenFolderFor(m_outFolder, m_name);
        if (!older->isValid() || !QDir().rename(m_target, older->filePath(m_name)))
            throw Error(cannotCreateFileMessage(m_target, QStringLiteral("the older project folder "
                                                                         "cannot be moved aside")));
    }
    if (!QDir().rename(buildFolder(), m_target)) {
        if (older)
            QDir().rename(older->filePath(m_name), m_target);
        throw Error(cannotCreateFileMessage(m_target,
                                            QStringLiteral("cannot rename %1").arg(buildFolder())));
    }
    m_staging->setAutoRemove(false);
}

} // namespace quillner
