#include "core/app/signing.h"

#include "core/app/error.h"
#include "core/app/hex_text.h"

#include <QList>

#include <sodium.h>

#include <algorithm>

namespace quillner {

namespace {

constexpr QByteArrayView kAlgorithm = "Ed";         // signature of the message itself
constexpr QByteArrayView kHashedAlgorithm = "ED";   // signature of its BLAKE2b-512 hash
constexpr QByteArrayView kChecksumAlgorithm = "B2"; // BLAKE2b-256 of the key
constexpr qsizetype kKeyIdBytes = 8;
constexpr qsizetype kSaltBytes = 32;
constexpr qsizetype kChecksumBytes = 32;
const QByteArray kUntrusted = "untrusted comment: ";
const QByteArray kTrusted = "trusted comment: ";

void initialiseSodium()
{
    if (sodium_init() < 0)
        throw Error(QStringLiteral("the signing library cannot be used"));
}

// The lines of a key or signature file, without their ends.
QList<QByteArray> linesOf(QByteArrayView text)
{
    QList<QByteArray> lines;
    for (const QByteArray& line : text.toByteArray().split('\n')) {
        QByteArray kept = line;
        if (kept.endsWith('\r'))
            kept.chop(1);
        lines.append(kept);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::optional<QByteArray> base64Of(const QByteArray& line)
{
    const QByteArray& text = line;
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    // Only the one text that encodes the bytes, without blanks around it: a changed character
    // that leaves the bytes as they were (the unused bits of the last one, a blank) is a changed
    // file all the same.
    if (!decoded || decoded.decoded.toBase64() != text)
        return std::nullopt;
    return decoded.decoded;
}

template <typename T> Result<T> keyProblem(const QString& text)
{
    return Result<T>::failure({Problem{{}, {}, text}});
}

// The key's second line, after its untrusted comment.
Result<QByteArray> keyPayload(QByteArrayView text)
{
    const QList<QByteArray> lines = linesOf(text);
    if (lines.size() < 2 || !lines[0].startsWith(kUntrusted))
        return keyProblem<QByteArray>(
            QStringLiteral("not a minisign key file (an untrusted comment, then the key)"));
    const std::optional<QByteArray> payload = base64Of(lines[1]);
    if (!payload)
        return keyProblem<QByteArray>(QStringLiteral("the key is not base64 text"));
    return {*payload, {}, {}};
}

QByteArray keyChecksum(const QByteArray& keyId, const QByteArray& secretKey)
{
    const QByteArray input = kAlgorithm.toByteArray() + keyId + secretKey;
    QByteArray checksum(kChecksumBytes, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(checksum.data()), size_t(checksum.size()),
                       reinterpret_cast<const unsigned char*>(input.constData()),
                       quint64(input.size()), nullptr, 0);
    return checksum;
}

QByteArray hashOf(QByteArrayView message)
{
    QByteArray hash(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), size_t(hash.size()),
                       reinterpret_cast<const unsigned char*>(message.data()),
                       quint64(message.size()), nullptr, 0);
    return hash;
}

QByteArray sign(const QByteArray& secretKey, QByteArrayView message)
{
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()),
                         quint64(message.size()),
                         reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return signature;
}

bool signatureHolds(const QByteArray& publicKey, const QByteArray& signature,
                    QByteArrayView message)
{
    return crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char*>(signature.constData()),
               reinterpret_cast<const unsigned char*>(message.data()), quint64(message.size()),
               reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

} // namespace

QString keyIdText(const QByteArray& keyId)
{
    QByteArray reversed = keyId;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

SigningKey newSigningKey()
{
    initialiseSodium();
    SigningKey key;
    key.publicKey.key = QByteArray(crypto_sign_PUBLICKEYBYTES, '\0');
    key.secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, '\0');
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(key.publicKey.key.data()),
                        reinterpret_cast<unsigned char*>(key.secretKey.data()));
    key.publicKey.keyId = QByteArray(kKeyIdBytes, '\0');
    randombytes_buf(key.publicKey.keyId.data(), size_t(kKeyIdBytes));
    return key;
}

QByteArray publicKeyFileText(const PublicKey& key)
{
    return kUntrusted + "minisign public key " + keyIdText(key.keyId).toLatin1() + '\n' +
           (kAlgorithm.toByteArray() + key.keyId + key.key).toBase64() + '\n';
}

QByteArray secretKeyFileText(const SigningKey& key)
{
    // No key derivation: the two algorithm bytes of the derivation are zero, and so are its
    // salt and limits.
    const QByteArray payload = kAlgorithm.toByteArray() + QByteArray(2, '\0') +
                               kChecksumAlgorithm.toByteArray() + QByteArray(kSaltBytes, '\0') +
                               QByteArray(16, '\0') + key.publicKey.keyId + key.secretKey +
                               keyChecksum(key.publicKey.keyId, key.secretKey);
    return kUntrusted + "minisign secret key without a password\n" + payload.toBase64() + '\n';
}

Result<PublicKey> parsePublicKey(QByteArrayView text)
{
    const Result<QByteArray> read = keyPayload(text);
    if (!read.whole())
        return Result<PublicKey>::failure(read.problems);
    const QByteArray& payload = read.value;
    if (payload.size() != 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES ||
        !payload.startsWith(kAlgorithm))
        return keyProblem<PublicKey>(QStringLiteral("not an Ed25519 public key of minisign"));
    return {PublicKey{payload.mid(2, kKeyIdBytes), payload.mid(2 + kKeyIdBytes)}, {}, {}};
}

Result<SigningKey> parseSecretKey(QByteArrayView text)
{
    const Result<QByteArray> read = keyPayload(text);
    if (!read.whole())
        return Result<SigningKey>::failure(read.problems);
    const QByteArray& payload = read.value;
    constexpr qsizetype header = 2 + 2 + 2 + kSaltBytes + 16;
    if (payload.size() != header + kKeyIdBytes + crypto_sign_SECRETKEYBYTES + kChecksumBytes ||
        !payload.startsWith(kAlgorithm))
        return keyProblem<SigningKey>(QStringLiteral("not an Ed25519 secret key of minisign"));
    if (payload.mid(2, 2) != QByteArray(2, '\0'))
        return keyProblem<SigningKey>(
            QStringLiteral("the secret key is protected by a password; make one without "
                           "(quillner-cli key new, or minisign -G -W)"));
    SigningKey key;
    key.publicKey.keyId = payload.mid(header, kKeyIdBytes);
    key.secretKey = payload.mid(header + kKeyIdBytes, crypto_sign_SECRETKEYBYTES);
    const QByteArray checksum = payload.right(kChecksumBytes);
    // minisign leaves the checksum of a key without a password zero; any other must match.
    initialiseSodium();
    if (checksum != QByteArray(kChecksumBytes, '\0') &&
        checksum != keyChecksum(key.publicKey.keyId, key.secretKey))
        return keyProblem<SigningKey>(
            QStringLiteral("the secret key's checksum does not match: the file is damaged"));
    key.publicKey.key = key.secretKey.right(crypto_sign_PUBLICKEYBYTES);
    return {key, {}, {}};
}

QByteArray signatureFileText(const SigningKey& key, QByteArrayView message,
                             const QString& trustedComment)
{
    initialiseSodium();
    const QByteArray signature = sign(key.secretKey, hashOf(message));
    const QByteArray comment = trustedComment.toUtf8();
    const QByteArray global = sign(key.secretKey, signature + comment);
    return kUntrusted + "signature from quillner-cli secret key " +
           keyIdText(key.publicKey.keyId).toLatin1() + '\n' +
           (kHashedAlgorithm.toByteArray() + key.publicKey.keyId + signature).toBase64() + '\n' +
           kTrusted + comment + '\n' + global.toBase64() + '\n';
}

SignatureCheck checkSignature(const PublicKey& key, QByteArrayView message,
                              QByteArrayView signatureFile)
{
    initialiseSodium();
    SignatureCheck check;
    const QList<QByteArray> lines = linesOf(signatureFile);
    if (lines.size() != 4 || !lines[0].startsWith(kUntrusted) || !lines[2].startsWith(kTrusted)) {
        check.problem = QStringLiteral("not a minisign signature file");
        return check;
    }
    const std::optional<QByteArray> signed_ = base64Of(lines[1]);
    const std::optional<QByteArray> global = base64Of(lines[3]);
    if (!signed_ || !global || signed_->size() != 2 + kKeyIdBytes + crypto_sign_BYTES ||
        global->size() != crypto_sign_BYTES) {
        check.problem = QStringLiteral("the signature is damaged");
        return check;
    }
    const QByteArray algorithm = signed_->left(2);
    if (algorithm != kAlgorithm && algorithm != kHashedAlgorithm) {
        check.problem = QStringLiteral("the signature's algorithm is unknown");
        return check;
    }
    if (signed_->mid(2, kKeyIdBytes) != key.keyId) {
        check.problem = QStringLiteral("the signature was made with another key (%1, not %2)")
                            .arg(keyIdText(signed_->mid(2, kKeyIdBytes)), keyIdText(key.keyId));
        return check;
    }
    const QByteArray signature = signed_->mid(2 + kKeyIdBytes);
    const bool holds = algorithm == kHashedAlgorithm
                           ? signatureHolds(key.key, signature, hashOf(message))
                           : signatureHolds(key.key, signature, message);
    const QByteArray comment = lines[2].mid(kTrusted.size());
    if (!holds) {
        check.problem = QStringLiteral("the signature does not match the signed file");
        check.signatureFileIntact = signatureHolds(key.key, *global, signature + comment);
        return check;
    }
    if (!signatureHolds(key.key, *global, signature + comment)) {
        check.problem = QStringLiteral("the trusted comment was changed");
        return check;
    }
    check.valid = true;
    check.trustedComment = QString::fromUtf8(comment);
    return check;
}

} // namespace quillner
