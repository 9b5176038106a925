// The command line on a live bus: filter test, filter fit and record hear the frames a test sends
// on a virtual CAN bus of its own, and say what the same frames give from a log.

#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter_edits.h"
#include "support/program_run.h"
#include "support/virtual_can_hub.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillner;
using quillner::testing::Run;
using quillner::testing::VirtualCanHub;

namespace {

const QString kFramesLog = QStringLiteral(QUILLNER_TEST_DATA "/logs/live_bus_frames.log");
// A bound for a program that never ends, so that a broken test fails rather than hangs.
constexpr int kRunBoundMs = 60000;

Run runCli(const QStringList& arguments)
{
    return testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

// The program, started on the hub's bus: once it has joined, the frames are sent (all of them,
// or none); then it is interrupted when asked, and waited for.
Run runOnBus(VirtualCanHub& hub, const QStringList& arguments, const QList<QCanBusFrame>& frames,
             bool interrupt = false)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(QUILLNER_CLI), arguments);
    Run run;
    if (!hub.waitForMembers(1))
        return run;
    // The sender stays on the bus until the program ends: what it wrote may still be on its way.
    std::unique_ptr<QCanBusDevice> sender;
    if (!frames.isEmpty()) {
        sender = hub.joinedDevice();
        if (!sender)
            return run;
        for (const QCanBusFrame& frame : frames)
            sender->writeFrame(frame);
    }
    if (interrupt)
        ::kill(pid_t(process.processId()), SIGINT);
    if (finished.isEmpty() && !finished.wait(kRunBoundMs))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The output without the lines that name where the frames came from.
QStringList withoutSource(const QString& output, const QString& sourcePrefix)
{
    QStringList lines = output.split(u'\n');
    lines.removeIf([&](const QString& line) { return line.startsWith(sourcePrefix); });
    return lines;
}

QJsonObject tallyWithoutRecordings(const QString& json)
{
    QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    object.remove(QStringLiteral("recordings"));
    return object;
}

} // namespace

class TestCliLiveBus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_projects = 0;

    // A new 2.0A project hiding 0x100-0x1FF, or a 2.0B project listing 0x18FEF100.
    QString project(bool extended)
    {
        const AppPaths paths =
            createProjectAt(m_dir.filePath(QStringLiteral("project%1").arg(++m_projects)));
        if (!extended) {
            Filter20A filter;
            setVisibility(filter, {{0x100, 0x1FF}}, false);
            saveFilter20A(paths.Filter20APath, filter);
            return paths.ProjectDir;
        }
        GeneralParameters parameters;
        parameters.canTypeB = true;
        saveGeneralParameters(paths.PargenPath, parameters);
        Filter20B filter;
        filter.cobIds = {QStringLiteral("$18FEF100")};
        saveFilter20B(paths.Filter20BPath, filter);
        return paths.ProjectDir;
    }

private Q_SLOTS:
    void filterTestSaysWhatTheLogSays_data()
    {
        QTest::addColumn<bool>("extended");
        QTest::addColumn<bool>("json");
        QTest::newRow("2.0A, text") << false << false;
        QTest::newRow("2.0A, JSON") << false << true;
        QTest::newRow("2.0B, text") << true << false;
        QTest::newRow("2.0B, JSON") << true << true;
    }

    void filterTestSaysWhatTheLogSays()
    {
        QFETCH(bool, extended);
        QFETCH(bool, json);
        VirtualCanHub hub;
        const QString folder = project(extended);
        const QList<QCanBusFrame> frames = testing::framesOfLog(kFramesLog);
        const QString bus = QStringLiteral("virtualcan:") + hub.interfaceName();
        QStringList arguments{QStringLiteral("filter"), QStringLiteral("test"), folder};
        if (json)
            arguments << QStringLiteral("--json");
        const Run heard = runOnBus(hub,
                                   arguments + QStringList{QStringLiteral("--bus"), bus,
                                                           QStringLiteral("--frames"),
                                                           QString::number(frames.size())},
                                   frames);
        QVERIFY2(heard.exitCode == 0, qPrintable(heard.err));
        const Run read = runCli(arguments + QStringList{kFramesLog});
        QCOMPARE(read.exitCode, 0);
        if (json) {
            QCOMPARE(tallyWithoutRecordings(heard.out), tallyWithoutRecordings(read.out));
            return;
        }
        QCOMPARE(withoutSource(heard.out, QStringLiteral("Read: ")),
                 withoutSource(read.out, QStringLiteral("Read: ")));
        QVERIFY2(
            heard.out.contains(
                QStringLiteral("Read: %1 (live CAN bus, %2 frames)\n").arg(bus).arg(frames.size())),
            qPrintable(heard.out));
    }

    void recordKeepsWhatWasHeard()
    {
        VirtualCanHub hub;
        const QList<QCanBusFrame> frames = testing::framesOfLog(kFramesLog);
        const QString file = m_dir.filePath(QStringLiteral("heard.log"));
        const Run recorded =
            runOnBus(hub,
                     {QStringLiteral("record"), QStringLiteral("--bus"),
                      QStringLiteral("virtualcan:") + hub.interfaceName(),
                      QStringLiteral("--frames"), QString::number(frames.size()), file},
                     frames);
        QVERIFY2(recorded.exitCode == 0, qPrintable(recorded.err));
        QVERIFY2(recorded.out.startsWith(QStringLiteral("Written: %1 (%2 frames from virtualcan:")
                                             .arg(file)
                                             .arg(frames.size())),
                 qPrintable(recorded.out));
        // The recording is judged as the frames it was made of.
        for (const bool extended : {false, true}) {
            const QString folder = project(extended);
            const Run fromRecording =
                runCli({QStringLiteral("filter"), QStringLiteral("test"), folder, file, "--json"});
            const Run fromLog = runCli(
                {QStringLiteral("filter"), QStringLiteral("test"), folder, kFramesLog, "--json"});
            QCOMPARE(tallyWithoutRecordings(fromRecording.out),
                     tallyWithoutRecordings(fromLog.out));
        }
    }

    void fitWeighsTheFramesHeard()
    {
        VirtualCanHub hub;
        const QList<QCanBusFrame> frames = testing::framesOfLog(kFramesLog);
        const QStringList fit{
            QStringLiteral("filter"),         QStringLiteral("fit"),
            QStringLiteral("--ids"),          QStringLiteral("0x18FEF100 0x18FEF103"),
            QStringLiteral("--max-patterns"), QStringLiteral("1")};
        const Run heard =
            runOnBus(hub,
                     fit + QStringList{QStringLiteral("--bus"),
                                       QStringLiteral("virtualcan:") + hub.interfaceName(),
                                       QStringLiteral("--frames"), QString::number(frames.size())},
                     frames);
        QVERIFY2(heard.exitCode == 0, qPrintable(heard.err));
        const Run read = runCli(fit + QStringList{QStringLiteral("--log"), kFramesLog});
        QCOMPARE(read.exitCode, 0);
        QCOMPARE(withoutSource(heard.out, QStringLiteral("Extra frames: ")),
                 withoutSource(read.out, QStringLiteral("Extra frames: ")));
        // The frames heard are weighed as the log's: three extended ones, of which the list
        // passes none it did not ask for.
        QVERIFY2(heard.out.contains(QStringLiteral("Extra frames: 0 (optimal) of the 3 extended "
                                                   "frames in virtualcan:")),
                 qPrintable(heard.out));
    }

    void ctrlCEndsTheSessionWithTheTally()
    {
        VirtualCanHub hub;
        const Run heard =
            runOnBus(hub,
                     {QStringLiteral("filter"), QStringLiteral("test"), project(false),
                      QStringLiteral("--bus"), QStringLiteral("virtualcan:") + hub.interfaceName()},
                     {}, true);
        QVERIFY2(heard.exitCode == 0, qPrintable(heard.err));
        QVERIFY2(heard.out.endsWith(QStringLiteral("Total: 0 frames, 0 passed, 0 blocked (0 of "
                                                   "another identifier form, 0 remote, 0 CAN FD), "
                                                   "0 error frames, 0 unreadable lines\n")),
                 qPrintable(heard.out));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        const QString folder = m_dir.filePath(QStringLiteral("usage"));
        QTest::newRow("an end without --bus")
            << QStringList{"filter", "test", folder, "bus.log", "--seconds", "5"}
            << "--seconds goes with --bus";
        QTest::newRow("both ends")
            << QStringList{"filter",    "test", folder,     "--bus", "socketcan:can0",
                           "--seconds", "5",    "--frames", "5"}
            << "--seconds and --frames exclude each other";
        QTest::newRow("no plugin") << QStringList{"filter", "test", folder, "--bus", "can0"}
                                   << "--bus takes PLUGIN:INTERFACE";
        QTest::newRow("no frames")
            << QStringList{"record", "--bus", "socketcan:can0", "--frames", "0", "out.log"}
            << "--frames takes a number from 1, not '0'";
        QTest::newRow("no seconds")
            << QStringList{"record", "--bus", "socketcan:can0", "--seconds", "nan", "out.log"}
            << "--seconds takes seconds from 0 to 86400, not 'nan'";
        QTest::newRow("record without a bus")
            << QStringList{"record", "out.log"} << "record needs --bus";
        QTest::newRow("a fit to a log and a bus")
            << QStringList{"filter", "fit",     "--ids", "0x18FEF100",
                           "--log",  "bus.log", "--bus", "socketcan:can0"}
            << "filter fit takes one of --log and --bus";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        const Run run = runCli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(error), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestCliLiveBus)
#include "tst_cli_live_bus.moc"
