#include "browser_support.h"
#include "support/program_run.h"
#include "support/report_reading.h"
#include "test_files.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace quillner::testing;

namespace {

Run cli(const QStringList& arguments)
{
    return runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

} // namespace

// The report as a browser shows it: Debian's chromium, headless, renders the page to a picture
// (kept in the build folder's test-artefacts) that is not blank and shows the map's colours.
class TestReportInBrowser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rendersInChromium_data()
    {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QStringList>("filter");
        QTest::addColumn<QString>("picture");
        QTest::newRow("2.0A with its map")
            << QStringList()
            << QStringList{QStringLiteral("--hide"), QStringLiteral("0x100-0x1FF 0x7DF")}
            << "report-2.0A-in-chromium.png";
        QTest::newRow("2.0B patterns")
            << QStringList{QStringLiteral("can.format=2.0B")}
            << QStringList{QStringLiteral("--patterns"),
                           QStringLiteral(
                               "1100011111110xxxxxxxxxxxxxxxx,0000000000000000000111xxx1010")}
            << "report-2.0B-in-chromium.png";
    }

    void rendersInChromium()
    {
        QFETCH(QStringList, settings);
        QFETCH(QStringList, filter);
        QFETCH(QString, picture);
        const QString chromium = chromiumProgram();
        QVERIFY2(!chromium.isEmpty(), "chromium is not installed; scripts/setup installs it");

        QTemporaryDir dir;
        const QString project = dir.filePath(QStringLiteral("Line 1"));
        QCOMPARE(cli({QStringLiteral("new"), project}).exitCode, 0);
        if (!settings.isEmpty())
            QCOMPARE(cli(QStringList{QStringLiteral("set"), project} + settings).exitCode, 0);
        QCOMPARE(cli(QStringList{QStringLiteral("filter"), QStringLiteral("set"), project} + filter)
                     .exitCode,
                 0);
        const QString page = dir.filePath(QStringLiteral("report.html"));
        const Run report = cli({QStringLiteral("report"), project, QStringLiteral("--log"),
                                QStringLiteral(QUILLNER_TEST_DATA "/logs/candump_mixed.log"),
                                QStringLiteral("--dbc"),
                                QStringLiteral(QUILLNER_TEST_DATA "/filters/engine_messages.dbc"),
                                QStringLiteral("-o"), page});
        QCOMPARE(report.exitCode, 0);

        // The numbers the page holds are those of show --json.
        const ReadReport read = readReport(readFile(page));
        QCOMPARE(read.error, QString());
        const QJsonObject shown =
            QJsonDocument::fromJson(
                cli({QStringLiteral("show"), project, QStringLiteral("--json")}).out.toUtf8())
                .object();
        const QJsonObject shownFilter = shown.value(QStringLiteral("filter")).toObject();
        QCOMPARE(read.filter.value(QStringLiteral("filter.kind")),
                 shownFilter.value(QStringLiteral("kind")).toString());
        QCOMPARE(read.recordings.size(), 1);

        const QString png = artefactPath(picture);
        QFile::remove(png);
        const QString profile = dir.filePath(QStringLiteral("chromium-profile"));
        QVERIFY(QDir().mkpath(profile));
        const Run browser = runProgram(
            chromium, QStringList{QStringLiteral("--headless")} + chromiumQuietFlags(profile) +
                          QStringList{QStringLiteral("--window-size=1000,1400"),
                                      QStringLiteral("--screenshot=") + png,
                                      QUrl::fromLocalFile(page).toString()});
        QVERIFY2(browser.exitCode == 0, qPrintable(browser.err));
        const PictureFacts facts = pictureFacts(QImage(png));
        QVERIFY2(!facts.image.isNull(), qPrintable(png));
        QCOMPARE(facts.image.size(), QSize(1000, 1400));
        QVERIFY2(facts.colours > 30, qPrintable(QString::number(facts.colours)));
        QVERIFY2(facts.notBackground > 0.03, qPrintable(QString::number(facts.notBackground)));
        // The table's header and the share bar's blocked part are drawn in their colours; the
        // 2.0A map fills many cells with the colour of visible identifiers.
        QVERIFY(facts.near(QColor(0xde, 0xde, 0xde)) > 1000);
        if (shownFilter.value(QStringLiteral("kind")).toString() == QLatin1String("2.0A"))
            QVERIFY(facts.near(QColor(0x1f, 0x77, 0xb4)) > 20000);
    }
};

QTEST_MAIN(TestReportInBrowser)
#include "tst_report_in_browser.moc"
