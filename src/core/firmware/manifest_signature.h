#pragma once

#include "core/app/result.h"
#include "core/app/signing.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillner {

// A build's manifest signed in minisign's format: manifest.json.minisig beside manifest.json,
// whose trusted comment names the device and the merged file's SHA-256. The manifest itself is
// not touched, so that its bytes stay those any build of the same inputs gives; a signature made
// for one build therefore holds for every build of the same inputs.

// The signature file of a manifest: its path with ".minisig" added, as minisign names it.
QString manifestSignaturePath(const QString& manifestPath);

// The keys in their files, read and checked; the problem "KEY: why" (its file the key's path)
// when a file holds no such key. Throws when the file cannot be read.
Result<SigningKey> readSigningKey(const QString& path);
Result<PublicKey> readPublicKey(const QString& path);

// The device a build is for: its project's (or its row's) name, and its serial number when there
// is one.
struct SignedDevice
{
    QString name;
    QString serial;
};

// {"device":"Line 7","merged":"New_SX51804.sx","serial":"SN-7","sha256":"…"}: one line of JSON.
QString manifestTrustedComment(const SignedDevice& device, const QString& mergedFile,
                               const QByteArray& mergedSha256);

// Signs the manifest of the project folder, which names the merged file and its SHA-256: writes
// manifest.json.minisig beside it in one step. The problem "MANIFEST: why" when the manifest
// names no merged file; throws when it cannot be read or the signature cannot be written.
Result<Done> signManifest(const QString& projectFolder, const SigningKey& key,
                          const SignedDevice& device);

// What a check of a signed build found.
struct SignedBuildCheck
{
    // Each names the file at fault: the signature ("manifest.json.minisig: …"), the manifest
    // ("manifest.json: changed since it was signed"), or a file that is not the one the manifest
    // names ("New_SX51804.sx: its SHA-256 is …").
    Problems problems;
    QString trustedComment; // when the signature holds
    QStringList matching;   // the files found to be the manifest's, as it names them

    bool holds() const { return problems.isEmpty(); }
};

// Checks the manifest's signature with the key, then, once the manifest is known to be the one
// signed, that the merged file, the bank the manifest names beside it (bin/bank1.bin, when it is
// there) and the master (when its path is given) have the SHA-256 the manifest says. With the
// device to be flashed, the signature must also have been made for it: one build's signature
// holds for every build of the same inputs, so a signed project copied to another device's
// folder would pass otherwise. Throws only when a file cannot be read at all.
SignedBuildCheck checkSignedBuild(const QString& manifestPath, const QString& mergedPath,
                                  const PublicKey& key, const QString& masterPath = {},
                                  const std::optional<SignedDevice>& device = std::nullopt);

} // namespace quillner
