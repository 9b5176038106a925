#include "core/app/project_layout.h"

#include "core/app/file_io.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

QString newFirmwareName(const QString& firmwareName)
{
    return QStringLiteral("New_") + firmwareName;
}

ProjectLayout ProjectLayout::of(const QString& projectDir)
{
    ProjectLayout layout;
    layout.folder = projectDir;
    layout.pargen = joinPath(projectDir, QStringLiteral("pargen.xml"));
    layout.var = joinPath(projectDir, QStringLiteral("var.xml"));
    layout.filter20A = joinPath(projectDir, QStringLiteral("Filter20A.xml"));
    layout.filter20B = joinPath(projectDir, QStringLiteral("Filter20B.xml"));
    layout.binFolder = joinPath(projectDir, QString::fromLatin1(kBinFolderName));
    layout.bankBinary = joinPath(layout.binFolder, QStringLiteral("bank1.bin"));
    layout.bankSource = joinPath(layout.binFolder, QStringLiteral("bankg.c"));
    layout.lockFile = joinPath(projectDir, QStringLiteral(".quillner.lock"));
    layout.manifest = joinPath(projectDir, QString::fromLatin1(kBuildManifestName));
    layout.manifestSignature = joinPath(projectDir, QString::fromLatin1(kManifestSignatureName));
    return layout;
}

QString ProjectLayout::mergedFirmware(const QString& firmwareName) const
{
    return joinPath(folder, newFirmwareName(firmwareName));
}

Result<AppPaths> existingProjectPaths(const QString& projectDir)
{
    AppPaths paths = projectPaths(absoluteNativePath(projectDir));
    if (!QFileInfo(paths.ProjectDir).isDir())
        return Result<AppPaths>::failure(
            {{{},
              {},
              QStringLiteral("Project not valid: %1 is not a folder").arg(paths.ProjectDir)}});
    return {std::move(paths), {}, {}};
}

AppPaths projectPaths(const QString& projectDir)
{
    AppPaths paths;
    paths.ProjectDir = QDir::toNativeSeparators(QDir::cleanPath(toNativeSeparators(projectDir)));
    SetDocumentPaths(paths);
    return paths;
}

} // namespace quillner
