// A signed build: any changed byte of the manifest, of the signed parts of its signature or of the
// files it names is found, and the file at fault is named.

#include "core/app/sha256.h"
#include "core/app/signing.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/manifest_signature.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

class TestManifestSignature : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SigningKey m_key;
    QByteArray m_manifest;
    QByteArray m_signature;
    QByteArray m_merged;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The one problem the check finds, as "file: text"; every problem when there is not one.
    QString check() const
    {
        const SignedBuildCheck result = checkSignedBuild(
            path(QStringLiteral("manifest.json")), path(QStringLiteral("New_SX51804.sx")),
            m_key.publicKey, path(QStringLiteral("SX51804.sx")));
        return problemLines(result.problems).join(u'|');
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_key = newSigningKey();
        m_merged = "S0030000FC\r\nS2240001000102030405060708090A0B0C0D0E0F101112131415161718191A1B1"
                   "C1D1E1F74\r\n"
                   "S9030000FC\r\n";
        QVERIFY(writeFile(path(QStringLiteral("New_SX51804.sx")), m_merged));
        QVERIFY(writeFile(path(QStringLiteral("SX51804.sx")), "S9030000FC\r\n"));
        QVERIFY(writeFile(path(QStringLiteral("bin/bank1.bin")), QByteArray(16384, '\0')));
        BuildManifest manifest;
        manifest.masterFile = QStringLiteral("SX51804.sx");
        manifest.masterSha256 = sha256OfFile(path(QStringLiteral("SX51804.sx")));
        manifest.bankFile = QStringLiteral("bin/bank1.bin");
        manifest.bankSha256 = sha256OfFile(path(QStringLiteral("bin/bank1.bin")));
        manifest.mergedFile = QStringLiteral("New_SX51804.sx");
        manifest.mergedSha256 = sha256OfFile(path(QStringLiteral("New_SX51804.sx")));
        writeBuildManifest(m_dir.path(), manifest);
        m_manifest = readFile(path(QStringLiteral("manifest.json")));
        QVERIFY(
            signManifest(m_dir.path(), m_key, {QStringLiteral("Line 7"), QStringLiteral("SN-7")})
                .whole());
        m_signature = readFile(path(QStringLiteral("manifest.json.minisig")));
    }

    void init()
    {
        QVERIFY(writeFile(path(QStringLiteral("manifest.json")), m_manifest));
        QVERIFY(writeFile(path(QStringLiteral("manifest.json.minisig")), m_signature));
        QVERIFY(writeFile(path(QStringLiteral("New_SX51804.sx")), m_merged));
    }

    void theSignedBuildHolds()
    {
        const SignedBuildCheck result = checkSignedBuild(
            path(QStringLiteral("manifest.json")), path(QStringLiteral("New_SX51804.sx")),
            m_key.publicKey, path(QStringLiteral("SX51804.sx")));
        QVERIFY2(result.holds(), qPrintable(check()));
        QCOMPARE(result.matching, QStringList({"New_SX51804.sx", "bin/bank1.bin", "SX51804.sx"}));
        // The trusted comment names the device and the merged file's SHA-256.
        const QJsonObject comment =
            QJsonDocument::fromJson(result.trustedComment.toUtf8()).object();
        QCOMPARE(comment[QStringLiteral("device")].toString(), QStringLiteral("Line 7"));
        QCOMPARE(comment[QStringLiteral("serial")].toString(), QStringLiteral("SN-7"));
        QCOMPARE(comment[QStringLiteral("sha256")].toString().toLatin1(), sha256Hex(m_merged));
        // The same key signs the same manifest with the same bytes.
        QVERIFY(
            signManifest(m_dir.path(), m_key, {QStringLiteral("Line 7"), QStringLiteral("SN-7")})
                .whole());
        QCOMPARE(readFile(path(QStringLiteral("manifest.json.minisig"))), m_signature);
    }

    void everyChangedByteOfTheManifest()
    {
        for (qsizetype i = 0; i < m_manifest.size(); ++i) {
            QByteArray changed = m_manifest;
            changed[i] = char(changed[i] ^ 0x01);
            QVERIFY(writeFile(path(QStringLiteral("manifest.json")), changed));
            QCOMPARE(check(), QStringLiteral("manifest.json: changed since it was signed (the "
                                             "signature does not match it)"));
        }
    }

    // The first line is, as minisign has it, an untrusted comment: no part of what is signed.
    void everyChangedByteOfTheSignedLines()
    {
        const qsizetype signedFrom = m_signature.indexOf('\n') + 1;
        for (qsizetype i = signedFrom; i < m_signature.size(); ++i) {
            QByteArray changed = m_signature;
            changed[i] = char(changed[i] ^ 0x01);
            QVERIFY(writeFile(path(QStringLiteral("manifest.json.minisig")), changed));
            QVERIFY2(check().startsWith(QStringLiteral("manifest.json.minisig: ")),
                     qPrintable(QStringLiteral("byte %1: %2").arg(i).arg(check())));
        }
    }

    void aChangedByteOfTheMergedFile()
    {
        for (const qsizetype i : {qsizetype(0), m_merged.size() / 2, m_merged.size() - 1}) {
            QByteArray changed = m_merged;
            changed[i] = char(changed[i] ^ 0x01);
            QVERIFY(writeFile(path(QStringLiteral("New_SX51804.sx")), changed));
            QCOMPARE(check(), QStringLiteral("New_SX51804.sx: its SHA-256 is %1; manifest.json "
                                             "names New_SX51804.sx with %2")
                                  .arg(QString::fromLatin1(sha256Hex(changed)),
                                       QString::fromLatin1(sha256Hex(m_merged))));
        }
    }

    void anotherKeyOrNoSignature()
    {
        QVERIFY(checkSignedBuild(path(QStringLiteral("manifest.json")),
                                 path(QStringLiteral("New_SX51804.sx")), newSigningKey().publicKey)
                    .problems.value(0)
                    .text.contains(QStringLiteral("made with another key")));
        QVERIFY(QFile::remove(path(QStringLiteral("manifest.json.minisig"))));
        QCOMPARE(check(),
                 QStringLiteral("manifest.json.minisig: not found: the manifest is not signed"));
    }
};

QTEST_GUILESS_MAIN(TestManifestSignature)
#include "tst_manifest_signature.moc"
