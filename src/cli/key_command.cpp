// key new: a signing key pair for manifests, in minisign's file formats.

#include "key_command.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/signing.h"

#include <QFileInfo>
#include <QSaveFile>

namespace quillner::cli {

namespace {

// Written whole or not at all; the secret key is readable by its owner alone from the first
// byte on, never for a moment by others.
void writeKeyFile(const QString& path, const QByteArray& text, QFileDevice::Permissions mode)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(mode) ||
        file.write(text) != text.size() || !file.commit())
        throw Error(cannotCreateFileMessage(path, file.errorString()));
}

int runKey(const QStringList& arguments)
{
    const QStringList positional = arguments.mid(1);
    if (positional.size() != 2 || positional[0] != QLatin1StringView("new"))
        usageError(QStringLiteral("key takes new NAME"), QStringLiteral("key"));
    const QString name = absoluteNativePath(positional[1]);
    const QString publicPath = name + QStringLiteral(".pub");
    const QString secretPath = name + QStringLiteral(".key");
    for (const QString& path : {publicPath, secretPath}) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            throw Error(QStringLiteral("%1 exists; a key is never written over").arg(path));
    }
    const SigningKey key = newSigningKey();
    writeKeyFile(secretPath, secretKeyFileText(key),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeKeyFile(publicPath, publicKeyFileText(key.publicKey),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                     QFileDevice::ReadOther);
    say(QStringLiteral("Written: %1 (key %2), %3 (secret: keep it, mode 0600)\n")
            .arg(publicPath, keyIdText(key.publicKey.keyId), secretPath));
    return kExitSuccess;
}

} // namespace

const CommandSpec& keyCommand()
{
    static const CommandSpec spec{"key", "key new NAME",
                                  "Make an Ed25519 key pair for signing manifests (minisign's "
                                  "formats).",
                                  R"(Usage: quillner-cli key new NAME

Writes NAME.pub, the public key, and NAME.key, the secret key, in minisign's
file formats: minisign -V checks what update --sign and batch --sign write with
it, and a key made by minisign -G -W signs here. The secret key has no password
and is written readable by its owner alone (mode 0600); it is never printed.
Existing files are never written over.

Example:
  quillner-cli key new line3
  # Written: line3.pub (key 0123456789ABCDEF), line3.key (secret: keep it, mode 0600)
)",
                                  runKey};
    return spec;
}

} // namespace quillner::cli
