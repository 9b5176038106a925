#pragma once

#include "core/app/app_paths.h"
#include "core/app/result.h"

#include <QString>

namespace quillner {

// The firmware in the MASTER folder; a project's merged copy is named after it.
inline constexpr auto kDefaultFirmwareName = "SX51804.sx";
inline constexpr auto kBuildManifestName = "manifest.json";
// The folder of a project that holds its bank files.
inline constexpr auto kBinFolderName = "bin";
inline constexpr auto kManifestSignatureName = "manifest.json.minisig";

// "New_" + the firmware's file name: the merged firmware in the project folder.
QString newFirmwareName(const QString& firmwareName);

// Every path of one project, made once from its folder: callers take a field instead of
// joining names to the folder themselves, so that a project's layout is written down here only.
struct ProjectLayout
{
    QString folder;
    QString pargen;
    QString var;
    QString filter20A;
    QString filter20B;
    QString binFolder;
    QString bankBinary; // bin/bank1.bin
    QString bankSource; // bin/bankg.c
    QString lockFile;   // .quillner.lock
    QString manifest;
    QString manifestSignature;

    static ProjectLayout of(const QString& projectDir);
    // The merged firmware of firmwareName in this project: New_SX51804.sx by default.
    QString
    mergedFirmware(const QString& firmwareName = QString::fromLatin1(kDefaultFirmwareName)) const;
};

// The paths of one project folder given by itself (outside the main window's run).
AppPaths projectPaths(const QString& projectDir);

// The paths of the project folder named on a command line or in a request, made absolute; a
// problem, "Project not valid: DIR is not a folder", when no folder stands there.
Result<AppPaths> existingProjectPaths(const QString& projectDir);

} // namespace quillner
