#include "core/firmware/manifest_signature.h"

#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/sha256.h"
#include "core/firmware/build_manifest.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillner {

namespace {

// Key, signature and manifest files are small; a larger file is none of them.
constexpr qint64 kMostKeyBytes = 64 * 1024;
constexpr qint64 kMostManifestBytes = 16 << 20;

QByteArray keyFileBytes(const QString& path)
{
    return readFileBytes(toNativeSeparators(path), FileSize::atMost(kMostKeyBytes));
}

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

// The device a trusted comment names; nothing for a comment that names none.
SignedDevice signedDeviceOf(const QString& trustedComment)
{
    const QJsonObject comment = QJsonDocument::fromJson(trustedComment.toUtf8()).object();
    return {comment.value(QStringLiteral("device")).toString(),
            comment.value(QStringLiteral("serial")).toString()};
}

// "device "Line 7" (serial SN-7)", "device "Demo" (no serial)", "no device" (a comment that names
// none).
QString deviceText(const SignedDevice& device)
{
    if (device.name.isEmpty() && device.serial.isEmpty())
        return QStringLiteral("no device");
    return QStringLiteral("device \"%1\" (%2)")
        .arg(device.name, device.serial.isEmpty() ? QStringLiteral("no serial")
                                                  : QStringLiteral("serial ") + device.serial);
}

// What is wrong with a file's content, as one problem of that file: "KEY: why".
template <typename T> Result<T> namedByFile(const QString& path, Result<T> read)
{
    if (!read.whole())
        read.problems = {Problem{path, {}, problemLines(read.problems).join(u' ')}};
    return read;
}

} // namespace

QString manifestSignaturePath(const QString& manifestPath)
{
    return manifestPath + QStringLiteral(".minisig");
}

Result<SigningKey> readSigningKey(const QString& path)
{
    return namedByFile(path, parseSecretKey(keyFileBytes(path)));
}

Result<PublicKey> readPublicKey(const QString& path)
{
    return namedByFile(path, parsePublicKey(keyFileBytes(path)));
}

QString manifestTrustedComment(const SignedDevice& device, const QString& mergedFile,
                               const QByteArray& mergedSha256)
{
    QJsonObject comment{{QStringLiteral("device"), device.name},
                        {QStringLiteral("merged"), mergedFile},
                        {QStringLiteral("sha256"), QString::fromLatin1(mergedSha256)}};
    if (!device.serial.isEmpty())
        comment.insert(QStringLiteral("serial"), device.serial);
    return QString::fromUtf8(QJsonDocument(comment).toJson(QJsonDocument::Compact));
}

Result<Done> signManifest(const QString& projectFolder, const SigningKey& key,
                          const SignedDevice& device)
{
    const QString manifestPath = joinPath(projectFolder, QString::fromLatin1(kBuildManifestName));
    const QByteArray manifest = readFileBytes(manifestPath, FileSize::atMost(kMostManifestBytes));
    const Result<ManifestFiles> files = namedByFile(manifestPath, parseManifestFiles(manifest));
    if (!files.whole())
        return Result<Done>::failure(files.problems);
    writeFileAtomically(manifestSignaturePath(manifestPath),
                        signatureFileText(key, manifest,
                                          manifestTrustedComment(device, files.value.mergedFile,
                                                                 files.value.mergedSha256)));
    return {};
}

SignedBuildCheck checkSignedBuild(const QString& manifestPath, const QString& mergedPath,
                                  const PublicKey& key, const QString& masterPath,
                                  const std::optional<SignedDevice>& device)
{
    SignedBuildCheck check;
    const QString manifestName = fileNameOf(manifestPath);
    const QString signaturePath = manifestSignaturePath(manifestPath);
    const QString signatureName = fileNameOf(signaturePath);
    const QByteArray manifest = readFileBytes(manifestPath, FileSize::atMost(kMostManifestBytes));
    if (!QFileInfo::exists(signaturePath)) {
        check.problems.append(
            {signatureName, {}, QStringLiteral("not found: the manifest is not signed")});
        return check;
    }
    const SignatureCheck signature = checkSignature(
        key, manifest, readFileBytes(signaturePath, FileSize::atMost(kMostKeyBytes)));
    if (!signature.valid) {
        // Only a signature whose own parts still hold clears it of the change.
        if (signature.signatureFileIntact)
            check.problems.append({manifestName,
                                   {},
                                   QStringLiteral("changed since it was signed (the signature "
                                                  "does not match it)")});
        else
            check.problems.append({signatureName, {}, signature.problem});
        return check;
    }
    check.trustedComment = signature.trustedComment;
    if (device) {
        const SignedDevice signedFor = signedDeviceOf(signature.trustedComment);
        if (signedFor.name != device->name || signedFor.serial != device->serial)
            check.problems.append(
                {signatureName,
                 {},
                 QStringLiteral("signed for %1, not for %2, which is to be flashed")
                     .arg(deviceText(signedFor), deviceText(*device))});
    }

    // The manifest is the one signed: each file must be the one it names.
    const Result<ManifestFiles> read = parseManifestFiles(manifest);
    if (!read.whole()) {
        for (const Problem& problem : read.problems)
            check.problems.append({manifestName, {}, problem.text});
        return check;
    }
    const ManifestFiles* files = &read.value;
    const auto compare = [&](const QString& path, const QString& name, const QByteArray& sha256) {
        const QByteArray actual = sha256OfFile(path);
        if (actual == sha256)
            check.matching.append(name);
        else
            check.problems.append({fileNameOf(path),
                                   {},
                                   QStringLiteral("its SHA-256 is %1; %2 names %3 with %4")
                                       .arg(QString::fromLatin1(actual), manifestName, name,
                                            QString::fromLatin1(sha256))});
    };
    compare(mergedPath, files->mergedFile, files->mergedSha256);
    const QString bankPath =
        joinPath(QFileInfo(manifestPath).absolutePath(), toNativeSeparators(files->bankFile));
    if (QFileInfo(bankPath).isFile())
        compare(bankPath, files->bankFile, files->bankSha256);
    if (!masterPath.isEmpty())
        compare(masterPath, files->masterFile, files->masterSha256);
    return check;
}

} // namespace quillner
