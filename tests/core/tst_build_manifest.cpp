#include "core/bank/bank_files.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/firmware_verify.h"
#include "core/firmware/srec_merge.h"
#include "core/update/firmware_job.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "support/synthetic_firmware.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

BuildManifest sampleManifest()
{
    BuildManifest manifest;
    manifest.masterFile = QStringLiteral("SX51804.sx");
    manifest.masterSha256 = sha256("master");
    manifest.bankFile = QStringLiteral("bin/bank1.bin");
    manifest.bankSha256 = sha256("bank");
    manifest.mergedFile = QStringLiteral("New_SX51804.sx");
    manifest.mergedSha256 = sha256("merged");
    manifest.bank[0] = 7;
    return manifest;
}

// A project folder with bin/bank1.bin of the given first byte.
QString makeProject(const QTemporaryDir& dir, const QString& name, quint8 serialBaud)
{
    const QString folder = dir.filePath(name);
    if (!QDir().mkpath(folder + QStringLiteral("/bin")))
        return {};
    ConfigurationBank bank{};
    bank[0] = serialBaud;
    SaveBankBinary(folder, bank);
    return folder;
}

FirmwareJob jobFor(const QString& firmwarePath, const QString& project)
{
    FirmwareJob job;
    job.firmwareName = QStringLiteral("SX51804.sx");
    job.firmwarePath = firmwarePath;
    job.binFolder = project + QStringLiteral("/bin/");
    job.outputFolder = project + u'/';
    job.newFileName = QStringLiteral("New_SX51804.sx");
    return job;
}

} // namespace

class TestBuildManifest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qunsetenv("SOURCE_DATE_EPOCH"); }

    void manifestBytesAreFixedAndOrdered();
    void builtOnlyForAnEpoch_data();
    void builtOnlyForAnEpoch();
    void sourceDateEpochIsAWholeNumber_data();
    void sourceDateEpochIsAWholeNumber();
    void verifiedMergeWritesTheManifest();
    void firmwareReadOnceMergesTheSame();
    void mergeWithoutTheBankRemovesTheManifest();
};

void TestBuildManifest::manifestBytesAreFixedAndOrdered()
{
    const QByteArray bytes = buildManifestBytes(sampleManifest());
    QCOMPARE(buildManifestBytes(sampleManifest()), bytes);
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    QCOMPARE(root.keys(),
             QStringList({"bank", "description", "master", "merged", "schema", "tool"}));
    QCOMPARE(root.value("schema").toInt(), 1);
    QCOMPARE(root.value("tool").toObject().value("name").toString(),
             QStringLiteral("quillner-cli"));
    QCOMPARE(root.value("tool").toObject().value("version").toString(),
             QStringLiteral(QUILLNER_VERSION));
    QCOMPARE(root.value("bank").toObject().value("file").toString(),
             QStringLiteral("bin/bank1.bin"));
    QCOMPARE(root.value("merged").toObject().value("sha256").toString(),
             QString::fromLatin1(sha256("merged")));
    // The configuration's description, named by the bank's place in the project.
    const QJsonObject description = root.value("description").toObject();
    QCOMPARE(description.value("schema").toInt(), 1);
    QCOMPARE(description.value("source").toObject().value("path").toString(),
             QStringLiteral("bin/bank1.bin"));
    QCOMPARE(description.value("settings").toObject().value("serial.baud").toObject().value("code"),
             7);
    // Indented, keys in order in the text itself.
    QVERIFY(bytes.startsWith("{\n    \"bank\": {\n"));
    QVERIFY(bytes.indexOf("\"master\"") < bytes.indexOf("\"merged\""));
}

void TestBuildManifest::builtOnlyForAnEpoch_data()
{
    QTest::addColumn<qint64>("epoch");
    QTest::addColumn<QByteArray>("built");
    QTest::newRow("start of the epoch") << qint64(0) << QByteArray("1970-01-01T00:00:00Z");
    QTest::newRow("a release") << qint64(1700000000) << QByteArray("2023-11-14T22:13:20Z");
}

void TestBuildManifest::builtOnlyForAnEpoch()
{
    QFETCH(qint64, epoch);
    QFETCH(QByteArray, built);
    BuildManifest manifest = sampleManifest();
    const QList<QByteArray> without = buildManifestBytes(manifest).split('\n');
    QVERIFY(!buildManifestBytes(manifest).contains("built"));
    manifest.builtAt = epoch;
    QList<QByteArray> with = buildManifestBytes(manifest).split('\n');
    // Exactly one line more: the moment, in UTC.
    QCOMPARE(with.size(), without.size() + 1);
    const qsizetype at = with.indexOf("    \"built\": \"" + built + "\",");
    QVERIFY2(at > 0, buildManifestBytes(manifest).constData());
    with.removeAt(at);
    QCOMPARE(with, without);
}

void TestBuildManifest::sourceDateEpochIsAWholeNumber_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("expected"); // -1: none
    QTest::newRow("unset") << QByteArray() << qint64(-1);
    QTest::newRow("seconds") << QByteArray("1700000000") << qint64(1700000000);
    QTest::newRow("text") << QByteArray("yesterday") << qint64(-1);
    QTest::newRow("blank after") << QByteArray("17 ") << qint64(-1);
}

void TestBuildManifest::sourceDateEpochIsAWholeNumber()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, expected);
    if (!value.isNull())
        qputenv("SOURCE_DATE_EPOCH", value);
    const std::optional<qint64> epoch = sourceDateEpoch();
    QCOMPARE(epoch.value_or(-1), expected);
}

void TestBuildManifest::verifiedMergeWritesTheManifest()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString firmware = dir.filePath(QStringLiteral("SX51804.sx"));
    writeSyntheticFirmware(firmware, 0x384000, 0x390000, 32, kHeader);
    const QString project = makeProject(dir, QStringLiteral("one"), 5);
    const FirmwareJob job = jobFor(firmware, project);
    const MergeResult result = job.merge().value;
    QVERIFY(result.verified);

    const QByteArray bytes = readFile(project + QStringLiteral("/manifest.json"));
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    QCOMPARE(root.value("master").toObject().value("file").toString(),
             QStringLiteral("SX51804.sx"));
    QCOMPARE(root.value("master").toObject().value("sha256").toString().toLatin1(),
             sha256(readFile(firmware)));
    QCOMPARE(root.value("bank").toObject().value("sha256").toString().toLatin1(),
             sha256(readFile(project + QStringLiteral("/bin/bank1.bin"))));
    QCOMPARE(root.value("merged").toObject().value("sha256").toString().toLatin1(),
             sha256(readFile(job.mergedPath())));
    // No path of this machine in it.
    QVERIFY(!bytes.contains(dir.path().toUtf8()));

    // The same project elsewhere gives the same manifest.
    const QString twin = makeProject(dir, QStringLiteral("elsewhere/two"), 5);
    QVERIFY(jobFor(firmware, twin).merge().value.verified);
    QCOMPARE(readFile(twin + QStringLiteral("/manifest.json")), bytes);
}

// The firmware read once gives the very bytes of the merge that streams it, and the same
// manifest.
void TestBuildManifest::firmwareReadOnceMergesTheSame()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString firmware = dir.filePath(QStringLiteral("SX51804.sx"));
    writeSyntheticFirmware(firmware, 0x380000, 0x398000, 32, kHeader);
    const QString streamed = makeProject(dir, QStringLiteral("streamed"), 3);
    const QString inMemory = makeProject(dir, QStringLiteral("memory"), 3);
    QVERIFY(jobFor(firmware, streamed).merge().value.verified);
    FirmwareJob job = jobFor(firmware, inMemory);
    job.master = readMasterFirmware(firmware);
    QCOMPARE(job.master->sha256, sha256(readFile(firmware)));
    const MergeResult result = job.merge().value;
    QVERIFY(result.verified);
    QCOMPARE(result.outcome, 1);
    QCOMPARE(readFile(job.mergedPath()), readFile(streamed + QStringLiteral("/New_SX51804.sx")));
    QCOMPARE(readFile(inMemory + QStringLiteral("/manifest.json")),
             readFile(streamed + QStringLiteral("/manifest.json")));
    QVERIFY(verifyMergedFirmwareFiles(job.mergedPath(), firmware,
                                      inMemory + QStringLiteral("/bin/bank1.bin"))
                .holds());
}

// A manifest describes a merged file that holds its bank: a later merge that replaces that file
// with one without the bank takes the manifest away.
void TestBuildManifest::mergeWithoutTheBankRemovesTheManifest()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString firmware = dir.filePath(QStringLiteral("SX51804.sx"));
    writeSyntheticFirmware(firmware, 0x384000, 0x390000, 32, kHeader);
    const QString project = makeProject(dir, QStringLiteral("p"), 1);
    QVERIFY(jobFor(firmware, project).merge().value.verified);
    QVERIFY(QFile::exists(project + QStringLiteral("/manifest.json")));

    writeSyntheticFirmware(firmware, 0x100000, 0x101000, 32, kHeader);
    const MergeResult result = jobFor(firmware, project).merge().value;
    QVERIFY(result.copyCompleted);
    QVERIFY(!result.bankInserted);
    QVERIFY(!QFile::exists(project + QStringLiteral("/manifest.json")));
}

QTEST_GUILESS_MAIN(TestBuildManifest)
#include "tst_build_manifest.moc"
