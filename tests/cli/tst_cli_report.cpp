#include "support/program_run.h"
#include "support/report_reading.h"
#include "test_files.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using quillner::testing::readFile;
using quillner::testing::ReadReport;
using quillner::testing::readReport;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

Run cli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

QJsonObject jsonOf(const QStringList& arguments)
{
    const Run run = cli(arguments + QStringList{QStringLiteral("--json")});
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

QString data(const char* name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/") + QString::fromLatin1(name);
}

} // namespace

// quillner-cli report: one HTML page whose every number is one of show --json and filter test
// --json.
class TestCliReport : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString project(const QString& name, const QStringList& settings, const QStringList& filter)
    {
        const QString folder = m_dir.filePath(name);
        if (cli({QStringLiteral("new"), folder}).exitCode != 0)
            return {};
        if (!settings.isEmpty() &&
            cli(QStringList{QStringLiteral("set"), folder} + settings).exitCode != 0)
            return {};
        if (!filter.isEmpty() &&
            cli(QStringList{QStringLiteral("filter"), QStringLiteral("set"), folder} + filter)
                    .exitCode != 0)
            return {};
        return folder;
    }

private Q_SLOTS:
    void numbersAreThoseOfTheJsonOutputs_data()
    {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QStringList>("filter");
        QTest::newRow("2.0A") << QStringList{QStringLiteral("serial.baud=9600")}
                              << QStringList{QStringLiteral("--hide"),
                                             QStringLiteral("0x100-0x1FF 0x7DF")};
        QTest::newRow("2.0B list")
            << QStringList{QStringLiteral("can.format=2.0B"), QStringLiteral("can.baud=500")}
            << QStringList{QStringLiteral("--list"), QStringLiteral("0x18FEF100 0x1FFFFFFF")};
        QTest::newRow("2.0B mask")
            << QStringList{QStringLiteral("can.format=2.0B")}
            << QStringList{
                   QStringLiteral("--patterns"),
                   QStringLiteral("1100011111110xxxxxxxxxxxxxxxx,0000000000000000000111xxx1010")};
    }

    void numbersAreThoseOfTheJsonOutputs()
    {
        QFETCH(QStringList, settings);
        QFETCH(QStringList, filter);
        const QString folder = project(
            QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_'), settings, filter);
        QVERIFY(!folder.isEmpty());
        const QString generated = m_dir.filePath(QStringLiteral("bus.log"));
        QByteArray bus;
        for (int i = 0; i < 2000; ++i)
            bus += QStringLiteral("(1700000000.%1) can0 %2#01\n")
                       .arg(i, 6, 10, QChar(u'0'))
                       .arg(i % 3 ? QString::number(i % 0x800, 16).toUpper().rightJustified(3, u'0')
                                  : QString::number(0x18FEF000 + i % 512, 16).toUpper())
                       .toLatin1();
        QVERIFY(writeFile(generated, bus));
        const QStringList logs{data("logs/candump_mixed.log"), data("logs/vector_mixed.asc"),
                               generated};
        const QString page = m_dir.filePath(QStringLiteral("report.html"));
        QStringList arguments{QStringLiteral("report"), folder,
                              QStringLiteral("-o"),     page,
                              QStringLiteral("--dbc"),  data("filters/engine_messages.dbc")};
        for (const QString& log : logs)
            arguments << QStringLiteral("--log") << log;
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringLiteral("Written: %1 (3 recordings tested)\n")
                              .arg(QDir::toNativeSeparators(page)));

        const QByteArray html = readFile(page);
        QVERIFY(html.size() < 1000 * 1000);
        const ReadReport read = readReport(html);
        QCOMPARE(read.error, QString());
        QCOMPARE(read.scripts, QStringList());
        QCOMPARE(read.references, QStringList());

        const QJsonObject shown = jsonOf({QStringLiteral("show"), folder});
        const QJsonObject shownSettings = shown.value(QStringLiteral("settings")).toObject();
        for (const QString& key : shownSettings.keys()) {
            const QJsonValue value =
                shownSettings.value(key).toObject().value(QStringLiteral("value"));
            QCOMPARE(read.settings.value(key),
                     value.isDouble() ? QString::number(value.toInteger()) : value.toString());
        }
        const QJsonObject shownFilter = shown.value(QStringLiteral("filter")).toObject();
        QCOMPARE(read.filter.value(QStringLiteral("filter.kind")),
                 shownFilter.value(QStringLiteral("kind")).toString());
        const QString kind = shownFilter.value(QStringLiteral("kind")).toString();
        if (kind == QLatin1String("2.0B mask")) {
            QCOMPARE(read.filter.value(QStringLiteral("filter.patternCount")).toLongLong(),
                     shownFilter.value(QStringLiteral("patternCount")).toInteger());
        } else {
            QCOMPARE(read.filter.value(QStringLiteral("filter.identifierCount")).toLongLong(),
                     shownFilter.value(QStringLiteral("identifierCount")).toInteger());
        }

        QCOMPARE(read.recordings.size(), logs.size());
        for (int r = 0; r < logs.size(); ++r) {
            const QJsonObject tested =
                jsonOf({QStringLiteral("filter"), QStringLiteral("test"), folder, logs[r]});
            const ReadReport::Recording& recording = read.recordings[r];
            QCOMPARE(recording.name, QFileInfo(logs[r]).fileName());
            for (const char* key : {"frames", "passed", "blocked", "wrongForm", "unreadable"})
                QCOMPARE(recording.totals.value(QLatin1String(key), -1),
                         tested.value(QLatin1String(key)).toInteger());
            const QJsonArray ids = tested.value(QStringLiteral("identifiers")).toArray();
            QCOMPARE(recording.rows.size(), ids.size());
            for (int i = 0; i < ids.size(); ++i) {
                const QJsonObject id = ids[i].toObject();
                QCOMPARE(recording.rows[i].text, id.value(QStringLiteral("text")).toString());
                QCOMPARE(recording.rows[i].passed, id.value(QStringLiteral("passed")).toInteger());
                QCOMPARE(recording.rows[i].blocked,
                         id.value(QStringLiteral("blocked")).toInteger());
            }
        }
        // Named after the DBC's messages.
        bool named = false;
        for (const ReadReport::Row& row : read.recordings[0].rows)
            named = named ||
                    (row.text == QLatin1String("0x123") && row.message == QLatin1String("Status"));
        QVERIFY(named);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after "report"; PROJECT stands for one
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("no output")
            << QStringList{QStringLiteral("PROJECT")} << 2 << "report needs -o REPORT.html";
        QTest::newRow("two projects")
            << QStringList{QStringLiteral("PROJECT"), QStringLiteral("PROJECT"),
                           QStringLiteral("-o"), QStringLiteral("OUT")}
            << 2 << "report takes one PROJECT_DIR";
        QTest::newRow("an option of another command")
            << QStringList{QStringLiteral("PROJECT"), QStringLiteral("--json"),
                           QStringLiteral("-o"), QStringLiteral("OUT")}
            << 2 << "--json does not apply to report";
        QTest::newRow("a recording that cannot be read")
            << QStringList{QStringLiteral("PROJECT"), QStringLiteral("--log"),
                           QStringLiteral("/no/such.log"), QStringLiteral("-o"),
                           QStringLiteral("OUT")}
            << 1 << "Cannot open file";
        QTest::newRow("no project") << QStringList{QStringLiteral("/no/such/project"),
                                                   QStringLiteral("-o"), QStringLiteral("OUT")}
                                    << 1 << "Project not valid";
    }

    // A refused report writes nothing.
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, error);
        const QString folder = project(
            QStringLiteral("refused %1").arg(QString::fromLatin1(QTest::currentDataTag())), {}, {});
        QVERIFY(!folder.isEmpty());
        const QString page = m_dir.filePath(QStringLiteral("refused.html"));
        arguments.replaceInStrings(QStringLiteral("PROJECT"), folder);
        arguments.replaceInStrings(QStringLiteral("OUT"), page);
        const Run run = cli(QStringList{QStringLiteral("report")} + arguments);
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.err.contains(error), qPrintable(run.err));
        QVERIFY(!QFile::exists(page));
    }

    void anUnreadableDocumentStopsIt()
    {
        const QString folder = project(QStringLiteral("broken"), {}, {});
        QVERIFY(writeFile(QDir(folder).filePath(QStringLiteral("pargen.xml")),
                          "<General_Parameter><Ser_Baud>x</Ser_Baud></General_Parameter>"));
        const QString page = m_dir.filePath(QStringLiteral("broken.html"));
        const Run run = cli({QStringLiteral("report"), folder, QStringLiteral("-o"), page});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("Ser_Baud")), qPrintable(run.err));
        QVERIFY(!QFile::exists(page));
    }

    void hasItsHelp()
    {
        const Run help = cli({QStringLiteral("help"), QStringLiteral("report")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith(QStringLiteral("Usage: quillner-cli report PROJECT_DIR")));
        QVERIFY(help.out.contains(QStringLiteral("Example")));
        QVERIFY(
            cli({QStringLiteral("--help")}).out.contains(QStringLiteral("  report PROJECT_DIR")));
    }
};

QTEST_MAIN(TestCliReport)
#include "tst_cli_report.moc"
