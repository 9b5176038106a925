// A production line: several stations flash one table through a PostgreSQL journal they share,
// each row once over the line, whether a station is killed or the database goes away.

#include "core/app/error.h"
#include "core/production/journal_database.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "support/line_station.h"
#include "support/postgres_server.h"
#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <map>
#include <memory>
#include <signal.h>

using quillner::testing::LineEvents;
using quillner::testing::PostgresServer;
using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

constexpr int kRows = 40;

QByteArray tableOf(int rows)
{
    QByteArray table = "name,serial,serial.baud,can.format\n";
    for (int i = 0; i < rows; ++i)
        table += QStringLiteral("Row%1,SN-%2,%3,%4\n")
                     .arg(i, 3, 10, QLatin1Char('0'))
                     .arg(1000 + i)
                     .arg(i % 2 ? "9600" : "115200", i % 2 ? "2.0B" : "")
                     .toUtf8();
    return table;
}

// A station's batch running beside the others.
struct Station
{
    QString name;
    std::unique_ptr<QProcess> process;
};

} // namespace

class TestCliLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void aKilledStationsRowsAreFlashedOnceOverTheLine();
    void stationsThatLoseTheDatabaseStopAndResumeCompletesTheTable();
    void journalShowPrintsTheLinesAttempts_data();
    void journalShowPrintsTheLinesAttempts();
    void aBadJournalIsAUsageError_data();
    void aBadJournalIsAUsageError();

private:
    QStringList stationArguments(const QString& station, int ports,
                                 const QStringList& more = {}) const;
    void startStation(Station& station, int ports, const QStringList& more = {});
    Run cli(const QStringList& arguments) const;
    void setHold(const QString& key, int from) const;
    void clearHolds() const;
    // Every attempt of the database, by row name.
    std::map<QString, QList<QJsonObject>> databaseAttempts() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PostgresServer> m_server;
    QString m_tool;
    QString m_master;
    QString m_database;
    int m_databases = 0;
};

void TestCliLine::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_server = std::make_unique<PostgresServer>(m_dir->path());
    QVERIFY2(m_server->start(), qPrintable(m_server->failure()));
    m_master = m_dir->filePath(QStringLiteral("MASTER"));
    QVERIFY(QDir().mkpath(m_master));
    quillner::writeSyntheticFirmware(m_master + QStringLiteral("/SX51804.sx"), 0x384000, 0x390000,
                                     32, "QUILLNER TEST FIRMWARE - NOT FOR DEVICES");
}

void TestCliLine::init()
{
    // Each test a database and a station folder of its own.
    m_database = QStringLiteral("line%1").arg(++m_databases);
    QVERIFY2(m_server->createDatabase(m_database), qPrintable(m_server->failure()));
    m_tool = m_dir->filePath(m_database);
    QVERIFY(QDir().mkpath(m_tool));
    QVERIFY(QFile::copy(QStringLiteral(QUILLNER_CLI), m_tool + QStringLiteral("/quillner-cli")));
    quillner::testing::writeLineFlasher(m_tool, 0.05);
    QVERIFY(writeFile(m_tool + QStringLiteral("/rows.csv"), tableOf(kRows)));
}

void TestCliLine::cleanup()
{
    // A test that stopped the server leaves it running for the next.
    if (!m_server->running())
        QVERIFY2(m_server->start(), qPrintable(m_server->failure()));
}

QStringList TestCliLine::stationArguments(const QString& station, int ports,
                                          const QStringList& more) const
{
    QStringList portList;
    for (int port = 0; port < ports; ++port)
        portList << QString::number(port);
    return QStringList{QStringLiteral("batch"), QStringLiteral("rows.csv"),
                       QStringLiteral("--master"), m_master, QStringLiteral("--out"),
                       m_tool + u'/' + station,
                       // Each station is a machine of its own, with its own serial ports: the
                       // ports' locks live in its data folder.
                       QStringLiteral("--home"), m_tool + u'/' + station + QStringLiteral(".home"),
                       QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--flash"),
                       QStringLiteral("--ports"), portList.join(u','), QStringLiteral("--journal"),
                       m_server->address(m_database, QStringLiteral("not-to-be-shown")),
                       QStringLiteral("--station"), station} +
           more;
}

void TestCliLine::startStation(Station& station, int ports, const QStringList& more)
{
    QVERIFY(QDir().mkpath(m_tool + u'/' + station.name + QStringLiteral(".home")));
    station.process = std::make_unique<QProcess>();
    station.process->setWorkingDirectory(m_tool);
    station.process->start(m_tool + QStringLiteral("/quillner-cli"),
                           stationArguments(station.name, ports, more));
    QVERIFY(station.process->waitForStarted());
}

Run TestCliLine::cli(const QStringList& arguments) const
{
    return quillner::testing::runProgram(m_tool + QStringLiteral("/quillner-cli"), arguments,
                                         m_tool);
}

void TestCliLine::setHold(const QString& key, int from) const
{
    QVERIFY(writeFile(m_tool + QStringLiteral("/state/hold-") + key, QByteArray::number(from)));
}

void TestCliLine::clearHolds() const
{
    const QDir state(m_tool + QStringLiteral("/state"));
    for (const QString& hold : state.entryList({QStringLiteral("hold-*")}))
        QVERIFY(QFile::remove(state.filePath(hold)));
}

std::map<QString, QList<QJsonObject>> TestCliLine::databaseAttempts() const
{
    const Run show =
        cli({QStringLiteral("journal"), QStringLiteral("show"), QStringLiteral("--journal"),
             m_server->address(m_database), QStringLiteral("--json")});
    std::map<QString, QList<QJsonObject>> attempts;
    if (show.exitCode != 0)
        return attempts;
    for (const QString& line : show.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonObject record = QJsonDocument::fromJson(line.toUtf8()).object();
        attempts[record[QStringLiteral("name")].toString()].append(record);
    }
    return attempts;
}

// Three stations on 40 rows; one is killed with kill -9 while its ports are in the middle of
// devices, and resumed while the others wait on theirs. Every row is flashed to the end once over
// the line, each station flashing some, and the database holds one successful attempt per row.
void TestCliLine::aKilledStationsRowsAreFlashedOnceOverTheLine()
{
    LineEvents events(m_tool);
    QVERIFY(events.isValid());
    // A flashes two devices, then its ports hold; B and C flash four each.
    setHold(QStringLiteral("A"), 3);
    setHold(QStringLiteral("B"), 5);
    setHold(QStringLiteral("C"), 5);
    Station a{QStringLiteral("A"), {}};
    Station b{QStringLiteral("B"), {}};
    Station c{QStringLiteral("C"), {}};
    for (Station* station : {&a, &b, &c})
        startStation(*station, 3);
    QVERIFY(events.waitForHeld({{"A", 3}, {"B", 3}, {"C", 3}}));

    ::kill(pid_t(a.process->processId()), SIGKILL);
    QVERIFY(a.process->waitForFinished());
    QCOMPARE(a.process->exitStatus(), QProcess::CrashExit);
    const QHash<QString, QStringList> beforeResume = quillner::testing::flashedRows(m_tool);
    QCOMPARE(beforeResume.size(), 2 + 4 + 4);

    // A's --resume takes its rows back while B and C are held; then all go on.
    startStation(a, 3, {QStringLiteral("--resume")});
    QVERIFY(events.waitForHeld({{"A", 4}}));
    clearHolds();
    events.openGate();
    for (Station* station : {&a, &b, &c}) {
        QVERIFY(station->process->waitForFinished(300000));
        QVERIFY2(station->process->exitCode() == 0,
                 qPrintable(station->process->readAllStandardError()));
    }

    const QHash<QString, QStringList> flashed = quillner::testing::flashedRows(m_tool);
    QCOMPARE(flashed.size(), kRows);
    QHash<QString, int> perStation;
    for (auto it = flashed.cbegin(); it != flashed.cend(); ++it) {
        QVERIFY2(it.value().size() == 1, qPrintable(it.key() + u' ' + it.value().join(u',')));
        ++perStation[it.value().front()];
    }
    QVERIFY(perStation.value(QStringLiteral("A")) > 2);
    QVERIFY(perStation.value(QStringLiteral("B")) >= 4);
    QVERIFY(perStation.value(QStringLiteral("C")) >= 4);

    const std::map<QString, QList<QJsonObject>> attempts = databaseAttempts();
    QCOMPARE(int(attempts.size()), kRows);
    for (const auto& [name, records] : attempts) {
        int successes = 0;
        for (const QJsonObject& record : records) {
            if (record[QStringLiteral("outcome")].toString() == QLatin1String("flashed")) {
                ++successes;
                // The station the database names is the one whose device got it.
                QCOMPARE(QStringList{record[QStringLiteral("station")].toString()},
                         flashed.value(name));
            }
        }
        QVERIFY2(successes == 1, qPrintable(name));
    }
}

// The server stops while every port of three stations is in the middle of a device: the devices
// are finished and kept in the stations' own journals, the stations stop with an error naming
// the database (never its password), and --resume after the restart sends what the database
// missed and completes the table, each row flashed once.
void TestCliLine::stationsThatLoseTheDatabaseStopAndResumeCompletesTheTable()
{
    LineEvents events(m_tool);
    QVERIFY(events.isValid());
    setHold(QStringLiteral("all"), 13);
    Station stations[] = {
        {QStringLiteral("A"), {}}, {QStringLiteral("B"), {}}, {QStringLiteral("C"), {}}};
    for (Station& station : stations)
        startStation(station, 2);
    QVERIFY(events.waitForHeld({{"A", 2}, {"B", 2}, {"C", 2}}));
    const QString lostAddress = m_server->address(m_database);
    m_server->stop();
    events.openGate();
    for (Station& station : stations) {
        QVERIFY(station.process->waitForFinished(300000));
        QCOMPARE(station.process->exitCode(), 1);
        const QString err = QString::fromUtf8(station.process->readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("error: the station stopped: The journal database "
                                             "%1 cannot be used: ")
                                  .arg(lostAddress)),
                 qPrintable(err));
        QVERIFY(!err.contains(QLatin1String("not-to-be-shown")));
    }
    // Every device finished is in its station's own journal.
    const QHash<QString, QStringList> atStop = quillner::testing::flashedRows(m_tool);
    QCOMPARE(atStop.size(), 12 + 6);
    for (auto it = atStop.cbegin(); it != atStop.cend(); ++it) {
        const QString journal =
            m_tool + u'/' + it.value().front() + QStringLiteral("/journal.jsonl");
        QVERIFY2(
            readFile(journal).contains(
                QStringLiteral("\"name\":\"%1\",\"outcome\":\"flashed\"").arg(it.key()).toUtf8()),
            qPrintable(it.key()));
    }

    clearHolds();
    QVERIFY2(m_server->start(), qPrintable(m_server->failure()));
    for (Station& station : stations)
        startStation(station, 2, {QStringLiteral("--resume")});
    for (Station& station : stations) {
        QVERIFY(station.process->waitForFinished(300000));
        QVERIFY2(station.process->exitCode() == 0,
                 qPrintable(station.process->readAllStandardError()));
    }
    const QHash<QString, QStringList> flashed = quillner::testing::flashedRows(m_tool);
    QCOMPARE(flashed.size(), kRows);
    for (auto it = flashed.cbegin(); it != flashed.cend(); ++it)
        QVERIFY2(it.value().size() == 1, qPrintable(it.key()));
    const std::map<QString, QList<QJsonObject>> attempts = databaseAttempts();
    QCOMPARE(int(attempts.size()), kRows);
    for (const auto& [name, records] : attempts) {
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.front()[QStringLiteral("outcome")].toString(), QStringLiteral("flashed"));
        QCOMPARE(records.front()[QStringLiteral("station")].toString(),
                 flashed.value(name).front());
    }
}

void TestCliLine::journalShowPrintsTheLinesAttempts_data()
{
    QTest::addColumn<QStringList>("filter");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("every attempt") << QStringList{} << QStringList{"Row000", "Row001", "Row002"};
    QTest::newRow("by name") << QStringList{"--name", "Row001"} << QStringList{"Row001"};
    QTest::newRow("by serial") << QStringList{"--serial", "SN-1002"} << QStringList{"Row002"};
    QTest::newRow("by both, no match")
        << QStringList{"--name", "Row001", "--serial", "SN-1002"} << QStringList{};
}

// journal show reads the database and the station's own file alike: the same records, with the
// station and the table on a line.
void TestCliLine::journalShowPrintsTheLinesAttempts()
{
    QFETCH(QStringList, filter);
    QFETCH(QStringList, names);
    QVERIFY(writeFile(m_tool + QStringLiteral("/rows.csv"), tableOf(3)));
    Station station{QStringLiteral("east-2"), {}};
    startStation(station, 1);
    QVERIFY(station.process->waitForFinished(300000));
    QCOMPARE(station.process->exitCode(), 0);

    const QStringList show{QStringLiteral("journal"), QStringLiteral("show"),
                           QStringLiteral("--journal")};
    const Run fromDatabase = cli(show + QStringList{m_server->address(m_database)} + filter +
                                 QStringList{QStringLiteral("--json")});
    const Run fromFile = cli(show + QStringList{QStringLiteral("east-2/journal.jsonl")} + filter +
                             QStringList{QStringLiteral("--json")});
    QCOMPARE(fromDatabase.exitCode, 0);
    QCOMPARE(fromDatabase.out, fromFile.out);
    QStringList shown;
    for (const QString& line : fromDatabase.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonObject record = QJsonDocument::fromJson(line.toUtf8()).object();
        shown << record[QStringLiteral("name")].toString();
        QCOMPARE(record[QStringLiteral("station")].toString(), QStringLiteral("east-2"));
        QCOMPARE(record[QStringLiteral("table")].toString().size(), 64);
    }
    shown.sort();
    QCOMPARE(shown, names);

    const Run text = cli(show + QStringList{m_server->address(m_database)} + filter);
    QCOMPARE(text.out.count(u'\n'), names.size());
    for (const QString& name : names)
        QVERIFY(text.out.contains(
            QStringLiteral("station east-2: row %1 %2 (serial SN-%3) on COM1 (port 0): flashed in ")
                .arg(name.mid(3).toInt() + 2)
                .arg(name)
                .arg(1000 + name.mid(3).toInt())));
}

void TestCliLine::aBadJournalIsAUsageError_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("no station") << QStringList{"--journal", "postgresql://u@h/db"}
                                << QStringLiteral("--journal needs --station NAME");
    QTest::newRow("no journal") << QStringList{"--station", "A"}
                                << QStringLiteral("--station needs --journal");
    QTest::newRow("a file") << QStringList{"--journal", "journal.jsonl", "--station", "A"}
                            << QStringLiteral("--journal names the database a line shares");
    QTest::newRow("no database") << QStringList{"--journal", "postgresql://u:secret@h:5432/",
                                                "--station", "A"}
                                 << QStringLiteral("the address names no database");
}

void TestCliLine::aBadJournalIsAUsageError()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QStringList command{QStringLiteral("batch"),    QStringLiteral("rows.csv"),
                        QStringLiteral("--master"), m_master,
                        QStringLiteral("--out"),    m_tool + QStringLiteral("/out"),
                        QStringLiteral("--flash"),  QStringLiteral("--ports"),
                        QStringLiteral("0")};
    const Run run = cli(command + arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(error), qPrintable(run.err));
    QVERIFY(!run.err.contains(QLatin1String("secret")));
    QVERIFY(!QFileInfo::exists(m_tool + QStringLiteral("/out")));
}

QTEST_GUILESS_MAIN(TestCliLine)
#include "tst_cli_line.moc"
