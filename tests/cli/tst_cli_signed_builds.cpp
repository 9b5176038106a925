// Signed builds: update and batch --sign write signatures minisign checks, verify --manifest
// checks signatures minisign makes and names what changed, and update --require-signature
// flashes only a signed, matching build.

#include "core/app/sha256.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <memory>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

bool copyFolder(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + u'/' + entry.fileName();
        if (entry.isDir() ? !copyFolder(entry.filePath(), target)
                          : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

} // namespace

class TestCliSignedBuilds : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void updateSignsWhatMinisignAccepts();
    void batchSignsEachRow();
    void minisignSignaturesAreTaken();
    void verifyNamesWhatChanged_data();
    void verifyNamesWhatChanged();
    void requireSignatureRefusesWhatIsNotSigned();
    void requireSignatureRefusesABuildSignedForAnotherDevice();
    void aSecretKeyThatIsNoneStopsBeforeAnythingIsWritten();

private:
    Run cli(const QStringList& arguments) const;
    Run minisign(const QStringList& arguments) const;
    QString tool(const QString& name) const { return m_tool + u'/' + name; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_tool;
    QString m_project;
    QString m_minisign;
};

void TestCliSignedBuilds::init()
{
#ifdef Q_OS_WIN
    QSKIP("The recording flashing tool is a shell script");
#endif
    m_minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (m_minisign.isEmpty())
        QSKIP("minisign is not installed (scripts/setup installs it)");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_tool = m_dir->filePath(QStringLiteral("tool"));
    m_project = m_dir->filePath(QStringLiteral("Demo"));
    QVERIFY(QDir().mkpath(tool(QStringLiteral("MASTER"))));
    QVERIFY(QFile::copy(QStringLiteral(QUILLNER_CLI), tool(QStringLiteral("quillner-cli"))));
    quillner::writeSyntheticFirmware(tool(QStringLiteral("MASTER/SX51804.sx")), 0x384000, 0x390000,
                                     32, kHeader);
    // The stand-in flashing tool writes down what it was given.
    QVERIFY(writeFile(tool(QStringLiteral("Morvex.exe")),
                      "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/flashed.txt\"\n"
                      "echo flashed\n"));
    QVERIFY(QFile::setPermissions(tool(QStringLiteral("Morvex.exe")), QFileDevice::ReadOwner |
                                                                          QFileDevice::WriteOwner |
                                                                          QFileDevice::ExeOwner));
    QCOMPARE(cli({QStringLiteral("new"), m_project}).exitCode, 0);
    QCOMPARE(cli({QStringLiteral("set"), m_project, QStringLiteral("can.baud=500")}).exitCode, 0);
    QCOMPARE(cli({QStringLiteral("filter"), QStringLiteral("set"), m_project,
                  QStringLiteral("--hide"), QStringLiteral("0x700-0x7FF")})
                 .exitCode,
             0);
    QCOMPARE(
        cli({QStringLiteral("key"), QStringLiteral("new"), QStringLiteral("station")}).exitCode, 0);
}

void TestCliSignedBuilds::cleanup()
{
    m_dir.reset();
}

Run TestCliSignedBuilds::cli(const QStringList& arguments) const
{
    return quillner::testing::runProgram(tool(QStringLiteral("quillner-cli")), arguments,
                                         m_dir->path());
}

Run TestCliSignedBuilds::minisign(const QStringList& arguments) const
{
    return quillner::testing::runProgram(m_minisign, arguments, m_dir->path());
}

void TestCliSignedBuilds::updateSignsWhatMinisignAccepts()
{
    const QString unsignedCopy = m_dir->filePath(QStringLiteral("Unsigned/Demo"));
    QVERIFY(copyFolder(m_project, unsignedCopy));
    const Run update = cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                            tool(QStringLiteral("MASTER")), QStringLiteral("--sign"),
                            QStringLiteral("station.key")});
    QVERIFY2(update.exitCode == 0, qPrintable(update.err));
    QVERIFY2(update.out.contains(QStringLiteral("Signed: ") +
                                 QDir::toNativeSeparators(
                                     m_project + QStringLiteral("/manifest.json.minisig (key "))),
             qPrintable(update.out));
    QCOMPARE(cli({QStringLiteral("update"), unsignedCopy, QStringLiteral("--master"),
                  tool(QStringLiteral("MASTER"))})
                 .exitCode,
             0);
    // The manifest is the one an unsigned build of the same project writes.
    QCOMPARE(readFile(m_project + QStringLiteral("/manifest.json")),
             readFile(unsignedCopy + QStringLiteral("/manifest.json")));

    const Run check =
        minisign({QStringLiteral("-V"), QStringLiteral("-p"), QStringLiteral("station.pub"),
                  QStringLiteral("-m"), m_project + QStringLiteral("/manifest.json")});
    QVERIFY2(check.exitCode == 0, qPrintable(check.err + check.out));
    const QString merged =
        QString::fromLatin1(quillner::sha256OfFile(m_project + QStringLiteral("/New_SX51804.sx")));
    QVERIFY2(check.out.contains(QStringLiteral("Trusted comment: {\"device\":\"Demo\",\"merged\":"
                                               "\"New_SX51804.sx\",\"sha256\":\"%1\"}")
                                    .arg(merged)),
             qPrintable(check.out));
}

void TestCliSignedBuilds::batchSignsEachRow()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")),
                      "name,serial,can.format\nLine 1,SN-1,2.0B\nLine 2,SN-2,\n"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    const Run batch =
        cli({QStringLiteral("batch"), QStringLiteral("rows.csv"), QStringLiteral("--master"),
             tool(QStringLiteral("MASTER")), QStringLiteral("--out"), out, QStringLiteral("--sign"),
             QStringLiteral("station.key")});
    QVERIFY2(batch.exitCode == 0, qPrintable(batch.err));
    for (const char* row : {"Line 1", "Line 2"}) {
        const QString project = out + u'/' + QLatin1StringView(row);
        const Run check =
            minisign({QStringLiteral("-V"), QStringLiteral("-p"), QStringLiteral("station.pub"),
                      QStringLiteral("-m"), project + QStringLiteral("/manifest.json")});
        QVERIFY2(check.exitCode == 0, qPrintable(check.err + check.out));
        const QJsonObject comment =
            QJsonDocument::fromJson(
                check.out.section(QStringLiteral("Trusted comment: "), 1).trimmed().toUtf8())
                .object();
        QCOMPARE(comment[QStringLiteral("device")].toString(), QLatin1StringView(row));
        QCOMPARE(comment[QStringLiteral("serial")].toString(),
                 QStringLiteral("SN-") + QLatin1StringView(row).back());
        QCOMPARE(comment[QStringLiteral("sha256")].toString().toLatin1(),
                 quillner::sha256OfFile(project + QStringLiteral("/New_SX51804.sx")));
    }
}

// A key made by minisign, a manifest signed by minisign: verify takes it, and an update that
// builds the same manifest again flashes it once the trusted comment names the device.
void TestCliSignedBuilds::minisignSignaturesAreTaken()
{
    QCOMPARE(minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"),
                       QStringLiteral("m.pub"), QStringLiteral("-s"), QStringLiteral("m.key")})
                 .exitCode,
             0);
    QCOMPARE(cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                  tool(QStringLiteral("MASTER"))})
                 .exitCode,
             0);
    const Run sign = minisign({QStringLiteral("-S"), QStringLiteral("-s"), QStringLiteral("m.key"),
                               QStringLiteral("-m"), m_project + QStringLiteral("/manifest.json"),
                               QStringLiteral("-t"), QStringLiteral("line 3, by minisign")});
    QVERIFY2(sign.exitCode == 0, qPrintable(sign.err));
    const QStringList flash{QStringLiteral("update"),
                            m_project,
                            QStringLiteral("--master"),
                            tool(QStringLiteral("MASTER")),
                            QStringLiteral("--flash"),
                            QStringLiteral("--port"),
                            QStringLiteral("2"),
                            QStringLiteral("--wait"),
                            QStringLiteral("--require-signature"),
                            QStringLiteral("m.pub")};
    const Run verify =
        cli({QStringLiteral("verify"), m_project + QStringLiteral("/New_SX51804.sx"),
             QStringLiteral("--manifest"), m_project + QStringLiteral("/manifest.json"),
             QStringLiteral("--public-key"), QStringLiteral("m.pub"), QStringLiteral("--master"),
             tool(QStringLiteral("MASTER"))});
    QVERIFY2(verify.exitCode == 0, qPrintable(verify.err));
    QVERIFY2(verify.out.contains(QStringLiteral("(trusted comment: line 3, by minisign); "
                                                "New_SX51804.sx, bin/bank1.bin, SX51804.sx are "
                                                "the manifest's")),
             qPrintable(verify.out));

    // A comment that names no device binds the build to none.
    const Run unbound = cli(flash);
    QCOMPARE(unbound.exitCode, 1);
    QVERIFY2(unbound.err.startsWith(QStringLiteral("error: manifest.json.minisig: signed for no "
                                                   "device, not for device \"Demo\" (no serial)")),
             qPrintable(unbound.err));
    QVERIFY(!QFile::exists(tool(QStringLiteral("flashed.txt"))));

    const QString comment = QStringLiteral(R"({"device":"Demo","by":"minisign"})");
    QCOMPARE(minisign({QStringLiteral("-S"), QStringLiteral("-s"), QStringLiteral("m.key"),
                       QStringLiteral("-m"), m_project + QStringLiteral("/manifest.json"),
                       QStringLiteral("-t"), comment})
                 .exitCode,
             0);
    const Run update = cli(flash);
    QVERIFY2(update.exitCode == 0, qPrintable(update.err));
    QVERIFY(update.out.contains(QStringLiteral("Signature holds: ") + comment));
    QCOMPARE(readFile(tool(QStringLiteral("flashed.txt"))),
             QDir::toNativeSeparators(m_project + QStringLiteral("/New_SX51804.sx")).toUtf8() +
                 "\n2\n");
}

void TestCliSignedBuilds::verifyNamesWhatChanged_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing") << ""
                             << "";
    QTest::newRow("manifest") << "manifest"
                              << "error: manifest.json: changed since it was signed";
    QTest::newRow("signature") << "signature"
                               << "error: manifest.json.minisig: the trusted comment was changed";
    QTest::newRow("merged file") << "merged"
                                 << "error: New_SX51804.sx: its SHA-256 is ";
    QTest::newRow("bank file") << "bank"
                               << "error: bank1.bin: its SHA-256 is ";
    QTest::newRow("another key") << "key"
                                 << "error: manifest.json.minisig: the signature was made with "
                                    "another key";
}

void TestCliSignedBuilds::verifyNamesWhatChanged()
{
    QFETCH(QString, change);
    QFETCH(QString, error);
    QCOMPARE(cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                  tool(QStringLiteral("MASTER")), QStringLiteral("--sign"),
                  QStringLiteral("station.key")})
                 .exitCode,
             0);
    const auto flipByte = [](const QString& path, qsizetype index) {
        QByteArray bytes = readFile(path);
        index = index < 0 ? bytes.size() + index : index;
        bytes[index] = char(bytes[index] ^ 0x01);
        return writeFile(path, bytes);
    };
    QString key = QStringLiteral("station.pub");
    if (change == QLatin1String("manifest"))
        QVERIFY(flipByte(m_project + QStringLiteral("/manifest.json"), 200));
    else if (change == QLatin1String("signature"))
        QVERIFY(flipByte(
            m_project + QStringLiteral("/manifest.json.minisig"),
            readFile(m_project + QStringLiteral("/manifest.json.minisig")).indexOf("\"device\"") +
                3));
    else if (change == QLatin1String("merged"))
        QVERIFY(flipByte(m_project + QStringLiteral("/New_SX51804.sx"), -20));
    else if (change == QLatin1String("bank"))
        QVERIFY(flipByte(m_project + QStringLiteral("/bin/bank1.bin"), 100));
    else if (change == QLatin1String("key")) {
        QCOMPARE(
            cli({QStringLiteral("key"), QStringLiteral("new"), QStringLiteral("other")}).exitCode,
            0);
        key = QStringLiteral("other.pub");
    }
    const Run verify =
        cli({QStringLiteral("verify"), m_project + QStringLiteral("/New_SX51804.sx"),
             QStringLiteral("--manifest"), m_project + QStringLiteral("/manifest.json"),
             QStringLiteral("--public-key"), key});
    QCOMPARE(verify.exitCode, error.isEmpty() ? 0 : 1);
    QVERIFY2(error.isEmpty() ? verify.err.isEmpty() : verify.err.startsWith(error),
             qPrintable(verify.err));
    QCOMPARE(verify.err.count(u'\n'), error.isEmpty() ? 0 : 1);
}

void TestCliSignedBuilds::requireSignatureRefusesWhatIsNotSigned()
{
    const QStringList flash{QStringLiteral("update"),
                            m_project,
                            QStringLiteral("--master"),
                            tool(QStringLiteral("MASTER")),
                            QStringLiteral("--flash"),
                            QStringLiteral("--port"),
                            QStringLiteral("0"),
                            QStringLiteral("--wait"),
                            QStringLiteral("--require-signature"),
                            QStringLiteral("station.pub")};
    const Run unsignedRun = cli(flash);
    QCOMPARE(unsignedRun.exitCode, 1);
    QVERIFY2(unsignedRun.err.startsWith(QStringLiteral(
                 "error: manifest.json.minisig: not found: the manifest is not signed\n")),
             qPrintable(unsignedRun.err));
    QVERIFY(unsignedRun.err.contains(QStringLiteral("is not flashed: its build is not signed")));
    QVERIFY(!QFile::exists(tool(QStringLiteral("flashed.txt"))));

    // Signed, then changed: the build is no longer the one signed.
    QCOMPARE(cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                  tool(QStringLiteral("MASTER")), QStringLiteral("--sign"),
                  QStringLiteral("station.key")})
                 .exitCode,
             0);
    QCOMPARE(cli({QStringLiteral("set"), m_project, QStringLiteral("can.baud=250")}).exitCode, 0);
    const Run changed = cli(flash);
    QCOMPARE(changed.exitCode, 1);
    QVERIFY2(
        changed.err.startsWith(QStringLiteral("error: manifest.json: changed since it was signed")),
        qPrintable(changed.err));
    QVERIFY(!QFile::exists(tool(QStringLiteral("flashed.txt"))));

    // Signed as it is now: flashed.
    QCOMPARE(
        cli(flash + QStringList{QStringLiteral("--sign"), QStringLiteral("station.key")}).exitCode,
        0);
    QVERIFY(QFile::exists(tool(QStringLiteral("flashed.txt"))));

    const Run withoutFlash =
        cli({QStringLiteral("update"), m_project, QStringLiteral("--require-signature"),
             QStringLiteral("station.pub")});
    QCOMPARE(withoutFlash.exitCode, 2);
    QVERIFY(
        withoutFlash.err.startsWith(QStringLiteral("error: --require-signature needs --flash")));
}

// The same inputs give the same manifest, so a signed project copied into another device's folder
// still holds a valid signature: the device it names is not the one to be flashed.
void TestCliSignedBuilds::requireSignatureRefusesABuildSignedForAnotherDevice()
{
    QCOMPARE(cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                  tool(QStringLiteral("MASTER")), QStringLiteral("--sign"),
                  QStringLiteral("station.key")})
                 .exitCode,
             0);
    const QString other = m_dir->filePath(QStringLiteral("Line 7"));
    QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), m_project, other}), 0);
    const Run run = cli({QStringLiteral("update"), other, QStringLiteral("--master"),
                         tool(QStringLiteral("MASTER")), QStringLiteral("--flash"),
                         QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--wait"),
                         QStringLiteral("--require-signature"), QStringLiteral("station.pub")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral(
                 "error: manifest.json.minisig: signed for device \"Demo\" (no serial), not for "
                 "device \"Line 7\" (no serial), which is to be flashed\n")),
             qPrintable(run.err));
    QVERIFY(!QFile::exists(tool(QStringLiteral("flashed.txt"))));

    // Signed for itself, it is flashed.
    QCOMPARE(cli({QStringLiteral("update"), other, QStringLiteral("--master"),
                  tool(QStringLiteral("MASTER")), QStringLiteral("--sign"),
                  QStringLiteral("station.key")})
                 .exitCode,
             0);
    const Run signedRun =
        cli({QStringLiteral("update"), other, QStringLiteral("--master"),
             tool(QStringLiteral("MASTER")), QStringLiteral("--flash"), QStringLiteral("--port"),
             QStringLiteral("0"), QStringLiteral("--wait"), QStringLiteral("--require-signature"),
             QStringLiteral("station.pub")});
    QVERIFY2(signedRun.exitCode == 0, qPrintable(signedRun.err));
    QVERIFY(QFile::exists(tool(QStringLiteral("flashed.txt"))));
}

void TestCliSignedBuilds::aSecretKeyThatIsNoneStopsBeforeAnythingIsWritten()
{
    const Run run = cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                         tool(QStringLiteral("MASTER")), QStringLiteral("--sign"),
                         QStringLiteral("station.pub")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("station.pub: not an Ed25519 secret key")),
             qPrintable(run.err));
    QVERIFY(!QFile::exists(m_project + QStringLiteral("/bin/bank1.bin")));
    QVERIFY(!QFile::exists(m_project + QStringLiteral("/New_SX51804.sx")));

    const Run verify =
        cli({QStringLiteral("verify"), m_project + QStringLiteral("/New_SX51804.sx"),
             QStringLiteral("--manifest"), m_project + QStringLiteral("/manifest.json")});
    QCOMPARE(verify.exitCode, 2);
    QVERIFY(verify.err.startsWith(
        QStringLiteral("error: verify needs --manifest FILE and --public-key KEY.pub together")));
}

QTEST_GUILESS_MAIN(TestCliSignedBuilds)
#include "tst_cli_signed_builds.moc"
