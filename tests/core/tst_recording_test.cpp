#include "core/analysis/recording_test.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter_edits.h"
#include "support/program_run.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

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

// candump lines of the identifiers, `each` frames of every one.
QByteArray candump(const QList<QByteArray>& ids, int each)
{
    QByteArray log;
    for (int i = 0; i < each; ++i) {
        for (const QByteArray& id : ids)
            log += "(1700000000.000001) can0 " + id + "#0102\n";
    }
    return log;
}

QJsonObject cliTally(const QString& project, const QString& log)
{
    const testing::Run run = testing::runProgram(
        QStringLiteral(QUILLNER_CLI),
        {QStringLiteral("filter"), QStringLiteral("test"), project, log, QStringLiteral("--json")});
    if (run.exitCode != 0)
        qWarning("%s", qPrintable(run.err));
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

} // namespace

// A recording tested in the windows or the report gives the numbers of `filter test --json`.
class TestRecordingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theNumbersAreThoseOfFilterTest_data()
    {
        QTest::addColumn<bool>("extended");
        QTest::addColumn<QString>("log"); // a fixture, or "" for a generated one
        QTest::newRow("2.0A, mixed candump") << false << "candump_mixed.log";
        QTest::newRow("2.0B, mixed candump") << true << "candump_mixed.log";
        QTest::newRow("2.0A, Vector ASC") << false << "vector_mixed.asc";
        QTest::newRow("2.0A, generated") << false << "";
    }

    void theNumbersAreThoseOfFilterTest()
    {
        QFETCH(bool, extended);
        QFETCH(QString, log);
        QTemporaryDir dir;
        const AppPaths paths = makeProject(dir.filePath(QStringLiteral("Line")), extended);
        QString path = QStringLiteral(QUILLNER_TEST_DATA "/logs/") + log;
        if (log.isEmpty()) {
            path = dir.filePath(QStringLiteral("bus.log"));
            QVERIFY(writeFile(path, candump({"0FF", "100", "1FF", "200", "7FF"}, 20000)));
        }
        const CompiledBank compiled =
            CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
        qint64 lastDone = -1;
        qint64 lastTotal = -1;
        const Result<RecordingTest> read =
            testRecording(compiled.value, path, [&](qint64 done, qint64 total) {
                QVERIFY(done >= lastDone);
                lastDone = done;
                lastTotal = total;
            });
        QVERIFY(read.whole());
        const RecordingTest& test = read.value;
        QVERIFY(!test.cancelled);
        QCOMPARE(test.name, QFileInfo(path).fileName());
        QCOMPARE(lastDone, QFileInfo(path).size());
        QCOMPARE(lastTotal, QFileInfo(path).size());

        const QJsonObject expected = cliTally(paths.ProjectDir, path);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(filterTallyJson(test.tally), expected);
        const QJsonArray identifiers = expected.value(QStringLiteral("identifiers")).toArray();
        const QList<IdentifierRow> rows = identifierRows(test.tally);
        QCOMPARE(rows.size(), identifiers.size());
        for (int i = 0; i < rows.size(); ++i) {
            const QJsonObject entry = identifiers[i].toObject();
            QCOMPARE(rows[i].text, entry.value(QStringLiteral("text")).toString());
            QCOMPARE(qint64(rows[i].passed), entry.value(QStringLiteral("passed")).toInteger());
            QCOMPARE(qint64(rows[i].blocked), entry.value(QStringLiteral("blocked")).toInteger());
        }
        QVERIFY(recordingTotalsText(test.tally)
                    .startsWith(QStringLiteral("Total: %1 frames, ")
                                    .arg(expected.value(QStringLiteral("frames")).toInteger())));
    }

    // A cancelled reading stops at its next look and keeps what it counted.
    void cancelStopsTheReading()
    {
        QTemporaryDir dir;
        const AppPaths paths = makeProject(dir.filePath(QStringLiteral("Line")), false);
        const QString path = dir.filePath(QStringLiteral("bus.log"));
        QVERIFY(writeFile(path, candump({"123"}, 100000)));
        const CompiledBank compiled =
            CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
        int looks = 0;
        const Result<RecordingTest> read =
            testRecording(compiled.value, path, {}, [&] { return ++looks == 2; });
        QVERIFY(read.whole());
        const RecordingTest& test = read.value;
        QVERIFY(test.cancelled);
        QCOMPARE(looks, 2);
        const quint64 frames = test.tally.passed + test.tally.blocked;
        QVERIFY2(frames > 0 && frames < 100000, qPrintable(QString::number(frames)));
    }

    void unreadableRecordingIsAProblem()
    {
        const Result<RecordingTest> read =
            testRecording(ConfigurationBank{}, QStringLiteral("/no/such/recording.log"));
        QCOMPARE(read.problems.size(), 1);
        QCOMPARE(read.value.tally.passed + read.value.tally.blocked, quint64(0));
    }

    // The filter as a window shows it compiles as the saved document will.
    void compileWithFilterIsTheCompileOfTheSavedFilter()
    {
        QTemporaryDir dir;
        const AppPaths paths = makeProject(dir.filePath(QStringLiteral("Line")), false);
        Filter20A shown;
        setVisibility(shown, {{0x7DF, 0x7DF}, {0x000, 0x00F}}, false);
        const QByteArray before = readFile(paths.Filter20APath);
        const CompiledBank unsaved = compileWithFilter(paths.PargenPath, shown);
        QCOMPARE(readFile(paths.Filter20APath), before);
        saveFilter20A(paths.Filter20APath, shown);
        const CompiledBank saved =
            CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
        QCOMPARE(unsaved.value, saved.value);

        const AppPaths b = makeProject(dir.filePath(QStringLiteral("Truck")), true);
        Filter20B patterns;
        patterns.cobIdFilter = false;
        patterns.patterns = {QStringLiteral("1100011111110xxxxxxxxxxxxxxxx")};
        const CompiledBank unsavedB = compileWithFilter(b.PargenPath, patterns);
        saveFilter20B(b.Filter20BPath, patterns);
        QCOMPARE(unsavedB.value, CompileBank(b.PargenPath, b.Filter20APath, b.Filter20BPath).value);
    }

    void rowsNameTheirMessages()
    {
        const Result<QList<DbcMessage>> messages =
            readDbcMessages(QStringLiteral(QUILLNER_TEST_DATA "/filters/engine_messages.dbc"));
        const MessageNames names(wholeValue(messages));
        FilterTally tally;
        LogFrame frame;
        frame.id = 291;
        tally.add(frame, FrameVerdict::Passed);
        frame.id = 0x18FEF100;
        frame.extended = true;
        tally.add(frame, FrameVerdict::Blocked);
        frame.id = 291;
        tally.add(frame, FrameVerdict::WrongForm);
        const QList<IdentifierRow> rows = identifierRows(tally, names);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].text, QStringLiteral("0x123"));
        QCOMPARE(rows[0].messageName, QStringLiteral("Status"));
        QCOMPARE(rows[0].verdict(), QStringLiteral("passed"));
        // The same number as an extended identifier is another message, or none.
        QCOMPARE(rows[1].text, QStringLiteral("0x00000123"));
        QCOMPARE(rows[1].messageName, QString());
        QCOMPARE(rows[1].verdict(), QStringLiteral("blocked (other form)"));
        QCOMPARE(rows[2].messageName, QStringLiteral("EEC1"));
        QCOMPARE(rows[2].verdict(), QStringLiteral("blocked"));
    }
};

QTEST_MAIN(TestRecordingTest)
#include "tst_recording_test.moc"
