#pragma once

#include "core/app/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace quillner {

// Ed25519 signatures in minisign's file formats, so that a build's manifest signed here is
// checked by `minisign -V` and a signature made with `minisign -S` is checked here. Keys are
// kept without a password (minisign -G -W writes them so): the secret key file is the
// password, written with mode 0600.

// A key's id: 8 bytes that a signature names, so that the wrong key is told as such.
struct PublicKey
{
    QByteArray keyId; // 8 bytes
    QByteArray key;   // 32 bytes
};

struct SigningKey
{
    PublicKey publicKey;
    QByteArray secretKey; // 64 bytes: the seed and the public key, as libsodium keeps them
};

SigningKey newSigningKey();

// "untrusted comment: minisign public key 0123456789ABCDEF\n" and the key in base64.
QByteArray publicKeyFileText(const PublicKey& key);
// The secret key without a password, in minisign's form.
QByteArray secretKeyFileText(const SigningKey& key);

// The key of a file's text, or the problem of what it is instead. A password-protected secret
// key is refused with a hint to make one without (minisign -G -W or quillner-cli key new).
Result<PublicKey> parsePublicKey(QByteArrayView text);
Result<SigningKey> parseSecretKey(QByteArrayView text);

// A signature file of the message: BLAKE2b-512 of the message signed ("ED"), and the trusted
// comment signed together with that signature.
QByteArray signatureFileText(const SigningKey& key, QByteArrayView message,
                             const QString& trustedComment);

struct SignatureCheck
{
    bool valid = false;
    QString trustedComment; // when valid
    QString problem;        // why not: "made with another key", "does not match the file", ...
    // When the signature does not match the message: whether the signature file is as it was
    // signed all the same (its signature of the trusted comment holds), so that it is the signed
    // file that changed, not the signature.
    bool signatureFileIntact = false;
};

// Checks a signature file's text against the message and the public key: the signature over
// the message (prehashed "ED" or the older "Ed" over the message itself) and the signature over
// the trusted comment.
SignatureCheck checkSignature(const PublicKey& key, QByteArrayView message,
                              QByteArrayView signatureFile);

// The key id as minisign prints it: 16 upper-case hexadecimal digits, the last byte first.
QString keyIdText(const QByteArray& keyId);

} // namespace quillner
