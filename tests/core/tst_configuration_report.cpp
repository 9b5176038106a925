#include "core/analysis/configuration_report.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter_edits.h"
#include "support/report_reading.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace quillner;
using quillner::testing::ReadReport;
using quillner::testing::readReport;

namespace {

// A tally of `count` identifiers, each passed or blocked a few times.
FilterTally tallyOf(int count, bool extended)
{
    FilterTally tally;
    LogFrame frame;
    frame.extended = extended;
    for (int i = 0; i < count; ++i) {
        frame.id = extended ? quint32(0x18FE0000 + i * 7) : quint32(i);
        for (int n = 0; n <= i % 5; ++n)
            tally.add(frame, i % 3 == 0 ? FrameVerdict::Blocked : FrameVerdict::Passed);
    }
    return tally;
}

ConfigurationDescription project20A(const QString& folder, const QList<IdRange>& hidden)
{
    const AppPaths paths = createProjectAt(folder);
    Filter20A filter;
    setVisibility(filter, hidden, false);
    saveFilter20A(paths.Filter20APath, filter);
    return describeProject(paths.ProjectDir).value;
}

ConfigurationDescription project20B(const QString& folder, const Filter20B& filter)
{
    const AppPaths paths = createProjectAt(folder);
    GeneralParameters parameters;
    parameters.canTypeB = true;
    parameters.Can_Baud = 6;
    saveGeneralParameters(paths.PargenPath, parameters);
    saveFilter20B(paths.Filter20BPath, filter);
    return describeProject(paths.ProjectDir).value;
}

// The page's numbers against the JSON of `show --json` and `filter test --json`.
void compareWithJson(const ReadReport& read, const ConfigurationReport& report)
{
    QCOMPARE(read.error, QString());
    const QJsonObject description = configurationDescriptionJson(report.configuration);
    const QJsonObject settings = description.value(QStringLiteral("settings")).toObject();
    QCOMPARE(read.settings.keys(), settings.keys());
    for (const QString& key : settings.keys()) {
        const QJsonValue value = settings.value(key).toObject().value(QStringLiteral("value"));
        QCOMPARE(read.settings.value(key),
                 value.isDouble() ? QString::number(value.toInteger()) : value.toString());
    }
    const QJsonObject filter = description.value(QStringLiteral("filter")).toObject();
    QCOMPARE(read.filter.value(QStringLiteral("filter.kind")),
             filter.value(QStringLiteral("kind")).toString());
    QCOMPARE(read.recordings.size(), report.recordings.size());
    for (int r = 0; r < report.recordings.size(); ++r) {
        const QJsonObject tally = filterTallyJson(report.recordings[r].tally);
        const ReadReport::Recording& shown = read.recordings[r];
        QCOMPARE(shown.name, report.recordings[r].name);
        for (const char* key : {"frames", "passed", "blocked", "wrongForm", "unreadable"})
            QCOMPARE(shown.totals.value(QLatin1String(key), -1),
                     tally.value(QLatin1String(key)).toInteger());
        const QJsonArray ids = tally.value(QStringLiteral("identifiers")).toArray();
        QCOMPARE(shown.rows.size(), ids.size());
        for (int i = 0; i < ids.size(); ++i) {
            const QJsonObject id = ids[i].toObject();
            QCOMPARE(qint64(shown.rows[i].id), id.value(QStringLiteral("id")).toInteger());
            QCOMPARE(shown.rows[i].extended, id.value(QStringLiteral("extended")).toBool());
            QCOMPARE(shown.rows[i].text, id.value(QStringLiteral("text")).toString());
            QCOMPARE(shown.rows[i].passed, id.value(QStringLiteral("passed")).toInteger());
            QCOMPARE(shown.rows[i].blocked, id.value(QStringLiteral("blocked")).toInteger());
            QCOMPARE(shown.rows[i].frames, shown.rows[i].passed + shown.rows[i].blocked);
        }
    }
}

} // namespace

// The report a user hands on: one self-contained page whose numbers are the JSON outputs'.
class TestConfigurationReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void the20AMapHasACellForEachIdentifier()
    {
        QTemporaryDir dir;
        ConfigurationReport report;
        report.configuration = project20A(dir.filePath(QStringLiteral("Line")),
                                          {{0x005, 0x006}, {0x100, 0x17F}, {0x7FF, 0x7FF}});
        report.recordings.append({QStringLiteral("bus.log"), tallyOf(300, false)});
        const QByteArray html = configurationReportHtml(report);
        const ReadReport read = readReport(html);
        compareWithJson(read, report);
        QCOMPARE(read.filter.value(QStringLiteral("filter.identifierCount")),
                 QStringLiteral("1917"));
        QCOMPARE(read.filter.value(QStringLiteral("filter.hiddenCount")), QStringLiteral("131"));
        for (int id = 0; id < 2048; ++id) {
            const bool hidden = (id >= 5 && id <= 6) || (id >= 0x100 && id <= 0x17F) || id == 0x7FF;
            QCOMPARE(read.mapCells[id], hidden ? 0 : 1);
        }
        QVERIFY(read.title.endsWith(QStringLiteral("Line")));
    }

    void the20BPatternsWithTheirCounts()
    {
        QTemporaryDir dir;
        Filter20B filter;
        filter.cobIdFilter = false;
        filter.patterns = {QStringLiteral("0000000000000000000111xxx1010"),
                           QStringLiteral("000000000000000000011xxxx1010"),
                           QStringLiteral("1100011111110xxxxxxxxxxxxxxxx")};
        ConfigurationReport report;
        report.configuration = project20B(dir.filePath(QStringLiteral("Truck")), filter);
        report.recordings.append({QStringLiteral("truck.asc"), tallyOf(50, true)});
        const ReadReport read = readReport(configurationReportHtml(report));
        compareWithJson(read, report);
        QCOMPARE(read.patternCounts, QList<qint64>({8, 16, 65536}));
        QCOMPARE(read.filter.value(QStringLiteral("filter.patternCount")), QStringLiteral("3"));
        QCOMPARE(read.filter.value(QStringLiteral("filter.passedTotal")), QStringLiteral("65552"));
        QCOMPARE(read.mapRects, 0);
    }

    void the20BList()
    {
        QTemporaryDir dir;
        Filter20B filter;
        filter.typePositive = false;
        filter.cobIds = {QStringLiteral("$18FEF100"), QStringLiteral("291")};
        ConfigurationReport report;
        report.configuration = project20B(dir.filePath(QStringLiteral("Bus")), filter);
        const ReadReport read = readReport(configurationReportHtml(report));
        compareWithJson(read, report);
        QCOMPARE(read.listedIds, QList<quint32>({0x18FEF100, 291}));
        QCOMPARE(read.filter.value(QStringLiteral("filter.function")), QStringLiteral("negative"));
    }

    // Nothing is fetched and nothing runs: no script, no link, no image from elsewhere; the
    // same report gives the same bytes.
    void selfContainedAndReproducible()
    {
        QTemporaryDir dir;
        ConfigurationReport report;
        report.configuration = project20A(dir.filePath(QStringLiteral("Line <&> \"x\"")), {});
        report.note = QStringLiteral("A note with <markup> & \"quotes\"");
        report.recordings.append({QStringLiteral("a<b>.log"), tallyOf(10, false)});
        const QByteArray html = configurationReportHtml(report);
        const ReadReport read = readReport(html);
        QCOMPARE(read.error, QString());
        QCOMPARE(read.scripts, QStringList());
        QCOMPARE(read.references, QStringList());
        QVERIFY(!html.contains("<link"));
        QVERIFY(!html.contains("<img"));
        QVERIFY(html.contains("A note with &lt;markup&gt; &amp; &quot;quotes&quot;"));
        QCOMPARE(read.recordings.value(0).name, QStringLiteral("a<b>.log"));
        QCOMPARE(configurationReportHtml(report), html);
    }

    // What XML does not allow in a name (control characters, a lone surrogate, U+FFFF) is
    // written as U+FFFD wherever the page shows text: the page stays well-formed XML.
    void controlCharactersKeepThePageWellFormed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("escape and bell")
            << QStringLiteral("bus\x1b[31m\x07.log") << QStringLiteral("bus\uFFFD[31m\uFFFD.log");
        QTest::newRow("nul") << QString(QStringLiteral("a")).append(QChar(0)).append(u'b')
                             << QStringLiteral("a\uFFFDb");
        QTest::newRow("lone surrogate")
            << QString(QStringLiteral("x")).append(QChar(0xD800)) << QStringLiteral("x\uFFFD");
        QTest::newRow("not a character")
            << QString(QStringLiteral("y")).append(QChar(0xFFFF)) << QStringLiteral("y\uFFFD");
        QTest::newRow("a surrogate pair kept")
            << QStringLiteral("u\U0001F600\u00E9") << QStringLiteral("u\U0001F600\u00E9");
    }

    void controlCharactersKeepThePageWellFormed()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        ConfigurationReport report;
        report.configuration = project20A(dir.filePath(QStringLiteral("Line")), {});
        report.note = name;
        report.recordings.append({name, tallyOf(3, false)});
        report.messageNames = MessageNames(QList<DbcMessage>{{name, 0, false, 1}});
        QXmlStreamReader reader(configurationReportHtml(report));
        QStringList recordings;
        QString texts;
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isStartElement() && reader.attributes().hasAttribute("data-recording"))
                recordings << reader.attributes().value("data-recording").toString();
            if (reader.isCharacters())
                texts += reader.text();
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(recordings, QStringList{shown});
        QVERIFY(texts.contains(shown));
        QVERIFY(!texts.contains(name) || name == shown);
    }

    // 2 000 identifiers in a recording, with their DBC names, stay well under 1 MB.
    void twoThousandIdentifiersUnderOneMegabyte()
    {
        QTemporaryDir dir;
        ConfigurationReport report;
        report.configuration = project20A(dir.filePath(QStringLiteral("Line")), {{0x400, 0x4FF}});
        FilterTally tally = tallyOf(1000, false);
        const FilterTally extended = tallyOf(1000, true);
        tally.extended = extended.extended;
        tally.passed += extended.passed;
        tally.blocked += extended.blocked;
        report.recordings.append({QStringLiteral("bus.log"), tally});
        QList<DbcMessage> messages;
        for (int i = 0; i < 1000; ++i)
            messages.append({QStringLiteral("Message_%1").arg(i), quint32(i), false, i + 1});
        report.messageNames = MessageNames(messages);
        const QByteArray html = configurationReportHtml(report);
        const ReadReport read = readReport(html);
        compareWithJson(read, report);
        QCOMPARE(read.recordings[0].rows.size(), 2000);
        QCOMPARE(read.recordings[0].rows[7].message, QStringLiteral("Message_7"));
        QVERIFY2(html.size() < 1000 * 1000, qPrintable(QString::number(html.size())));
    }
};

QTEST_MAIN(TestConfigurationReport)
#include "tst_configuration_report.moc"
