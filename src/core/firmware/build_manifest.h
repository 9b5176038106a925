#pragma once

#include "core/app/result.h"
#include "core/bank/bank_compiler.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace quillner {

// The record of one merged firmware, kept beside it as manifest.json: which master, which bank
// and which merged file (each by its name relative to the project folder and its SHA-256) and
// what configuration the bank holds. It holds no absolute path and no clock reading, so two builds
// of the same project give the same bytes, wherever they are made.

struct BuildManifest
{
    QString masterFile;      // "SX51804.sx"
    QByteArray masterSha256; // hexadecimal digits
    QString bankFile;        // "bin/bank1.bin"
    QByteArray bankSha256;
    QString mergedFile; // "New_SX51804.sx"
    QByteArray mergedSha256;
    ConfigurationBank bank{}; // described in the manifest
    // The moment of the build, given only for reproducible builds (SOURCE_DATE_EPOCH).
    std::optional<qint64> builtAt;
};

// The configuration the bank holds, as the manifest describes it.
QJsonObject manifestDescription(const ConfigurationBank& bank);

// The manifest's bytes: indented JSON, keys in order.
QByteArray buildManifestBytes(const BuildManifest& manifest);

// SOURCE_DATE_EPOCH, in seconds since 1970 UTC, when it is set to a whole number; else none.
std::optional<qint64> sourceDateEpoch();

// Writes the manifest into the folder, replacing any older one in one step.
void writeBuildManifest(const QString& folder, const BuildManifest& manifest);

// What a manifest says of the files it names, read back to check them.
struct ManifestFiles
{
    QString toolVersion;
    QString masterFile; // as written: relative to the project folder, or the firmware's name
    QByteArray masterSha256;
    QString bankFile;
    QByteArray bankSha256;
    QString mergedFile;
    QByteArray mergedSha256;
};

// The files of a manifest's bytes, or the problem of what the bytes are instead of a manifest of
// schema 1 (its file and place are the caller's to name).
Result<ManifestFiles> parseManifestFiles(const QByteArray& bytes);

} // namespace quillner
