#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/filter_entries.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/blf_writer.h"
#include "support/program_run.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;

namespace {

using quillner::testing::Run;

Run runCli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

QString data(const char* name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/") + QString::fromLatin1(name);
}

// Five J1939 parameter groups from source addresses 0x00 to 0x0F, in the identifier notation.
const QString kJ1939 = QStringLiteral("0x18F00400-0x18F0040F 0x18FEEE00-0x18FEEE0F "
                                      "0x18FEF100-0x18FEF10F 0x18FEE500-0x18FEE50F "
                                      "0x18FEFC00-0x18FEFC0F");

} // namespace

class TestCliFilter : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_project;

    QString document(const char* name) const { return QDir(m_project).filePath(name); }

    void makeProject(bool canTypeB)
    {
        m_project = m_dir.filePath(canTypeB ? QStringLiteral("b") : QStringLiteral("a"));
        QDir().mkpath(m_project);
        GeneralParameters parameters;
        parameters.canTypeB = canTypeB;
        saveGeneralParameters(document("pargen.xml"), parameters);
        QFile::remove(document("Filter20A.xml"));
        QFile::remove(document("Filter20B.xml"));
    }

private Q_SLOTS:
    void setShowAndHide()
    {
        makeProject(false);
        Run run = runCli({"filter", "set", m_project, "--hide", "0x100-0x1FF"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("(1792 of 2048 visible)")));
        run = runCli({"filter", "set", m_project, "--show", "0x180:0x7F0"});
        QCOMPARE(run.exitCode, 0);
        const Filter20A filter = loadFilter20A(document("Filter20A.xml")).value;
        QCOMPARE(visibleCount(filter), 1808);
        QCOMPARE(filter.IdVisible[0x100], quint8(0));
        QCOMPARE(filter.IdVisible[0x185], quint8(1));
    }

    void setList()
    {
        makeProject(true);
        const Run run = runCli({"filter", "set", m_project, "--list", "1-3, 0x10", "--negative"});
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(filter.cobIdFilter);
        QVERIFY(!filter.typePositive);
        QCOMPARE(filter.cobIds, (QStringList{"1", "2", "3", "16"}));
    }

    void setPatterns()
    {
        makeProject(true);
        const Run run =
            runCli({"filter", "set", m_project, "--patterns", "0x600:0x7F0, 111xxx1010"});
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(!filter.cobIdFilter);
        QCOMPARE(filter.patterns,
                 (QStringList{"xxxxxxxxxxxxxxxxxx1100000xxxx", "0000000000000000000111xxx1010"}));
    }

    // The windows' refusals, word for word, and nothing written.
    void setRefusals_data()
    {
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("list full")
            << true << QStringList{"--list", "0-63"} << QString::fromLatin1(kAllFilterInUse);
        QTest::newRow("duplicate")
            << true << QStringList{"--list", "5 5"} << "Error! The ID 5 is already in the list";
        QTest::newRow("out of range")
            << true << QStringList{"--list", "-1"} << QString::fromLatin1(kCobIdOutOfRange);
        QTest::newRow("eleven patterns")
            << true << QStringList{"--patterns", "0,1,10,11,100,101,110,111,1000,1001,1010"}
            << QString::fromLatin1(kAllFilterInUse);
        QTest::newRow("pattern symbol")
            << true << QStringList{"--patterns", "12"}
            << "Error! The simbol '2' is not supported. You have to use only these simbol "
               "'1', '0', 'x', 'X'";
        QTest::newRow("notation") << false << QStringList{"--hide", "0x800"}
                                  << "Column 1: '0x800' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("list on 2.0A") << false << QStringList{"--list", "1"}
                                      << "--list applies to a CAN 2.0B project; this one is CAN "
                                         "2.0A";
    }

    void setRefusals()
    {
        QFETCH(bool, canTypeB);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        makeProject(canTypeB);
        const Run run = runCli(QStringList{"filter", "set", m_project} + options);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("error: ") + message + u'\n');
        QVERIFY(!QFile::exists(document("Filter20A.xml")));
        QVERIFY(!QFile::exists(document("Filter20B.xml")));
    }

    void fit_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("exact");
        QTest::newRow("list") << QStringList{"--ids", "1-5"} << "Form: COB-ID list, 5 identifiers\n"
                              << true;
        QTest::newRow("five patterns")
            << QStringList{"--ids", kJ1939} << "Form: mask patterns, 5 patterns\n"
            << true;
        QTest::newRow("four patterns") << QStringList{"--ids", kJ1939, "--max-patterns", "4"}
                                       << "Form: mask patterns, 4 patterns\n"
                                       << false;
    }

    void fit()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, form);
        QFETCH(bool, exact);
        const Run run = runCli(QStringList{"filter", "fit"} + options);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(form), qPrintable(run.out));
        QCOMPARE(run.out.contains(QStringLiteral("Extra identifiers: 0\n")), exact);
    }

    void fitApplies()
    {
        makeProject(true);
        QTemporaryDir files;
        const QString idsFile = files.filePath(QStringLiteral("ids.txt"));
        QVERIFY(quillner::testing::writeFile(idsFile, kJ1939 + u'\n'));
        const Run run = runCli({"filter", "fit", "--ids-file", idsFile, "--apply", m_project});
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(!filter.cobIdFilter);
        QCOMPARE(filter.patterns.size(), 5);
        QVERIFY(filter.patterns.contains(QStringLiteral("1100011111110111100010000xxxx")));
    }

    void testLog()
    {
        makeProject(false);
        QCOMPARE(runCli({"filter", "set", m_project, "--hide", "0x123"}).exitCode, 0);
        QCOMPARE(runCli({"set", m_project, "can.rtr=on"}).exitCode, 0);
        const QString log = data("logs/candump_mixed.log");
        Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 0);
        // The CAN FD frame of 0x100 is blocked: the device's classic controller cannot take it.
        QVERIFY(run.out.startsWith(QStringLiteral("0x100 passed 0 blocked 1 (1 CAN FD frame, "
                                                  "which a classic CAN controller does not "
                                                  "receive)\n"
                                                  "0x123 passed 0 blocked 2\n"
                                                  "0x7DF passed 1 blocked 0\n")));
        QVERIFY(run.out.endsWith(QStringLiteral("Read: candump_mixed.log (candump log, 6 frames, "
                                                "1 error frame)\n"
                                                "Total: 6 frames, 1 passed, 5 blocked (2 of "
                                                "another identifier form, 0 remote, 1 CAN FD), "
                                                "1 error frames, 1 unreadable lines\n")));
        QVERIFY(run.err.contains(QStringLiteral("candump_mixed.log, line 6: not a candump frame")));

        run = runCli({"filter", "test", m_project, log, "--json"});
        const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(json.value(QStringLiteral("frames")).toInt(), 6);
        QCOMPARE(json.value(QStringLiteral("blocked")).toInt(), 5);
        QCOMPARE(json.value(QStringLiteral("fd")).toInt(), 1);
        QCOMPARE(json.value(QStringLiteral("error")).toInt(), 1);

        run = runCli({"filter", "test", m_project, log, "--passed"});
        QCOMPARE(run.out, QStringLiteral("(1700000000.000002) can0 7DF#R\n"));
    }

    void testAscKeepsItsHeader()
    {
        makeProject(true);
        const Run run =
            runCli({"filter", "test", m_project, data("logs/vector_mixed.asc"), "--blocked"});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(u'\n');
        QCOMPARE(lines.first(), QStringLiteral("date Mon Nov 13 10:00:00.000 am 2023"));
        QVERIFY(!run.out.contains(QStringLiteral("18FEF100x")));
        QVERIFY(run.out.contains(QStringLiteral("   0.003000 1  7DF             Tx   r")));
    }

    // An unreadable document stops the test, as it stops compile: a bank of zeros would judge
    // every frame by settings the device does not have.
    void testUnreadableProject()
    {
        makeProject(false);
        QVERIFY(quillner::testing::writeFile(document("pargen.xml"), "<General_Parameter><Ser"));
        const QString log = data("logs/candump_mixed.log");
        Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QString());
        QVERIFY(run.err.contains(QStringLiteral("could not be read; no frame was judged")));
        run = runCli({"filter", "test", m_project, log, "--lenient"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("Total: 6 frames")));
    }

    // A recording with nothing to take is an error that says what was there.
    void testRefusals_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("error");
        QTest::newRow("passwd") << "/etc/passwd"
                                << "passwd: no frame in any known format; first line: root:";
        QTest::newRow("device") << "/dev/zero"
                                << "neither a regular file nor a pipe";
        QTest::newRow("missing") << "no-such.log"
                                 << "Cannot open file";
    }

    void testRefusals()
    {
        QFETCH(QString, log);
        QFETCH(QString, error);
        makeProject(false);
        const Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(error), qPrintable(run.err));
    }

    void testEmptyFile()
    {
        makeProject(false);
        const QString empty = m_dir.filePath(QStringLiteral("empty.log"));
        QVERIFY(quillner::testing::writeFile(empty, QByteArray()));
        const Run run = runCli({"filter", "test", m_project, empty});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("empty.log: empty, no recording")));
    }

    // "-" reads standard input as it comes, as candump -L can0 | quillner-cli filter test P -.
    void testStandardInput()
    {
        makeProject(false);
        const Run run = quillner::testing::runProgram(
            QStringLiteral(QUILLNER_CLI), {"filter", "test", m_project, "-"}, {},
            "# from the bench\n(1.000000) can0 123#11\n(1.000001) can0 124#R\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith(QStringLiteral("Read: standard input (candump log, 2 frames)\n"
                                                 "Total: 2 frames, 1 passed, 1 blocked (0 of "
                                                 "another identifier form, 1 remote, 0 CAN FD), "
                                                 "0 error frames, 0 unreadable lines\n")),
                 qPrintable(run.out));
    }

    // A BLF file is named by its format, and its frames are printed as candump log lines.
    void testBlf()
    {
        makeProject(true);
        const QString blf = m_dir.filePath(QStringLiteral("trace.blf"));
        QVERIFY(quillner::testing::writeFile(
            blf,
            quillner::testing::blfFile(quillner::testing::blfCanMessage(
                                           0x18FEF100, true, "\x01\x02", false, 1, 1, 1500000000) +
                                       quillner::testing::blfCanMessage(0x123, false, "\x03"))));
        Run run = runCli({"filter", "test", m_project, blf});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("Read: trace.blf (Vector BLF, 2 frames)\n")));
        run = runCli({"filter", "test", m_project, blf, "--passed"});
        QCOMPARE(run.out, QStringLiteral("(1.500000) can1 18FEF100#0102\n"));
    }

    // The device's view of each kind of frame, with remote frames off and on.
    void testDeviceView_data()
    {
        QTest::addColumn<QString>("rtr");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("counts");
        QTest::newRow("data frame") << "off"
                                    << "(1.0) can0 123#11"
                                    << "1 passed, 0 blocked";
        QTest::newRow("remote frame, remote frames off")
            << "off"
            << "(1.0) can0 123#R"
            << "0 passed, 1 blocked (0 of another identifier "
               "form, 1 remote";
        QTest::newRow("remote frame, remote frames on")
            << "on"
            << "(1.0) can0 123#R"
            << "1 passed, 0 blocked (0 of another identifier "
               "form, 0 remote";
        QTest::newRow("CAN FD frame") << "on"
                                      << "(1.0) can0 123##1AA"
                                      << "0 passed, 1 blocked (0 of another identifier form, 0 "
                                         "remote, 1 CAN FD), 0 error frames";
        QTest::newRow("error frame") << "on"
                                     << "(1.0) can0 123#11\n(1.1) can0 20000080#00"
                                     << "1 passed, 0 blocked (0 of another identifier form, 0 "
                                        "remote, 0 CAN FD), 1 error frames";
    }

    void testDeviceView()
    {
        QFETCH(QString, rtr);
        QFETCH(QString, line);
        QFETCH(QString, counts);
        makeProject(false);
        QCOMPARE(runCli({"set", m_project, QStringLiteral("can.rtr=") + rtr}).exitCode, 0);
        const QString log = m_dir.filePath(QStringLiteral("one.log"));
        QVERIFY(quillner::testing::writeFile(log, line.toUtf8() + '\n'));
        const Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(counts), qPrintable(run.out));
    }

    void importDbc_data()
    {
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("skipped");
        QTest::newRow("2.0A") << false << QStringList{} << QStringList{"EEC1", "ExtendedLow"};
        QTest::newRow("2.0B") << true << QStringList{} << QStringList{"Status", "Diagnostic"};
        QTest::newRow("2.0B chosen") << true << QStringList{"--messages", "EEC1"} << QStringList{};
    }

    void importDbc()
    {
        QFETCH(bool, canTypeB);
        QFETCH(QStringList, options);
        QFETCH(QStringList, skipped);
        makeProject(canTypeB);
        const Run run = runCli(
            QStringList{"filter", "import-dbc", m_project, data("filters/engine_messages.dbc")} +
            options);
        QCOMPARE(run.exitCode, 0);
        QStringList seen;
        for (const QString& line : run.out.split(u'\n')) {
            if (line.startsWith(QStringLiteral("Skipped: ")))
                seen << line.mid(9).section(u' ', 0, 0);
        }
        QCOMPARE(seen, skipped);
        QVERIFY(run.err.contains(QStringLiteral("line 19: the identifier of TooLarge")));
        if (!canTypeB) {
            const Filter20A filter = loadFilter20A(document("Filter20A.xml")).value;
            QCOMPARE(visibleCount(filter), 2);
            QCOMPARE(filter.IdVisible[0x123], quint8(1));
            QCOMPARE(filter.IdVisible[0x7DF], quint8(1));
            return;
        }
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(filter.cobIdFilter);
        QCOMPARE(filter.cobIds, options.isEmpty() ? (QStringList{"256", "419361024"})
                                                  : (QStringList{"419361024"}));
    }

    void importDbcUnknownMessage()
    {
        makeProject(true);
        const Run run = runCli({"filter", "import-dbc", m_project,
                                data("filters/engine_messages.dbc"), "--messages", "Nope"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("No message named Nope in engine_messages.dbc")));
    }
};

QTEST_GUILESS_MAIN(TestCliFilter)
#include "tst_cli_filter.moc"
