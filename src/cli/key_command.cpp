// key new: a signing key pair for manifests, in minisign's file formats.

#include "key_command.h"

#include "core/app/file_io.h"
#include "core/app/signing.h"

#include <QFileInfo>

namespace quillner::cli {

namespace {

int runKeyNew(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("key new takes one NAME"));
    const QString name = absoluteNativePath(line.argument(0));
    const QString publicPath = name + QStringLiteral(".pub");
    const QString secretPath = name + QStringLiteral(".key");
    for (const QString& path : {publicPath, secretPath}) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            return stoppedBy(QStringLiteral("%1 exists; a key is never written over").arg(path));
    }
    const SigningKey key = newSigningKey();
    // Written whole or not at all; the secret key is readable by its owner alone from the first
    // byte on, never for a moment by others.
    writeFileAtomically(secretPath, secretKeyFileText(key),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeFileAtomically(publicPath, publicKeyFileText(key.publicKey),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                            QFileDevice::ReadOther);
    say(QStringLiteral("Written: %1 (key %2), %3 (secret: keep it, mode 0600)\n")
            .arg(publicPath, keyIdText(key.publicKey.keyId), secretPath));
    return kExitSuccess;
}

} // namespace

const CommandSpec& keyCommand()
{
    static const CommandSpec spec{
        "key new",
        "key new NAME",
        "Make an Ed25519 key pair for signing manifests (minisign's formats).",
        R"(Writes NAME.pub, the public key, and NAME.key, the secret key, in minisign's
file formats: minisign -V checks what is signed with it, and a key made by
minisign -G -W signs here. The secret key has no password and is written
readable by its owner alone (mode 0600); it is never printed. Existing files
are never written over.
)",
        {},
        R"(Example:
  quillner-cli key new line3
  # Written: line3.pub (key 0123456789ABCDEF), line3.key (secret: keep it, mode 0600)
)",
        {Takes::Text},
        false,
        runKeyNew};
    return spec;
}

} // namespace quillner::cli
