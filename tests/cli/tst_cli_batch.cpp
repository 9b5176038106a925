#include "core/device/settings.h"
#include "core/documents/general_parameters.h"
#include "core/firmware/firmware_verify.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "support/verified_firmware.h"
#include "test_files.h"

#include <memory>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

// Four projects; the third row's baud rate is no rate.
const QByteArray kTable = "name,serial.baud,can.format,filter.hide,filter.list,filter.patterns\r\n"
                          "Alpha,115200,,0x100-0x1FF,,\r\n"
                          "\"Beta, line 2\",9600,2.0B,,\"0x100, 0x18FF0000\",\r\n"
                          "Gamma,11520,,,,\r\n"
                          "Delta,,2.0B,,,0x600:0x7F0\r\n";

// What each built row of kTable is, as single commands make it.
struct Row
{
    QString name;
    QStringList settings;
    QStringList filter; // the arguments of "filter set"
};

const QList<Row> kBuiltRows = {
    {QStringLiteral("Alpha"),
     {QStringLiteral("serial.baud=115200")},
     {QStringLiteral("--hide"), QStringLiteral("0x100-0x1FF")}},
    {QStringLiteral("Beta, line 2"),
     {QStringLiteral("serial.baud=9600"), QStringLiteral("can.format=2.0B")},
     {QStringLiteral("--list"), QStringLiteral("0x100, 0x18FF0000")}},
    {QStringLiteral("Delta"),
     {QStringLiteral("can.format=2.0B")},
     {QStringLiteral("--patterns"), QStringLiteral("0x600:0x7F0")}},
};

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

} // namespace

class TestCliBatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void badRowIsToldAndTheOthersAreBuilt();
    void builtRowsAreWhatUpdateMakes();
    void manifestsDoNotDependOnTheRunOrTheFolder();
    void sourceDateEpochAddsTheBuiltLine();
    void aSerialNumberNamesOneRow();
    void aTableWithoutFiltersSaysSoOnce();
    void aFilterThatOpensTheGatewayIsBuiltOnlyWhenAsked();
    void usageErrors_data();
    void usageErrors();

private:
    Run cli(const QStringList& arguments) const;
    Run batch(const QString& out, const QStringList& more = {}) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_master;
};

void TestCliBatch::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_master = m_dir->filePath(QStringLiteral("MASTER"));
    QVERIFY(QDir().mkpath(m_master));
    quillner::writeSyntheticFirmware(m_master + QStringLiteral("/SX51804.sx"), 0x384000, 0x390000,
                                     32, kHeader);
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("batch.csv")), kTable));
}

void TestCliBatch::cleanup()
{
    qunsetenv("SOURCE_DATE_EPOCH");
    m_dir.reset();
}

Run TestCliBatch::cli(const QStringList& arguments) const
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments, m_dir->path());
}

Run TestCliBatch::batch(const QString& out, const QStringList& more) const
{
    return cli(QStringList{QStringLiteral("batch"), QStringLiteral("batch.csv"),
                           QStringLiteral("--master"), m_master, QStringLiteral("--out"), out} +
               more);
}

void TestCliBatch::badRowIsToldAndTheOthersAreBuilt()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    const Run run = batch(out);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("error: batch.csv:4:2: serial.baud: '11520' is not a valid "
                                     "value; serial.baud takes 1200, 2400, 4800, 9600, 19200, "
                                     "38400, 57600, 115200\n"));
    // Told in row order, whatever thread finished first.
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    for (int i = 0; i < kBuiltRows.size(); ++i)
        QVERIFY2(lines[i].startsWith(QStringLiteral("Built: ") +
                                     QDir::toNativeSeparators(out + u'/' + kBuiltRows[i].name)),
                 qPrintable(run.out));
    QCOMPARE(lines[3], QStringLiteral("3 of 4 projects built"));
    // The bad row left nothing, not even a hidden folder.
    QCOMPARE(entries(out), QStringList({"Alpha", "Beta, line 2", "Delta"}));
    for (const Row& row : kBuiltRows) {
        const QString project = out + u'/' + row.name;
        QVERIFY(quillner::testing::verifiedWhole(quillner::verifyMergedFirmwareFiles(
            project + QStringLiteral("/New_SX51804.sx"), m_master + QStringLiteral("/SX51804.sx"),
            project + QStringLiteral("/bin/bank1.bin"))));
    }
    // One row at a time gives the same report.
    const Run serial = batch(m_dir->filePath(QStringLiteral("serial")), {"--jobs", "1"});
    QCOMPARE(serial.exitCode, 1);
    QCOMPARE(serial.err, run.err);
    QCOMPARE(serial.out,
             QString(run.out).replace(QStringLiteral("/out/"), QStringLiteral("/serial/")));
}

// Each built row holds what a new project with its settings and filter holds after update.
void TestCliBatch::builtRowsAreWhatUpdateMakes()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QCOMPARE(batch(out).exitCode, 1);
    for (const Row& row : kBuiltRows) {
        const QString single = m_dir->filePath(QStringLiteral("single/") + row.name);
        QVERIFY(QDir().mkpath(single + QStringLiteral("/bin")));
        quillner::saveGeneralParameters(
            single + QStringLiteral("/pargen.xml"),
            quillner::withSettings(quillner::GeneralParameters{}, row.settings));
        quillner::saveTranslateTable(single + QStringLiteral("/var.xml"));
        const Run filter =
            cli(QStringList{QStringLiteral("filter"), QStringLiteral("set"), single} + row.filter);
        QVERIFY2(filter.exitCode == 0, qPrintable(filter.err));
        const Run update =
            cli({QStringLiteral("update"), single, QStringLiteral("--master"), m_master});
        QVERIFY2(update.exitCode == 0, qPrintable(update.err));
        const QString built = out + u'/' + row.name;
        QCOMPARE(entries(built), entries(single));
        for (const char* file : {"New_SX51804.sx", "manifest.json", "bin/bank1.bin", "bin/bankg.c",
                                 "pargen.xml", "var.xml", "Filter20A.xml", "Filter20B.xml"}) {
            QCOMPARE(QFile::exists(built + u'/' + QLatin1StringView(file)),
                     QFile::exists(single + u'/' + QLatin1StringView(file)));
            QVERIFY2(readFile(built + u'/' + QLatin1StringView(file)) ==
                         readFile(single + u'/' + QLatin1StringView(file)),
                     qPrintable(row.name + QStringLiteral("/") + QLatin1StringView(file)));
        }
    }
}

void TestCliBatch::manifestsDoNotDependOnTheRunOrTheFolder()
{
    const QString first = m_dir->filePath(QStringLiteral("first"));
    const QString second = m_dir->filePath(QStringLiteral("elsewhere/second"));
    QCOMPARE(batch(first).exitCode, 1);
    QCOMPARE(batch(second).exitCode, 1);
    for (const Row& row : kBuiltRows) {
        const QByteArray manifest =
            readFile(first + u'/' + row.name + QStringLiteral("/manifest.json"));
        QVERIFY(manifest.contains("\"schema\": 1"));
        QVERIFY(!manifest.contains("built"));
        QCOMPARE(readFile(second + u'/' + row.name + QStringLiteral("/manifest.json")), manifest);
    }
    // A second run into the same folder replaces the projects with the same bytes.
    const QByteArray before = readFile(first + QStringLiteral("/Alpha/manifest.json"));
    QCOMPARE(batch(first).exitCode, 1);
    QCOMPARE(readFile(first + QStringLiteral("/Alpha/manifest.json")), before);
    QCOMPARE(entries(first), QStringList({"Alpha", "Beta, line 2", "Delta"}));

    // A project folder that holds more than a batch writes is never replaced: the user's file
    // stays, and so does the project; that row fails, the others are built again.
    QVERIFY(writeFile(first + QStringLiteral("/Alpha/notes.txt"), "kept\n"));
    const Run again = batch(first);
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.err.contains(QStringLiteral("holds more than a batch project")),
             qPrintable(again.err));
    QCOMPARE(readFile(first + QStringLiteral("/Alpha/notes.txt")), QByteArray("kept\n"));
    QCOMPARE(readFile(first + QStringLiteral("/Alpha/manifest.json")), before);
    QCOMPARE(entries(first), QStringList({"Alpha", "Beta, line 2", "Delta"}));
}

void TestCliBatch::sourceDateEpochAddsTheBuiltLine()
{
    const QString plain = m_dir->filePath(QStringLiteral("plain"));
    QCOMPARE(batch(plain).exitCode, 1);
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    const QString dated = m_dir->filePath(QStringLiteral("dated"));
    QCOMPARE(batch(dated).exitCode, 1);
    QList<QByteArray> lines = readFile(dated + QStringLiteral("/Delta/manifest.json")).split('\n');
    QVERIFY(lines.removeOne("    \"built\": \"2023-11-14T22:13:20Z\","));
    QCOMPARE(lines, readFile(plain + QStringLiteral("/Delta/manifest.json")).split('\n'));
}

// Two rows of one serial number would flash one device twice: neither is built.
// Each row's compile would warn that its filter document is missing; the table is told once.
void TestCliBatch::aTableWithoutFiltersSaysSoOnce()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("batch.csv")),
                      "name,serial.baud,can.format\nOne,9600,\nTwo,9600,2.0B\nThree,,\n"));
    const Run run = batch(m_dir->filePath(QStringLiteral("out")));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QStringLiteral("note: batch.csv has no filter column (filter.show, "
                                     "filter.hide, filter.list, filter.negative, "
                                     "filter.patterns): no filter was given, so every device "
                                     "lets each frame of its frame format through\n"));
    QVERIFY2(run.out.endsWith(QStringLiteral("3 of 3 projects built\n")), qPrintable(run.out));
}

// A row whose 2.0B filter lets every extended frame through fails as "filter set" refuses it,
// unless --allow-all; a 2.0B row given no filter is built, and the run says what that means.
void TestCliBatch::aFilterThatOpensTheGatewayIsBuiltOnlyWhenAsked()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("batch.csv")),
                      "name,can.format,filter.patterns\n"
                      "Open,2.0B,0:0\n"
                      "AllFree,2.0B,xxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"
                      "Shut,2.0B,0x600:0x7F0\n"
                      "Bare,2.0B,\n"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    const Run run = batch(out);
    QCOMPARE(run.exitCode, 1);
    for (int line : {2, 3})
        QVERIFY2(run.err.contains(QStringLiteral("error: batch.csv:%1:3: filter.patterns: A 2.0B "
                                                 "pattern fixes no bit (every position free): "
                                                 "the device would let every extended frame "
                                                 "through; the row is not built (--allow-all "
                                                 "builds it on purpose)\n")
                                      .arg(line)),
                 qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("every extended frame passes")), qPrintable(run.err));
    QCOMPARE(entries(out), QStringList({"Bare", "Shut"}));

    const Run allowed = batch(m_dir->filePath(QStringLiteral("allowed")), {"--allow-all"});
    QCOMPARE(allowed.exitCode, 0);
    QCOMPARE(entries(m_dir->filePath(QStringLiteral("allowed"))),
             QStringList({"AllFree", "Bare", "Open", "Shut"}));
}

void TestCliBatch::aSerialNumberNamesOneRow()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("batch.csv")),
                      "name,serial,serial.baud\nA,S1,9600\nB,S1,9600\nC,S2,9600\n"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    const Run run = batch(out);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.count(QStringLiteral(": serial: 'S1' is the serial number of more than one "
                                          "row; each device is flashed once\n")),
             2);
    // After the note that the table gives no filter, the rows in order.
    QVERIFY2(
        run.err.section(u'\n', 1).startsWith(QStringLiteral("error: batch.csv:2:2: serial: 'S1'")),
        qPrintable(run.err));
    QCOMPARE(entries(out), QStringList({"C"}));
}

void TestCliBatch::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("message");
    const QStringList master{QStringLiteral("--master"), QStringLiteral("MASTER")};
    const QStringList out{QStringLiteral("--out"), QStringLiteral("out")};
    QTest::newRow("no --master") << out << kTable << "batch needs --master DIR";
    QTest::newRow("no --out") << master << kTable << "batch needs --out DIR";
    QTest::newRow("no jobs") << master + out + QStringList{"--jobs", "0"} << kTable
                             << "--jobs takes a number of 1 or more, not '0'";
    const QStringList flash{QStringLiteral("--flash")};
    QTest::newRow("flash without ports")
        << master + out + flash << kTable << "--flash needs --ports N,...";
    QTest::newRow("ports without flash")
        << master + out + QStringList{"--ports", "0"} << kTable << "--ports needs --flash";
    QTest::newRow("no such port")
        << master + out + flash + QStringList{"--ports", "0,8"} << kTable
        << "--ports takes a port index from 0 (COM1) to 7 (COM8), not '8'";
    QTest::newRow("a port twice") << master + out + flash + QStringList{"--ports", "1, 1"} << kTable
                                  << "--ports names port 1 twice";
    QTest::newRow("resume without flash")
        << master + out + QStringList{"--resume"} << kTable << "--resume needs --flash";
    QTest::newRow("timeout without flash")
        << master + out + QStringList{"--timeout", "5"} << kTable << "--timeout needs --flash";
    QTest::newRow("no timeout") << master + out + flash +
                                       QStringList{"--ports", "0", "--timeout", "0"}
                                << kTable << "--timeout takes seconds from 0 to 86400, not '0'";
    QTest::newRow("timeout not a number")
        << master + out + flash + QStringList{"--ports", "0", "--timeout", "nan"} << kTable
        << "--timeout takes seconds from 0 to 86400, not 'nan'";
    QTest::newRow("unknown column")
        << master + out << QByteArray("name,serial.baud,colour\nA,9600,red\n")
        << "batch.csv:1:3: unknown column 'colour'; the columns are name, serial.baud";
    QTest::newRow("no name column")
        << master + out << QByteArray("serial.baud\n9600\n") << "batch.csv:1: no name column";
    QTest::newRow("empty table") << master + out << QByteArray() << "batch.csv: no header row";
    QTest::newRow("header alone") << master + out << QByteArray("name,can.baud\n\n")
                                  << "batch.csv: no rows below the header";
    QTest::newRow("broken header") << master + out << QByteArray("name,\"serial.baud\n")
                                   << "batch.csv:1:2: a quoted field that is never closed";
}

void TestCliBatch::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, table);
    QFETCH(QString, message);
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("batch.csv")), table));
    const Run run =
        cli(QStringList{QStringLiteral("batch"), QStringLiteral("batch.csv")} + arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("error: ") + message), qPrintable(run.err));
    QVERIFY(run.err.endsWith(QStringLiteral("Try 'quillner-cli help batch'.\n")));
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("out"))));
}

QTEST_GUILESS_MAIN(TestCliBatch)
#include "tst_cli_batch.moc"
