#include "core/analysis/recording_test.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter_edits.h"
#include "core/logs/live_bus.h"
#include "core/logs/recording.h"
#include "support/virtual_can_hub.h"

#include <QCanBus>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace quillner;
using quillner::testing::Beacon;
using quillner::testing::VirtualCanHub;

namespace {

const QString kFramesLog = QStringLiteral(QUILLNER_TEST_DATA "/logs/live_bus_frames.log");
// A bound for a session that never ends, so that a broken test fails rather than hangs.
constexpr int kSessionBoundMs = 30000;

// A 2.0A project hiding 0x100-0x1FF, or a 2.0B project listing 0x18FEF100.
ConfigurationBank projectBank(const QString& folder, bool extended)
{
    const AppPaths paths = createProjectAt(folder);
    if (!extended) {
        Filter20A filter;
        setVisibility(filter, {{0x100, 0x1FF}}, false);
        saveFilter20A(paths.Filter20APath, filter);
    } else {
        GeneralParameters parameters;
        parameters.canTypeB = true;
        saveGeneralParameters(paths.PargenPath, parameters);
        Filter20B filter;
        filter.cobIds = {QStringLiteral("$18FEF100")};
        saveFilter20B(paths.Filter20BPath, filter);
    }
    return CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath).value;
}

// The tally without its recordings' names, which differ between a file and a bus.
QJsonObject countsOf(const FilterTally& tally)
{
    QJsonObject json = filterTallyJson(tally);
    json.remove(QStringLiteral("recordings"));
    return json;
}

// What a frame is, as the filter and a candump log see it.
QString frameText(const LogFrame& frame)
{
    return QStringLiteral("%1 %2%3%4 %5")
        .arg(frame.id, 0, 16)
        .arg(frame.extended ? u'X' : u'-')
        .arg(frame.remote ? u'R' : u'-')
        .arg(frame.fd ? u'F' : u'-')
        .arg(QString::fromLatin1(frame.data.toByteArray().toHex()));
}

// A session on a worker thread, as the windows run one; the test's thread keeps its events going
// for the hub meanwhile.
struct WorkerSession
{
    std::unique_ptr<QThread> thread;
    Beacon listening;
    Beacon ended;
    Result<LogReading> reading;
    FilterTally tally;
    QStringList frames;

    void start(const BusAddress& bus, const ConfigurationBank& bank, const SessionEnd& end)
    {
        thread.reset(QThread::create([this, bus, bank, end] {
            const FrameFilter filter(bank);
            LogVisitor visitor;
            visitor.frame = [&](const LogFrame& frame) {
                tally.add(frame, filter.verdict(frame.busFrame()));
                frames << frameText(frame);
            };
            SessionHooks hooks;
            hooks.listening = [this] { listening.ring(); };
            reading = listenToBus(bus, end, visitor, hooks);
            tally.addReading(reading.value);
            ended.ring();
        }));
        thread->start();
    }

    ~WorkerSession()
    {
        if (thread)
            thread->wait();
    }
};

// The name of a SocketCAN vcan interface of this machine; empty when it has none.
QString vcanInterface()
{
    if (!QCanBus::instance()->plugins().contains(QStringLiteral("socketcan")))
        return {};
    for (const QCanBusDeviceInfo& info :
         QCanBus::instance()->availableDevices(QStringLiteral("socketcan"))) {
        if (info.name().startsWith(QStringLiteral("vcan")))
            return info.name();
    }
    return {};
}

} // namespace

// A session on a live bus hands over the frames a recording of the same frames holds, and so
// counts exactly what the log gives.
class TestLiveBus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void anAddressIsAPluginAndAnInterface_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("plugin"); // empty: refused
        QTest::addColumn<QString>("interface");
        QTest::newRow("socketcan") << "socketcan:vcan0"
                                   << "socketcan"
                                   << "vcan0";
        QTest::newRow("virtual bus at a port") << "virtualcan:tcp://127.0.0.1:4000/can1"
                                               << "virtualcan"
                                               << "tcp://127.0.0.1:4000/can1";
        QTest::newRow("no interface") << "socketcan:"
                                      << ""
                                      << "";
        QTest::newRow("no plugin") << ":can0"
                                   << ""
                                   << "";
        QTest::newRow("no colon") << "vcan0"
                                  << ""
                                  << "";
    }

    void anAddressIsAPluginAndAnInterface()
    {
        QFETCH(QString, typed);
        QFETCH(QString, plugin);
        QFETCH(QString, interface);
        const std::optional<BusAddress> address = busAddressOf(typed);
        QCOMPARE(address.has_value(), !plugin.isEmpty());
        if (!address)
            return;
        QCOMPARE(address->plugin, plugin);
        QCOMPARE(address->interface, interface);
        QCOMPARE(address->text(), typed);
    }

    void aSessionCountsWhatTheLogGives_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<bool>("extended");
        QTest::newRow("virtual bus, 2.0A") << "virtualcan" << false;
        QTest::newRow("virtual bus, 2.0B") << "virtualcan" << true;
        QTest::newRow("SocketCAN, 2.0A") << "socketcan" << false;
        QTest::newRow("SocketCAN, 2.0B") << "socketcan" << true;
    }

    void aSessionCountsWhatTheLogGives()
    {
        QFETCH(QString, plugin);
        QFETCH(bool, extended);
        VirtualCanHub hub;
        QVERIFY(hub.isListening());
        BusAddress bus{plugin, hub.interfaceName()};
        if (plugin == QLatin1StringView("socketcan")) {
            bus.interface = vcanInterface();
            if (bus.interface.isEmpty())
                QSKIP("no SocketCAN vcan interface on this machine (ip link add dev vcan0 type "
                      "vcan); the virtual bus rows test the same");
        }
        QTemporaryDir dir;
        const ConfigurationBank bank = projectBank(dir.filePath(QStringLiteral("Line")), extended);
        const QList<QCanBusFrame> written = testing::framesOfLog(kFramesLog);

        WorkerSession session;
        QSignalSpy listening(&session.listening, &Beacon::rang);
        QSignalSpy ended(&session.ended, &Beacon::rang);
        session.start(bus, bank, SessionEnd{written.size(), {}});
        QVERIFY(listening.wait(kSessionBoundMs));
        std::unique_ptr<QCanBusDevice> sender;
        if (plugin == QLatin1StringView("virtualcan")) {
            // The listener's join must have reached the hub before a frame does.
            QVERIFY(hub.waitForMembers(1));
            sender = hub.joinedDevice();
        } else {
            sender.reset(QCanBus::instance()->createDevice(plugin, bus.interface));
            QVERIFY(sender);
            sender->setConfigurationParameter(QCanBusDevice::CanFdKey, true);
            QVERIFY(sender->connectDevice());
        }
        QVERIFY(sender);
        for (const QCanBusFrame& frame : written)
            QVERIFY2(sender->writeFrame(frame), qPrintable(sender->errorString()));
        QVERIFY(ended.count() > 0 || ended.wait(kSessionBoundMs));
        session.thread->wait();

        QVERIFY2(session.reading.whole(),
                 qPrintable(problemLines(session.reading.problems).join(u'\n')));
        QCOMPARE(session.reading.value.name, bus.text());
        QCOMPARE(session.reading.value.formatText(), QStringLiteral("live CAN bus"));
        QCOMPARE(session.reading.value.frames, qint64(written.size()));

        QStringList logged;
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) { logged << frameText(frame); };
        QVERIFY(readCanLog(kFramesLog, visitor).whole());
        QCOMPARE(session.frames, logged);
        const RecordingTest fromLog = testRecording(bank, kFramesLog).value;
        QCOMPARE(countsOf(session.tally), countsOf(fromLog.tally));
    }

    void aStopEndsTheSessionWithWhatWasHeard()
    {
        VirtualCanHub hub;
        bool heard = false;
        LogVisitor visitor;
        SessionHooks hooks;
        hooks.listening = [&] { heard = true; };
        // Asked only after the listening began: nothing was written, so nothing was heard.
        hooks.stopRequested = [&] { return heard; };
        const Result<LogReading> reading =
            listenToBus({QStringLiteral("virtualcan"), hub.interfaceName()}, {}, visitor, hooks);
        QVERIFY(heard);
        QVERIFY(reading.whole());
        QCOMPARE(reading.value.frames, 0);
    }

    void aBusThatCannotBeOpenedIsAProblem_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown plugin") << "nosuchcan:can0"
                                        << "no CAN plugin named nosuchcan; this machine has: ";
        QTest::newRow("no such SocketCAN interface") << "socketcan:nosuchcan9"
                                                     << "cannot open the bus: ";
    }

    void aBusThatCannotBeOpenedIsAProblem()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        const Result<LogReading> reading =
            listenToBus(*busAddressOf(typed), SessionEnd{1, {}}, LogVisitor{});
        QCOMPARE(reading.problems.size(), 1);
        QCOMPARE(reading.problems[0].file, typed);
        QVERIFY2(reading.problems[0].text.startsWith(text), qPrintable(reading.problems[0].text));
    }
};

QTEST_GUILESS_MAIN(TestLiveBus)
#include "tst_live_bus.moc"
