#include "filter_test_support.h"

#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"
#include "gui/filters/identifier_map.h"
#include "gui/filters/recording_test_window.h"
#include "support/program_run.h"
#include "support/report_reading.h"

#include <QDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QTableView>
#include <QTest>

#include <sys/stat.h>

#include <csignal>
#include <thread>

using namespace quillner;
using namespace quillner::filtertest;
using quillner::testing::ReadReport;
using quillner::testing::readReport;

namespace {

QByteArray candump(const QList<QByteArray>& ids, int each)
{
    QByteArray log;
    for (int i = 0; i < each; ++i) {
        for (const QByteArray& id : ids)
            log += "(1700000000.000001) can0 " + id + "#0102\n";
    }
    return log;
}

testing::Run cli(const QStringList& arguments)
{
    return testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

// The table as its rows read, one list of cell texts a row, in the order shown.
QList<QStringList> tableRows(const QTableView* table)
{
    QList<QStringList> result;
    const QAbstractItemModel* model = table->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells << model->index(row, column).data().toString();
        result << cells;
    }
    return result;
}

} // namespace

// "Test on recording..." in both filter windows: the recording is read in a worker thread, and
// its identifiers are shown in a table with the numbers of `filter test`.
class TestRecordingTestWindow : public QObject
{
    Q_OBJECT
private:
    RecordingTestWindow* testWindow(QWidget* owner)
    {
        return control<RecordingTestWindow>(owner, "RecordingTest");
    }
    QTableView* table(QWidget* owner)
    {
        return control<QTableView>(testWindow(owner), "IdentifierTable");
    }
    QString log(const QString& name) const { return m_project->dir.filePath(name); }

    // Chooses `file` in the next file dialog; the windows it opens are only recorded.
    void choose(const QString& file)
    {
        setFileChooser([this, file](QWidget*, FileChoice choice, const QString& title,
                                    const QString&, const QString&) -> std::optional<QString> {
            m_asked << title + (choice == FileChoice::Open ? QStringLiteral(" (open)")
                                                           : QStringLiteral(" (save)"));
            if (file.isEmpty())
                return std::nullopt;
            return file;
        });
    }

    // Presses "Test on recording..." and waits for the worker to end.
    void testRecording(QWidget* owner, const QString& file)
    {
        choose(file);
        click(owner, "TestRecording");
        QTRY_VERIFY_WITH_TIMEOUT(!testWindow(owner)->isRunning(), 60000);
    }

    void make20AProject(const QList<IdRange>& hidden)
    {
        saveGeneralParameters(m_project->paths.PargenPath, GeneralParameters{});
        Filter20A filter;
        setVisibility(filter, hidden, false);
        saveFilter20A(m_project->paths.Filter20APath, filter);
    }

private Q_SLOTS:
    void init()
    {
        m_project = std::make_unique<FilterProject>();
        m_messages = std::make_unique<MessageRecorder>();
        m_shown.clear();
        m_asked.clear();
        setDialogRunner([this](QDialog* dialog) {
            m_shown << dialog->objectName();
            return int(QDialog::Rejected);
        });
    }

    void cleanup()
    {
        setDialogRunner({});
        setFileChooser({});
        m_messages.reset();
        m_project.reset();
    }

    void tableHoldsTheNumbersOfFilterTest()
    {
        make20AProject({{0x100, 0x1FF}});
        QVERIFY(writeFile(log(QStringLiteral("bus.log")),
                          candump({"0FF", "100", "123", "1FF", "200", "7DF"}, 50) +
                              "(1700000000.1) can0 18FEF100#01\n"));
        TFFilter window(m_project->paths);
        window.show();
        testRecording(&window, log(QStringLiteral("bus.log")));
        QCOMPARE(m_shown, QStringList{QStringLiteral("RecordingTest")});
        QCOMPARE(m_asked, QStringList{QStringLiteral("Test on recording (open)")});

        const testing::Run json =
            cli({QStringLiteral("filter"), QStringLiteral("test"), m_project->paths.ProjectDir,
                 log(QStringLiteral("bus.log")), QStringLiteral("--json")});
        QCOMPARE(json.exitCode, 0);
        const QJsonArray ids = QJsonDocument::fromJson(json.out.toUtf8())
                                   .object()
                                   .value(QStringLiteral("identifiers"))
                                   .toArray();
        const QList<QStringList> shown = tableRows(table(&window));
        QCOMPARE(shown.size(), ids.size());
        for (int i = 0; i < ids.size(); ++i) {
            const QJsonObject id = ids[i].toObject();
            const qint64 passed = id.value(QStringLiteral("passed")).toInteger();
            const qint64 blocked = id.value(QStringLiteral("blocked")).toInteger();
            QCOMPARE(shown[i].mid(0, 4),
                     QStringList({id.value(QStringLiteral("text")).toString(),
                                  QString::number(passed + blocked), QString::number(passed),
                                  QString::number(blocked)}));
        }
        QCOMPARE(shown[0][4], QStringLiteral("passed"));
        QCOMPARE(shown[1][4], QStringLiteral("blocked"));
        QCOMPARE(shown.last()[4], QStringLiteral("blocked (other form)"));

        const testing::Run text =
            cli({QStringLiteral("filter"), QStringLiteral("test"), m_project->paths.ProjectDir,
                 log(QStringLiteral("bus.log"))});
        const QString total = text.out.trimmed().section(u'\n', -1);
        QVERIFY(total.startsWith(QStringLiteral("Total: 301 frames, 150 passed")));
        QCOMPARE(control<QLabel>(testWindow(&window), "TestTotals")->text(), total);
        QCOMPARE(m_messages->texts(), QStringList());
    }

    void sortsByAnyColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::newRow("ID") << 0;
        QTest::newRow("frames") << 1;
        QTest::newRow("passed") << 2;
        QTest::newRow("blocked") << 3;
        QTest::newRow("verdict") << 4;
        QTest::newRow("DBC message") << 5;
    }

    // Each column sorts either way, numbers as numbers (9 before 10) and standard identifiers
    // before extended ones.
    void sortsByAnyColumn()
    {
        QFETCH(int, column);
        make20AProject({{0x100, 0x100}, {0x7DF, 0x7DF}});
        QVERIFY(writeFile(log(QStringLiteral("bus.log")),
                          candump({"7DF", "0FF", "100", "123", "18FEF100"}, 1) +
                              candump({"0FF", "100", "123"}, 8) + candump({"100", "123"}, 1) +
                              candump({"123"}, 20)));
        TFFilter window(m_project->paths);
        window.show();
        testRecording(&window, log(QStringLiteral("bus.log")));
        testWindow(&window)->useDbc(
            QStringLiteral(QUILLNER_TEST_DATA "/filters/engine_messages.dbc"));
        QTableView* view = table(&window);
        QVERIFY(view->isSortingEnabled());
        QVERIFY(view->horizontalHeader()->sectionsClickable());
        const QAbstractItemModel* model = view->model();
        const auto sortKeys = [&] {
            QVariantList keys;
            for (int row = 0; row < model->rowCount(); ++row)
                keys << model->index(row, column).data(Qt::UserRole);
            return keys;
        };
        for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            view->sortByColumn(column, order);
            QVariantList keys = sortKeys();
            QCOMPARE(keys.size(), 5);
            QVariantList sorted = keys;
            std::stable_sort(
                sorted.begin(), sorted.end(), [&](const QVariant& a, const QVariant& b) {
                    const bool less = QVariant::compare(a, b) == QPartialOrdering::Less;
                    const bool greater = QVariant::compare(a, b) == QPartialOrdering::Greater;
                    return order == Qt::AscendingOrder ? less : greater;
                });
            QCOMPARE(keys, sorted);
        }
        view->sortByColumn(0, Qt::AscendingOrder);
        QStringList ids;
        for (const QStringList& row : tableRows(view))
            ids << row[0];
        QCOMPARE(ids, QStringList({"0x0FF", "0x100", "0x123", "0x7DF", "0x18FEF100"}));
        view->sortByColumn(1, Qt::AscendingOrder);
        QStringList frames;
        for (const QStringList& row : tableRows(view))
            frames << row[1];
        QCOMPARE(frames, QStringList({"1", "1", "9", "10", "30"}));
    }

    // What the window shows is tested, before "OK" saves it; the document is not touched.
    void testsTheFilterAsShown()
    {
        make20AProject({});
        const QByteArray saved = readFile(m_project->paths.Filter20APath);
        QVERIFY(writeFile(log(QStringLiteral("bus.log")), candump({"0FF", "100"}, 3)));
        TFFilter window(m_project->paths);
        window.show();
        auto* map = control<IdentifierMap>(&window, "IdentifierMap");
        QTest::mouseClick(map, Qt::LeftButton, {}, map->cellRect(0x0FF).center());
        testRecording(&window, log(QStringLiteral("bus.log")));
        const QList<QStringList> shown = tableRows(table(&window));
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].mid(0, 5), QStringList({"0x0FF", "3", "0", "3", "blocked"}));
        QCOMPARE(shown[1].mid(0, 5), QStringList({"0x100", "3", "3", "0", "passed"}));
        QCOMPARE(readFile(m_project->paths.Filter20APath), saved);
    }

    void namesTheIdentifiersFromADbc()
    {
        make20AProject({});
        QVERIFY(writeFile(log(QStringLiteral("bus.log")),
                          candump({"123", "7DF", "456"}, 1) + "(1700000000.1) can0 18FEF100#01\n"));
        TFFilter window(m_project->paths);
        window.show();
        testRecording(&window, log(QStringLiteral("bus.log")));
        QCOMPARE(tableRows(table(&window))[0][5], QString());
        choose(QStringLiteral(QUILLNER_TEST_DATA "/filters/engine_messages.dbc"));
        click(testWindow(&window), "ChooseDbc");
        QStringList names;
        for (const QStringList& row : tableRows(table(&window)))
            names << row[0] + u'=' + row[5];
        QCOMPARE(names,
                 QStringList({"0x123=Status", "0x456=", "0x7DF=Diagnostic", "0x18FEF100=EEC1"}));
    }

    // A million frames through a pipe that the test holds half-way: the worker waits for more,
    // the window goes on working, and Cancel stops the reading at its next look.
    void cancelWhileAMillionFramesAreRead()
    {
        make20AProject({});
        const QString pipe = log(QStringLiteral("capture.log"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        // The cancelled reader closes the pipe: the rest of the writing then fails, as a
        // capture tool's would.
        std::signal(SIGPIPE, SIG_IGN);
        const QByteArray half = candump({"123"}, 500000);
        QSemaphore goOn;
        std::thread writer([&] {
            QFile out(pipe);
            if (!out.open(QIODevice::WriteOnly))
                return;
            out.write(half);
            out.flush();
            goOn.acquire();
            out.write(half);
        });
        TFFilter window(m_project->paths);
        window.show();
        choose(pipe);
        click(&window, "TestRecording");
        RecordingTestWindow* test = testWindow(&window);
        QVERIFY(test->isRunning());
        // Its size is not known: the bar says it is busy.
        QCOMPARE(control<QProgressBar>(test, "TestProgress")->maximum(), 0);
        auto* cancel = control<QPushButton>(test, "CancelTest");
        QVERIFY(cancel->isVisibleTo(test));
        cancel->click();
        QVERIFY(!cancel->isEnabled());
        QCOMPARE(control<QLabel>(test, "TestTotals")->text(), QStringLiteral("Cancelling..."));
        QVERIFY(test->isRunning());
        goOn.release();
        QTRY_VERIFY_WITH_TIMEOUT(!test->isRunning(), 60000);
        writer.join();

        QVERIFY(!test->lastTest());
        const QString totals = control<QLabel>(test, "TestTotals")->text();
        QVERIFY2(totals.startsWith(QStringLiteral("Cancelled: the table holds the frames read "
                                                  "before.\nTotal: ")),
                 qPrintable(totals));
        const QList<QStringList> shown = tableRows(table(&window));
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0][1].toLongLong() > 0);
        QVERIFY(shown[0][1].toLongLong() < 1000000);
        QVERIFY(!cancel->isVisibleTo(test));
    }

    void unreadableRecordingIsReported()
    {
        make20AProject({});
        TFFilter window(m_project->paths);
        window.show();
        testRecording(&window, log(QStringLiteral("missing.log")));
        QCOMPARE(m_messages->errors().size(), 1);
        QVERIFY2(m_messages->errors()[0].startsWith(QStringLiteral("Cannot open file")),
                 qPrintable(m_messages->errors()[0]));
        QVERIFY(control<QLabel>(testWindow(&window), "TestTotals")
                    ->text()
                    .startsWith(QStringLiteral("Not read: Cannot open file")));
    }

    void noRecordingChosenOpensNothing()
    {
        make20AProject({});
        TFFilter window(m_project->paths);
        window.show();
        choose({});
        click(&window, "TestRecording");
        QVERIFY(!testWindow(&window)->isRunning());
        QCOMPARE(m_shown, QStringList());
    }

    // The 2.0B window tests its list or patterns as shown.
    void extendedFramesInThe20BWindow()
    {
        GeneralParameters parameters;
        parameters.canTypeB = true;
        saveGeneralParameters(m_project->paths.PargenPath, parameters);
        QVERIFY(
            writeFile(log(QStringLiteral("bus.log")), candump({"18FEF100", "18FEF200", "123"}, 2)));
        TFFilterExt window(m_project->paths);
        window.show();
        typeInto(&window, "Edit1", QStringLiteral("0x18FEF100"));
        click(&window, "LbButton1");
        testRecording(&window, log(QStringLiteral("bus.log")));
        QStringList verdicts;
        for (const QStringList& row : tableRows(table(&window)))
            verdicts << row[0] + u' ' + row[4];
        QCOMPARE(verdicts, QStringList({"0x123 blocked (other form)", "0x18FEF100 passed",
                                        "0x18FEF200 blocked"}));
    }

    // "Save report..." saves the configuration with the filter as shown and the last recording
    // tested, named after the DBC when one was chosen.
    void savesTheReportOfTheFilterAsShown()
    {
        make20AProject({});
        QVERIFY(writeFile(log(QStringLiteral("bus.log")), candump({"0FF", "123"}, 2)));
        TFFilter window(m_project->paths);
        window.show();
        auto* map = control<IdentifierMap>(&window, "IdentifierMap");
        QTest::mouseClick(map, Qt::LeftButton, {}, map->cellRect(0x0FF).center());
        testRecording(&window, log(QStringLiteral("bus.log")));
        testWindow(&window)->useDbc(
            QStringLiteral(QUILLNER_TEST_DATA "/filters/engine_messages.dbc"));
        const QString page = log(QStringLiteral("report.html"));
        m_asked.clear();
        choose(page);
        click(&window, "SaveReport");
        QCOMPARE(m_asked, QStringList{QStringLiteral("Save report (save)")});
        const ReadReport read = readReport(readFile(page));
        QCOMPARE(read.error, QString());
        QCOMPARE(read.mapCells[0x0FF], 0);
        QCOMPARE(read.mapCells[0x100], 1);
        QCOMPARE(read.filter.value(QStringLiteral("filter.identifierCount")),
                 QStringLiteral("2047"));
        QCOMPARE(read.recordings.size(), 1);
        QCOMPARE(read.recordings[0].name, QStringLiteral("bus.log"));
        QCOMPARE(read.recordings[0].totals.value(QStringLiteral("blocked")), 2);
        QCOMPARE(read.recordings[0].rows[1].message, QStringLiteral("Status"));
        QVERIFY(
            readFile(page).contains("The filter as the &quot;Filter CAN 2.0A&quot; window shows "
                                    "it, not saved yet."));
        QCOMPARE(m_messages->texts(), QStringList{QStringLiteral("Report written: ") + page});
    }

    void aCancelledSaveWritesNothing()
    {
        make20AProject({});
        TFFilterExt window(m_project->paths);
        window.show();
        choose({});
        click(&window, "SaveReport");
        QVERIFY(!QFile::exists(log(QStringLiteral("report.html"))));
        QCOMPARE(m_messages->texts(), QStringList());
    }

private:
    std::unique_ptr<FilterProject> m_project;
    std::unique_ptr<MessageRecorder> m_messages;
    QStringList m_shown;
    QStringList m_asked;
};

QTEST_MAIN(TestRecordingTestWindow)
#include "tst_recording_test.moc"
