#include "core/app/signing.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

// Signatures in minisign's formats, checked both ways against Debian's minisign.
class TestSigning : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_minisign;

    QString file(const QString& name) const { return m_dir.filePath(name); }

    Run minisign(const QStringList& arguments) const
    {
        return quillner::testing::runProgram(m_minisign, arguments, m_dir.path());
    }

private Q_SLOTS:
    void initTestCase() { m_minisign = QStandardPaths::findExecutable(QStringLiteral("minisign")); }

    void signedMessagesCheck()
    {
        const SigningKey key = newSigningKey();
        const QByteArray message = "{\"merged\": \"New_SX51804.sx\"}\n";
        const QByteArray signature =
            signatureFileText(key, message, QStringLiteral("device Alpha sha256 00ff"));
        const SignatureCheck check = checkSignature(key.publicKey, message, signature);
        QVERIFY2(check.valid, qPrintable(check.problem));
        QCOMPARE(check.trustedComment, QStringLiteral("device Alpha sha256 00ff"));

        const Result<PublicKey> readBack = parsePublicKey(publicKeyFileText(key.publicKey));
        QVERIFY2(readBack.whole(), qPrintable(problemLines(readBack.problems).join(u'\n')));
        QCOMPARE(readBack.value.key, key.publicKey.key);
        const Result<SigningKey> secret = parseSecretKey(secretKeyFileText(key));
        QVERIFY2(secret.whole(), qPrintable(problemLines(secret.problems).join(u'\n')));
        QCOMPARE(secret.value.secretKey, key.secretKey);
    }

    // Any changed byte of the file, the signature or its trusted comment is told as such.
    void changesAreFound_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("problem");
        QTest::newRow("message") << "message"
                                 << "does not match the signed file";
        QTest::newRow("trusted comment") << "comment"
                                         << "the trusted comment was changed";
        QTest::newRow("signature byte") << "signature"
                                        << "does not match the signed file";
        QTest::newRow("other key") << "key"
                                   << "made with another key";
        QTest::newRow("not a signature") << "garbage"
                                         << "not a minisign signature file";
    }

    void changesAreFound()
    {
        QFETCH(QString, change);
        QFETCH(QString, problem);
        const SigningKey key = newSigningKey();
        QByteArray message = "manifest";
        QByteArray signature = signatureFileText(key, message, QStringLiteral("device Alpha"));
        PublicKey publicKey = key.publicKey;
        if (change == QLatin1String("message")) {
            message[0] = 'M';
        } else if (change == QLatin1String("comment")) {
            signature.replace("device Alpha", "device Omega");
        } else if (change == QLatin1String("signature")) {
            QList<QByteArray> lines = signature.split('\n');
            QByteArray raw = QByteArray::fromBase64(lines[1]);
            raw[20] = char(raw[20] ^ 1);
            lines[1] = raw.toBase64();
            signature = lines.join('\n');
        } else if (change == QLatin1String("key")) {
            publicKey = newSigningKey().publicKey;
        } else {
            signature = "hello\n";
        }
        const SignatureCheck check = checkSignature(publicKey, message, signature);
        QVERIFY(!check.valid);
        QVERIFY2(check.problem.contains(problem), qPrintable(check.problem));
    }

    void passwordProtectedKeysAreRefused()
    {
        QByteArray secret = secretKeyFileText(newSigningKey());
        QList<QByteArray> lines = secret.split('\n');
        QByteArray payload = QByteArray::fromBase64(lines[1]);
        payload.replace(2, 2, "Sc"); // scrypt
        lines[1] = payload.toBase64();
        const Result<SigningKey> refused = parseSecretKey(lines.join('\n'));
        QVERIFY(!refused.whole());
        QVERIFY2(refused.problems.first().text.contains(QStringLiteral("protected by a password")),
                 qPrintable(refused.problems.first().text));
    }

    void minisignChecksOurSignatures()
    {
        if (m_minisign.isEmpty())
            QSKIP("minisign is not installed (scripts/setup installs it)");
        const SigningKey key = newSigningKey();
        QVERIFY(writeFile(file(QStringLiteral("our.pub")), publicKeyFileText(key.publicKey)));
        QVERIFY(writeFile(file(QStringLiteral("manifest.json")), "{\"a\": 1}\n"));
        QVERIFY(writeFile(file(QStringLiteral("manifest.json.minisig")),
                          signatureFileText(key, "{\"a\": 1}\n", QStringLiteral("device Alpha"))));
        const Run run =
            minisign({QStringLiteral("-V"), QStringLiteral("-p"), QStringLiteral("our.pub"),
                      QStringLiteral("-m"), QStringLiteral("manifest.json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        QVERIFY2(run.out.contains(QStringLiteral("Trusted comment: device Alpha")),
                 qPrintable(run.out));

        // minisign signs with our secret key file too.
        QVERIFY(writeFile(file(QStringLiteral("our.key")), secretKeyFileText(key)));
        QVERIFY(writeFile(file(QStringLiteral("other.txt")), "other\n"));
        const Run signing =
            minisign({QStringLiteral("-S"), QStringLiteral("-s"), QStringLiteral("our.key"),
                      QStringLiteral("-m"), QStringLiteral("other.txt")});
        QVERIFY2(signing.exitCode == 0, qPrintable(signing.err + signing.out));
        const SignatureCheck check = checkSignature(
            key.publicKey, "other\n", readFile(file(QStringLiteral("other.txt.minisig"))));
        QVERIFY2(check.valid, qPrintable(check.problem));
    }

    void weCheckMinisignsSignatures()
    {
        if (m_minisign.isEmpty())
            QSKIP("minisign is not installed (scripts/setup installs it)");
        const Run generate =
            minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"),
                      QStringLiteral("m.pub"), QStringLiteral("-s"), QStringLiteral("m.key")});
        QVERIFY2(generate.exitCode == 0, qPrintable(generate.err + generate.out));
        QVERIFY(writeFile(file(QStringLiteral("firmware.txt")), "firmware\n"));
        const Run sign =
            minisign({QStringLiteral("-S"), QStringLiteral("-s"), QStringLiteral("m.key"),
                      QStringLiteral("-m"), QStringLiteral("firmware.txt"), QStringLiteral("-t"),
                      QStringLiteral("made by minisign")});
        QVERIFY2(sign.exitCode == 0, qPrintable(sign.err + sign.out));
        const Result<PublicKey> key = parsePublicKey(readFile(file(QStringLiteral("m.pub"))));
        QVERIFY2(key.whole(), qPrintable(problemLines(key.problems).join(u'\n')));
        const SignatureCheck check = checkSignature(
            key.value, "firmware\n", readFile(file(QStringLiteral("firmware.txt.minisig"))));
        QVERIFY2(check.valid, qPrintable(check.problem));
        QCOMPARE(check.trustedComment, QStringLiteral("made by minisign"));

        // Its secret key signs here, and minisign checks that.
        const Result<SigningKey> secret = parseSecretKey(readFile(file(QStringLiteral("m.key"))));
        QVERIFY2(secret.whole(), qPrintable(problemLines(secret.problems).join(u'\n')));
        QVERIFY(writeFile(file(QStringLiteral("firmware.txt.minisig")),
                          signatureFileText(secret.value, "firmware\n", QStringLiteral("here"))));
        const Run verify =
            minisign({QStringLiteral("-V"), QStringLiteral("-p"), QStringLiteral("m.pub"),
                      QStringLiteral("-m"), QStringLiteral("firmware.txt")});
        QVERIFY2(verify.exitCode == 0, qPrintable(verify.err + verify.out));
    }
};

QTEST_GUILESS_MAIN(TestSigning)
#include "tst_signing.moc"
