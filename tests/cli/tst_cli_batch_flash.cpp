// batch --flash: a production station that flashes a table of devices on several ports, keeps a
// journal that survives kill -9, and resumes where it stopped.

#include "core/app/sha256.h"
#include "core/production/flash_journal.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "support/file_wait.h"
#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::waitForLines;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

// A stand-in flashing tool for a station of devices: "$1" the merged firmware, "$2" the port.
// Every process of its tree holds the port's device file (an flock), so that a tool started on a
// port whose earlier tool still writes finds it taken: it writes that down and refuses. It fails
// the first attempt of the rows whose name ends in 3 or 7 ("port busy"), takes its time on those
// ending in 5, hangs on those ending in 9 when asked to, and writes down each start and each
// device it flashed with the SHA-256 of what it got. While the gate file is held, a child of the
// tool goes on writing the device until it is let go.
// clang-format off
constexpr auto kStationFlasher = R"sh(#!/bin/bash
trap '' PIPE
state="$(dirname "$0")/state"
row=$(basename "$(dirname "$1")")
exec {device}>>"$state/port$2.device"
flock -n $device || { echo "$row $2" >> "$state/overlaps.log"; echo "port $2 taken by another flasher"; exit 9; }
echo "$row $2" >> "$state/starts.log"
head -c 2 "$1" | grep -q S0 || { echo "no firmware"; exit 8; }
if [ -e "$state/gate" ]; then
  ( echo "$row $2" >> "$state/holding.log"; flock -s "$state/gate" true ) &
  wait $!
fi
case "$row" in
*3|*7) if [ ! -e "$state/$row.failed" ]; then
         : > "$state/$row.failed"; echo "writing"; echo "port COM$(($2 + 1)) busy"; exit 1
       fi ;;
*5) sleep 0.2 ;;
*9) if [ -e "$state/hang" ]; then
      sleep 30 >/dev/null 2>&1 & sleeper=$!
      trap 'kill $sleeper 2>/dev/null; exit 143' TERM
      wait $sleeper
    fi ;;
esac
echo "$row $2 $(sha256sum "$1" | cut -c1-64)" >> "$state/flashes.log"
echo "flashed $row"
)sh";
// clang-format on

// Waits until no process of a stand-in holds a port's device file: each is let go only when the
// last process of its tool has ended.
void waitUntilNoToolRuns(const QString& stateFolder)
{
    const QStringList devices = QDir(stateFolder).entryList({QStringLiteral("port*.device")});
    for (const QString& name : devices) {
        const int device =
            ::open(QFile::encodeName(stateFolder + u'/' + name).constData(), O_RDONLY | O_CLOEXEC);
        if (device < 0)
            continue;
        ::flock(device, LOCK_EX);
        ::close(device);
    }
}

QList<QJsonObject> journalRecords(const QString& path, bool* whole = nullptr)
{
    QList<QJsonObject> records;
    QList<QByteArray> lines = readFile(path).split('\n');
    const QByteArray last = lines.takeLast();
    if (whole)
        *whole = last.isEmpty();
    for (const QByteArray& line : lines) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        records.append(document.isObject() ? document.object() : QJsonObject{});
    }
    return records;
}

QByteArray tableOf(int rows, bool withBadRow = false)
{
    QByteArray table = "name,serial,serial.baud,can.format,filter.hide\n";
    for (int i = 0; i < rows; ++i) {
        table +=
            QStringLiteral("Row%1,SN-%2,%3,%4,%5\n")
                .arg(i, 3, 10, QLatin1Char('0'))
                .arg(1000 + i)
                .arg(i % 2 ? "9600" : "115200", i % 2 ? "2.0B" : "", i % 2 ? "" : "0x100-0x1FF")
                .toUtf8();
    }
    if (withBadRow)
        table += "Bad,SN-9999,11520,,\n";
    return table;
}

} // namespace

class TestCliBatchFlash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void eachAttemptIsInTheJournal();
    void eachRowIsToldWholeAndInTableOrder();
    void resumeFlashesWhatIsLeftAndKeepsItsFirmware();
    void killedInTheMiddleResumeFlashesEveryRowOnce();
    void aSecondBatchIntoTheSameFolderIsBusy();
    void aChangedJournalIsNotTrusted();
    void resumedAtOnceNeverPutsTwoToolsOnAPort_data();
    void resumedAtOnceNeverPutsTwoToolsOnAPort();

private:
    Run cli(const QStringList& arguments) const;
    QStringList flashArguments(const QStringList& ports, const QStringList& more = {}) const;
    QString state(const QString& name) const { return m_tool + QStringLiteral("/state/") + name; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_tool;
    QString m_master;
    QString m_out;
};

void TestCliBatchFlash::init()
{
#ifdef Q_OS_WIN
    QSKIP("The stand-in flashing tool is a shell script");
#endif
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_tool = m_dir->filePath(QStringLiteral("tool"));
    m_master = m_tool + QStringLiteral("/MASTER");
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_master));
    QVERIFY(QDir().mkpath(m_tool + QStringLiteral("/state")));
    QVERIFY(QFile::copy(QStringLiteral(QUILLNER_CLI), m_tool + QStringLiteral("/quillner-cli")));
    quillner::writeSyntheticFirmware(m_master + QStringLiteral("/SX51804.sx"), 0x384000, 0x390000,
                                     32, kHeader);
    const QString flasher = m_tool + QStringLiteral("/Morvex.exe");
    QVERIFY(writeFile(flasher, kStationFlasher));
    QVERIFY(QFile::setPermissions(flasher, QFile::permissions(flasher) | QFileDevice::ExeOwner));
}

void TestCliBatchFlash::cleanup()
{
    // Stand-ins that a killed batch left running end before their folder goes.
    QFile::remove(state(QStringLiteral("hang")));
    waitUntilNoToolRuns(m_tool + QStringLiteral("/state"));
    m_dir.reset();
}

Run TestCliBatchFlash::cli(const QStringList& arguments) const
{
    return quillner::testing::runProgram(m_tool + QStringLiteral("/quillner-cli"), arguments,
                                         m_dir->path());
}

QStringList TestCliBatchFlash::flashArguments(const QStringList& ports,
                                              const QStringList& more) const
{
    return QStringList{QStringLiteral("batch"),
                       QStringLiteral("rows.csv"),
                       QStringLiteral("--master"),
                       m_master,
                       QStringLiteral("--out"),
                       m_out,
                       QStringLiteral("--flash"),
                       QStringLiteral("--ports"),
                       ports.join(u',')} +
           more;
}

// Devices finish in any order on two ports; the output tells each row whole (built, then flashed
// or failed) and in the table's order, standard output and standard error read as one stream.
void TestCliBatchFlash::eachRowIsToldWholeAndInTableOrder()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(8, true)));
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_tool + QStringLiteral("/quillner-cli"), flashArguments({"2", "5"}));
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    const QString output = QString::fromUtf8(process.readAll());
    // What each line tells of which row: "built Row000", "flashed Row000", "failed Row003".
    const QList<std::pair<QString, QRegularExpression>> kinds{
        {QStringLiteral("built"), QRegularExpression(QStringLiteral("^Built: .*/(Row\\d+) \\("))},
        {QStringLiteral("flashed"), QRegularExpression(QStringLiteral("^Flashed: (Row\\d+) "))},
        {QStringLiteral("failed"), QRegularExpression(QStringLiteral(
                                       "^error: rows\\.csv:\\d+:(?:\\d+:)? (Row\\d+|serial)"))}};
    QStringList told;
    for (const QString& line : output.split(u'\n', Qt::SkipEmptyParts)) {
        for (const auto& [kind, pattern] : kinds) {
            const QRegularExpressionMatch match = pattern.match(line);
            if (match.hasMatch())
                told << kind + u' ' + match.captured(1);
        }
    }
    QStringList expected;
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("Row%1").arg(i, 3, 10, QLatin1Char('0'));
        expected << QStringLiteral("built ") + name
                 << (i == 3 || i == 7 ? QStringLiteral("failed ") : QStringLiteral("flashed ")) +
                        name;
    }
    expected << QStringLiteral("failed serial"); // the bad row, told by its cell
    QCOMPARE(told, expected);
}

// One line per attempt, with which device got which firmware on which port and how it went.
void TestCliBatchFlash::eachAttemptIsInTheJournal()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(10, true)));
    QVERIFY(writeFile(state(QStringLiteral("hang")), ""));
    const Run run = cli(flashArguments({"2", "5"}, {"--timeout", "1"}));
    QCOMPARE(run.exitCode, 1);
    // Row003 and Row007 failed their first attempt, Row009 hung, Bad was never built.
    QVERIFY2(run.out.contains(QStringLiteral("Summary: 7 flashed, 4 failed, 0 skipped (flashed "
                                             "before) of 11 rows\n"
                                             "COM3 (port 2): ")),
             qPrintable(run.out.right(300)));
    QVERIFY(run.out.contains(
        QRegularExpression(QStringLiteral("\nCOM3 \\(port 2\\): \\d flashed, \\d failed\nCOM6 "
                                          "\\(port 5\\): \\d flashed, \\d failed\n$"))));
    QVERIFY2(run.err.contains(QStringLiteral("error: rows.csv:5: Row003: Morvex.exe failed with "
                                             "status 1: port COM")),
             qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("error: rows.csv:11: Row009: Morvex.exe did not end "
                                            "within ")));
    QVERIFY(run.err.contains(QStringLiteral("error: rows.csv:12:3: serial.baud: '11520'")));
    QVERIFY(run.out.contains(QStringLiteral("Flashed: Row000 (serial SN-1000) on COM")));

    bool whole = false;
    const QList<QJsonObject> records =
        journalRecords(m_out + QStringLiteral("/journal.jsonl"), &whole);
    QVERIFY(whole);
    QCOMPARE(records.size(), 11);
    const QByteArray master = quillner::sha256OfFile(m_master + QStringLiteral("/SX51804.sx"));
    // What the stand-in flashed, by row: its port and the SHA-256 of the file it got.
    QHash<QString, QStringList> flashed;
    for (const QByteArray& line : readFile(state(QStringLiteral("flashes.log"))).split('\n')) {
        const QStringList fields = QString::fromLatin1(line).split(u' ');
        if (fields.size() == 3)
            flashed.insert(fields[0], fields.mid(1));
    }
    QCOMPARE(flashed.size(), 7);
    QSet<qint64> rows;
    for (const QJsonObject& record : records) {
        const QString name = record[QStringLiteral("name")].toString();
        const QString outcome = record[QStringLiteral("outcome")].toString();
        const qint64 row = record[QStringLiteral("row")].toInteger();
        rows.insert(row);
        QCOMPARE(record[QStringLiteral("toolVersion")].toString(),
                 QStringLiteral(QUILLNER_VERSION));
        QCOMPARE(record[QStringLiteral("masterSha256")].toString().toLatin1(), master);
        const QDateTime started =
            QDateTime::fromString(record[QStringLiteral("started")].toString(), Qt::ISODateWithMs);
        QVERIFY(started.isValid() && started.timeSpec() == Qt::UTC);
        QVERIFY(qAbs(started.secsTo(QDateTime::currentDateTimeUtc())) < 120);
        QVERIFY(record[QStringLiteral("milliseconds")].toInteger() >= 0);
        if (name == QLatin1String("Bad")) {
            QCOMPARE(row, 12);
            QCOMPARE(outcome, QStringLiteral("not built"));
            QVERIFY(record[QStringLiteral("port")].isNull());
            QVERIFY(record[QStringLiteral("mergedSha256")].isNull());
            QVERIFY(record[QStringLiteral("error")].toString().contains(QLatin1String("11520")));
            continue;
        }
        const QString project = m_out + u'/' + name;
        QCOMPARE(row, name.mid(3).toInt() + 2);
        QCOMPARE(record[QStringLiteral("serial")].toString(),
                 QStringLiteral("SN-%1").arg(1000 + name.mid(3).toInt()));
        QCOMPARE(record[QStringLiteral("bankSha256")].toString().toLatin1(),
                 quillner::sha256OfFile(project + QStringLiteral("/bin/bank1.bin")));
        QCOMPARE(record[QStringLiteral("mergedSha256")].toString().toLatin1(),
                 quillner::sha256OfFile(project + QStringLiteral("/New_SX51804.sx")));
        const int port = record[QStringLiteral("port")].toInt(-1);
        QVERIFY(port == 2 || port == 5);
        if (name.endsWith(u'3') || name.endsWith(u'7')) {
            QCOMPARE(outcome, QStringLiteral("failed"));
            QCOMPARE(record[QStringLiteral("exitStatus")].toInt(), 1);
            QCOMPARE(record[QStringLiteral("lastLine")].toString(),
                     QStringLiteral("port COM%1 busy").arg(port + 1));
        } else if (name.endsWith(u'9')) {
            QCOMPARE(outcome, QStringLiteral("timed out"));
            QVERIFY(record[QStringLiteral("exitStatus")].isNull());
            QVERIFY(record[QStringLiteral("milliseconds")].toInteger() >= 1000);
        } else {
            QCOMPARE(outcome, QStringLiteral("flashed"));
            QCOMPARE(record[QStringLiteral("exitStatus")].toInt(), 0);
            QCOMPARE(record[QStringLiteral("lastLine")].toString(),
                     QStringLiteral("flashed ") + name);
            QVERIFY(record[QStringLiteral("error")].isNull());
            // The device got the file the journal names, on the port it names.
            QCOMPARE(flashed.value(name),
                     QStringList({QString::number(port),
                                  record[QStringLiteral("mergedSha256")].toString()}));
            if (name.endsWith(u'5'))
                QVERIFY(record[QStringLiteral("milliseconds")].toInteger() >= 200);
        }
    }
    QCOMPARE(rows.size(), 11);
}

// --resume flashes only the rows without a successful record; a row's firmware is built again
// only when its row changed.
void TestCliBatchFlash::resumeFlashesWhatIsLeftAndKeepsItsFirmware()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(10)));
    QCOMPARE(cli(flashArguments({"0", "1"})).exitCode, 1);
    const QList<QJsonObject> first = journalRecords(m_out + QStringLiteral("/journal.jsonl"));
    QCOMPARE(first.size(), 10);
    const QString row7 = m_out + QStringLiteral("/Row007/New_SX51804.sx");
    const QDateTime row7Written = QFileInfo(row7).lastModified();
    const QByteArray row3Before =
        quillner::sha256OfFile(m_out + QStringLiteral("/Row003/New_SX51804.sx"));

    // Row003 gets another baud rate; Row007 stays as it was.
    QByteArray table = tableOf(10);
    table.replace("Row003,SN-1003,9600", "Row003,SN-1003,19200");
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), table));
    const Run resumed = cli(flashArguments({"0", "1"}, {"--resume"}));
    QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
    QVERIFY2(resumed.out.contains(QStringLiteral("Summary: 2 flashed, 0 failed, 8 skipped (flashed "
                                                 "before) of 10 rows\n")),
             qPrintable(resumed.out));
    QVERIFY(resumed.out.contains(QStringLiteral(
        "Skipped: Row000 (serial SN-1000): flashed before, as the journal tells\n")));
    QVERIFY(resumed.out.contains(QStringLiteral("/Row007 (New_SX51804.sx: kept, built before")));

    const QList<QJsonObject> records = journalRecords(m_out + QStringLiteral("/journal.jsonl"));
    QCOMPARE(records.size(), 12);
    QCOMPARE(records.mid(0, 10), first);
    QHash<QString, QJsonObject> later;
    for (const QJsonObject& record : records.mid(10))
        later.insert(record[QStringLiteral("name")].toString(), record);
    QCOMPARE(later.keys().size(), 2);
    QCOMPARE(later[QStringLiteral("Row007")][QStringLiteral("outcome")].toString(),
             QStringLiteral("flashed"));
    QCOMPARE(later[QStringLiteral("Row003")][QStringLiteral("outcome")].toString(),
             QStringLiteral("flashed"));
    // Row007's firmware is the one built at first; Row003's was built again.
    QCOMPARE(QFileInfo(row7).lastModified(), row7Written);
    for (const QJsonObject& record : first) {
        if (record[QStringLiteral("name")].toString() == QLatin1String("Row007"))
            QCOMPARE(later[QStringLiteral("Row007")][QStringLiteral("mergedSha256")],
                     record[QStringLiteral("mergedSha256")]);
    }
    const QByteArray row3After =
        quillner::sha256OfFile(m_out + QStringLiteral("/Row003/New_SX51804.sx"));
    QVERIFY(row3After != row3Before);
    QCOMPARE(later[QStringLiteral("Row003")][QStringLiteral("mergedSha256")].toString().toLatin1(),
             row3After);
}

// kill -9 in the middle of 200 devices on four ports: every finished attempt is whole in the
// journal, at most the ones under way are missing, and --resume ends with one successful record
// for every row.
void TestCliBatchFlash::killedInTheMiddleResumeFlashesEveryRowOnce()
{
    constexpr int kRows = 200;
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(kRows)));
    const QString journal = m_out + QStringLiteral("/journal.jsonl");
    const QStringList ports{"0", "1", "2", "3"};

    QProcess batch;
    batch.setWorkingDirectory(m_dir->path());
    batch.start(m_tool + QStringLiteral("/quillner-cli"), flashArguments(ports));
    QVERIFY(batch.waitForStarted());
    QVERIFY(waitForLines(journal, 60, &batch));
    batch.kill();
    QVERIFY(batch.waitForFinished(10000));
    const QByteArray flashesAtKill = readFile(state(QStringLiteral("flashes.log")));

    bool whole = false;
    const QList<QJsonObject> atKill = journalRecords(journal, &whole);
    QVERIFY(atKill.size() >= 60 && atKill.size() < kRows);
    int recordedFlashes = 0;
    for (const QJsonObject& record : atKill) {
        QVERIFY(!record.isEmpty());
        recordedFlashes += record[QStringLiteral("outcome")].toString() == QLatin1String("flashed");
    }
    // Only the devices under way on the four ports may have been flashed without a record.
    QVERIFY(flashesAtKill.count('\n') - recordedFlashes <= ports.size());

    // Stand-ins the kill left running still hold their ports: the station waits for them.
    int status = -1;
    for (int resume = 0; resume < 4 && status != 0; ++resume) {
        const Run run = cli(flashArguments(ports, {"--resume", "--jobs", "2"}));
        status = run.exitCode;
        QVERIFY2(status == 0 || run.err.contains(QLatin1String(" busy")), qPrintable(run.err));
    }
    QCOMPARE(status, 0);

    const QList<QJsonObject> records = journalRecords(journal, &whole);
    QVERIFY(whole);
    QHash<QString, int> successes;
    for (const QJsonObject& record : records) {
        QVERIFY(!record.isEmpty());
        QVERIFY(record[QStringLiteral("exitStatus")].toInt() != 9); // one device per port
        if (record[QStringLiteral("outcome")].toString() == QLatin1String("flashed"))
            ++successes[record[QStringLiteral("name")].toString()];
        else
            QVERIFY(record[QStringLiteral("name")].toString().endsWith(u'3') ||
                    record[QStringLiteral("name")].toString().endsWith(u'7'));
    }
    QCOMPARE(successes.size(), kRows);
    for (auto it = successes.cbegin(); it != successes.cend(); ++it)
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    // Nothing of the station's work is left beside the projects.
    const QStringList entries =
        QDir(m_out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(entries.size(), kRows + 1);
    QVERIFY(entries.contains(QStringLiteral("journal.jsonl")));
}

void TestCliBatchFlash::aSecondBatchIntoTheSameFolderIsBusy()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(10)));
    QVERIFY(writeFile(state(QStringLiteral("hang")), ""));
    QProcess first;
    first.setWorkingDirectory(m_dir->path());
    first.start(m_tool + QStringLiteral("/quillner-cli"),
                flashArguments({"0"}, {"--timeout", "3"}));
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(state(QStringLiteral("starts.log"))).contains("Row000 0"),
                             20000);
    const Run second = cli(flashArguments({"1"}));
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.err.startsWith(
                 QStringLiteral("error: %1 is busy (another batch is writing into it)\n%1/"
                                ".quillner-batch.lock is held by process %2 (quillner-cli on ")
                     .arg(QDir::toNativeSeparators(m_out))
                     .arg(first.processId())),
             qPrintable(second.err));
    QFile::remove(state(QStringLiteral("hang")));
    QVERIFY(first.waitForFinished(60000));
    // The first batch alone wrote the journal: one attempt per row.
    QCOMPARE(journalRecords(m_out + QStringLiteral("/journal.jsonl")).size(), 10);
}

void TestCliBatchFlash::aChangedJournalIsNotTrusted()
{
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(4)));
    QCOMPARE(cli(flashArguments({"0"})).exitCode, 1);
    const QString journal = m_out + QStringLiteral("/journal.jsonl");
    QByteArray text = readFile(journal);
    text.replace(text.indexOf("\"outcome\""), 9, "\"outcame\"");
    QVERIFY(writeFile(journal, text));
    const Run run = cli(flashArguments({"0"}, {"--resume"}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("journal.jsonl:1: not a record of a flashing "
                                             "attempt")),
             qPrintable(run.err));
    QCOMPARE(readFile(journal), text);
}

// A batch killed (kill -9) or ended (SIGTERM) while its tools write, and resumed at once: no
// port ever gets a second tool while a process of its earlier one still writes, and every row
// ends flashed once.
void TestCliBatchFlash::resumedAtOnceNeverPutsTwoToolsOnAPort_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("kill -9") << int(SIGKILL);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestCliBatchFlash::resumedAtOnceNeverPutsTwoToolsOnAPort()
{
    QFETCH(int, signal);
    constexpr int kRows = 3; // none fails or hangs by its name
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), tableOf(kRows)));
    // The tools' children write their devices until the gate is let go.
    QVERIFY(writeFile(state(QStringLiteral("gate")), ""));
    const int gate =
        ::open(QFile::encodeName(state(QStringLiteral("gate"))).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(gate >= 0);
    QCOMPARE(::flock(gate, LOCK_EX), 0);
    const QString starts = state(QStringLiteral("starts.log"));
    const QStringList ports{"0", "1"};

    QProcess batch;
    batch.setWorkingDirectory(m_dir->path());
    batch.start(m_tool + QStringLiteral("/quillner-cli"), flashArguments(ports));
    QVERIFY(batch.waitForStarted());
    // A child of each port's tool holds its device.
    QTRY_VERIFY_WITH_TIMEOUT(readFile(state(QStringLiteral("holding.log"))).count('\n') == 2,
                             60000);
    QCOMPARE(::kill(pid_t(batch.processId()), signal), 0);
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitStatus(), QProcess::CrashExit);

    QProcess resume;
    resume.setWorkingDirectory(m_dir->path());
    resume.start(m_tool + QStringLiteral("/quillner-cli"),
                 flashArguments(ports, {QStringLiteral("--resume")}));
    QVERIFY(resume.waitForStarted());
    // The gate opens once the resumed batch waits for the ports, or has started its own tools on
    // them, or has ended.
    QByteArray err;
    QDeadlineTimer deadline(60000);
    while (!err.contains("is still taken by an earlier flashing tool") &&
           readFile(starts).count('\n') < 4 && resume.state() == QProcess::Running &&
           !deadline.hasExpired()) {
        resume.waitForReadyRead(50);
        err += resume.readAllStandardError();
    }
    ::close(gate);
    QVERIFY(resume.waitForFinished(60000));
    err += resume.readAllStandardError();
    QVERIFY2(!QFileInfo::exists(state(QStringLiteral("overlaps.log"))),
             readFile(state(QStringLiteral("overlaps.log"))).constData());
    QVERIFY2(resume.exitCode() == 0, err.constData());
    // After kill -9 the killed batch's tools still hold their ports: the resumed one waits for
    // one of them at least (which port it meets first is the ports' own race).
    if (signal == SIGKILL)
        QVERIFY2(err.contains("is still taken by an earlier flashing tool"), err.constData());

    // Each device was flashed to the end once, and the journal says so once.
    QHash<QString, int> flashed;
    for (const QByteArray& line : readFile(state(QStringLiteral("flashes.log"))).split('\n')) {
        if (!line.isEmpty())
            ++flashed[QString::fromLatin1(line.split(' ').value(0))];
    }
    QHash<QString, int> recorded;
    for (const QJsonObject& record : journalRecords(m_out + QStringLiteral("/journal.jsonl"))) {
        if (record[QStringLiteral("outcome")].toString() == QLatin1String("flashed"))
            ++recorded[record[QStringLiteral("name")].toString()];
    }
    QCOMPARE(flashed.size(), kRows);
    QCOMPARE(recorded, flashed);
    for (const int times : flashed)
        QCOMPARE(times, 1);
}

QTEST_GUILESS_MAIN(TestCliBatchFlash)
#include "tst_cli_batch_flash.moc"
