#include "filter_test_support.h"

#include "core/analysis/recording_test.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter_edits.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"
#include "gui/filters/identifier_map.h"
#include "gui/filters/live_bus_window.h"
#include "support/virtual_can_hub.h"

#include <QJsonObject>
#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using namespace quillner;
using namespace quillner::filtertest;
using quillner::testing::VirtualCanHub;

namespace {

const QString kFramesLog = QStringLiteral(QUILLNER_TEST_DATA "/logs/live_bus_frames.log");
// A bound for a session that never ends, so that a broken test fails rather than hangs.
constexpr int kSessionBoundMs = 30000;

// A 2.0A project hiding 0x100-0x1FF, or a 2.0B project listing 0x18FEF100.
AppPaths makeProject(const QString& folder, bool extended)
{
    const AppPaths paths = createProjectAt(folder);
    if (!extended) {
        Filter20A filter;
        setVisibility(filter, {{0x100, 0x1FF}}, false);
        saveFilter20A(paths.Filter20APath, filter);
        return paths;
    }
    GeneralParameters parameters;
    parameters.canTypeB = true;
    saveGeneralParameters(paths.PargenPath, parameters);
    Filter20B filter;
    filter.cobIds = {QStringLiteral("$18FEF100")};
    saveFilter20B(paths.Filter20BPath, filter);
    return paths;
}

ConfigurationBank bankOf(const AppPaths& paths)
{
    return CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath).value;
}

QJsonObject countsOf(const FilterTally& tally)
{
    QJsonObject json = filterTallyJson(tally);
    json.remove(QStringLiteral("recordings"));
    return json;
}

QStringList tableRows(const QTableWidget* table)
{
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row)
        rows << table->item(row, 0)->text() + u' ' + table->item(row, 1)->text();
    return rows;
}

} // namespace

class TestLiveBusWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theButtonOpensTheViewOfTheFilterShown_data()
    {
        QTest::addColumn<bool>("extended");
        QTest::newRow("2.0A: the map") << false;
        QTest::newRow("2.0B: the entries") << true;
    }

    void theButtonOpensTheViewOfTheFilterShown()
    {
        QFETCH(bool, extended);
        QTemporaryDir dir;
        const AppPaths paths = makeProject(dir.filePath(QStringLiteral("Line")), extended);
        QStringList opened;
        bool mapShown = false;
        bool entriesShown = false;
        setDialogRunner([&](QDialog* dialog) {
            opened << dialog->objectName();
            mapShown = !control<IdentifierMap>(dialog, "LiveMap")->isHidden();
            entriesShown = !control<QTableWidget>(dialog, "EntryCounts")->isHidden();
            return 0;
        });
        std::unique_ptr<QDialog> window;
        if (extended)
            window = std::make_unique<TFFilterExt>(paths);
        else
            window = std::make_unique<TFFilter>(paths);
        click(window.get(), "LiveBus");
        setDialogRunner({});
        QCOMPARE(opened, QStringList{QStringLiteral("LiveBus")});
        QCOMPARE(mapShown, !extended);
        QCOMPARE(entriesShown, extended);
    }

    void aSessionShowsWhatTheLogGives_data()
    {
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QStringList>("entries"); // 2.0B: the table's rows
        QTest::newRow("2.0A") << false << QStringList{};
        QTest::newRow("2.0B") << true
                              << QStringList{QStringLiteral("0x18FEF100 2"),
                                             QStringLiteral("Not listed (blocked) 1")};
    }

    void aSessionShowsWhatTheLogGives()
    {
        QFETCH(bool, extended);
        QFETCH(QStringList, entries);
        VirtualCanHub hub;
        QTemporaryDir dir;
        const ConfigurationBank bank =
            bankOf(makeProject(dir.filePath(QStringLiteral("Line")), extended));
        const QList<QCanBusFrame> frames = testing::framesOfLog(kFramesLog);

        LiveBusWindow window;
        window.setBank(bank);
        QSignalSpy listening(&window, &LiveBusWindow::listening);
        QSignalSpy ended(&window, &LiveBusWindow::ended);
        window.start(QStringLiteral("virtualcan:") + hub.interfaceName(),
                     SessionEnd{frames.size(), {}});
        QVERIFY(listening.wait(kSessionBoundMs));
        QVERIFY(hub.waitForMembers(1));
        const std::unique_ptr<QCanBusDevice> sender = hub.joinedDevice();
        QVERIFY(sender);
        for (const QCanBusFrame& frame : frames)
            QVERIFY(sender->writeFrame(frame));
        QVERIFY(ended.wait(kSessionBoundMs));

        QCOMPARE(countsOf(window.shownTally()),
                 countsOf(testRecording(bank, kFramesLog).value.tally));
        QCOMPARE(control<QLabel>(&window, "LiveTotals")->text(),
                 recordingTotalsText(window.shownTally()));
        if (extended) {
            QCOMPARE(tableRows(control<QTableWidget>(&window, "EntryCounts")), entries);
            return;
        }
        // 0x100-0x1FF are hidden; 0x100 came as a CAN FD frame, which is never received.
        const auto* map = control<IdentifierMap>(&window, "LiveMap");
        QCOMPARE(map->heard(0x000), IdentifierMap::Heard::Passed);
        QCOMPARE(map->heard(0x123), IdentifierMap::Heard::Blocked);
        QCOMPARE(map->heard(0x150), IdentifierMap::Heard::Blocked);
        QCOMPARE(map->heard(0x100), IdentifierMap::Heard::Blocked);
        QCOMPARE(map->heard(0x456), IdentifierMap::Heard::No);
    }

    void stopEndsTheSessionWithWhatWasHeard()
    {
        VirtualCanHub hub;
        QTemporaryDir dir;
        LiveBusWindow window;
        window.setBank(bankOf(makeProject(dir.filePath(QStringLiteral("Line")), false)));
        QSignalSpy listening(&window, &LiveBusWindow::listening);
        QSignalSpy ended(&window, &LiveBusWindow::ended);
        typeInto(&window, "BusAddress", QStringLiteral("virtualcan:") + hub.interfaceName());
        click(&window, "StartListening");
        QVERIFY(listening.wait(kSessionBoundMs));
        QVERIFY(window.isListening());
        click(&window, "StopListening");
        QVERIFY(ended.wait(kSessionBoundMs));
        QVERIFY(!window.isListening());
        QCOMPARE(control<QLabel>(&window, "LiveStatus")->text(),
                 QStringLiteral("Stopped: the view holds every frame heard."));
    }

    void aBusThatCannotBeOpenedIsReported()
    {
        MessageRecorder messages;
        LiveBusWindow window;
        QSignalSpy ended(&window, &LiveBusWindow::ended);
        typeInto(&window, "BusAddress", QStringLiteral("nosuchcan:can0"));
        click(&window, "StartListening");
        QVERIFY(ended.wait(kSessionBoundMs));
        const QStringList errors = messages.takeErrors();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(QStringLiteral("no CAN plugin named nosuchcan")),
                 qPrintable(errors[0]));
        // An address that is none is refused before any session.
        typeInto(&window, "BusAddress", QStringLiteral("can0"));
        click(&window, "StartListening");
        QVERIFY(messages.takeErrors().value(0).startsWith(
            QStringLiteral("A bus is written PLUGIN:INTERFACE")));
        QVERIFY(!window.isListening());
    }
};

QTEST_MAIN(TestLiveBusWindow)
#include "tst_live_bus_window.moc"
