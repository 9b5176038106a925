#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

// What a project folder holds; the filter document of the other format is left out.
struct ProjectContent
{
    quillner::GeneralParameters parameters;
    quillner::Filter20A filter20A;
    quillner::Filter20B filter20B;
};

Run cli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

void writeProject(const QString& folder, const ProjectContent& content)
{
    QDir().mkpath(folder + QStringLiteral("/bin"));
    quillner::saveGeneralParameters(folder + QStringLiteral("/pargen.xml"), content.parameters);
    if (content.parameters.canTypeB)
        quillner::saveFilter20B(folder + QStringLiteral("/Filter20B.xml"), content.filter20B);
    else
        quillner::saveFilter20A(folder + QStringLiteral("/Filter20A.xml"), content.filter20A);
}

ProjectContent hiding(int first, int last)
{
    ProjectContent content;
    for (int id = first; id <= last; ++id)
        content.filter20A.IdVisible[size_t(id)] = 0;
    return content;
}

ProjectContent list(const QStringList& identifiers, bool positive = true)
{
    ProjectContent content;
    content.parameters.canTypeB = true;
    content.filter20B.typePositive = positive;
    content.filter20B.cobIds = identifiers;
    return content;
}

ProjectContent mask(const QStringList& patterns)
{
    ProjectContent content;
    content.parameters.canTypeB = true;
    content.filter20B.cobIdFilter = false;
    content.filter20B.patterns = patterns;
    return content;
}

const QString kPattern1 = QStringLiteral("1xxxxxxxxxxxxxxxxxxxxxxxxxxx0");
const QString kPattern2 = QStringLiteral("0xxxxxxxxxxxxxxxxxxxxxxxxxxx1");
const QString kPattern3 = QStringLiteral("xxxxxxxxxxxxxxxxxxxxxxxxxxxx1");

} // namespace

Q_DECLARE_METATYPE(ProjectContent)

// diff compares two configurations, each a project, a bank file or a firmware.
class TestCliDiff : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void sameConfiguration_data();
    void sameConfiguration();
    void differentProjects_data();
    void differentProjects();
    void projectAgainstAnotherFirmware();
    void json();
    void errors_data();
    void errors();
    void warningsDoNotStopTheComparison();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestCliDiff::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A project compiled into its bank and merged into a firmware, and a copy of the project.
    ProjectContent content = hiding(0x400, 0x7FF);
    content.parameters.Ser_Par = 1;
    writeProject(path(QStringLiteral("alpha")), content);
    writeProject(path(QStringLiteral("copy")), content);
    QVERIFY(QDir().mkpath(path(QStringLiteral("MASTER"))));
    quillner::writeSyntheticFirmware(path(QStringLiteral("MASTER/SX51804.sx")), 0x380000, 0x390000,
                                     32, "QUILLNER TEST FIRMWARE");
    const Run update =
        cli({QStringLiteral("update"), path(QStringLiteral("alpha")), QStringLiteral("--master"),
             path(QStringLiteral("MASTER")), QStringLiteral("--home"), m_dir.path()});
    QVERIFY2(update.exitCode == 0, qPrintable(update.err));
    QVERIFY(writeFile(path(QStringLiteral("broken/pargen.xml")), "<General_Parameter>"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("empty1"))));
    QVERIFY(QDir().mkpath(path(QStringLiteral("empty2"))));
}

void TestCliDiff::sameConfiguration_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::newRow("project, its copy") << "alpha"
                                       << "copy";
    QTest::newRow("project, its bank") << "alpha"
                                       << "alpha/bin/bank1.bin";
    QTest::newRow("bank, merged firmware") << "alpha/bin/bank1.bin"
                                           << "alpha/New_SX51804.sx";
    QTest::newRow("copy, merged firmware") << "copy"
                                           << "alpha/New_SX51804.sx";
}

void TestCliDiff::sameConfiguration()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    const Run run = cli({QStringLiteral("diff"), path(a), path(b)});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out, QString());
    QCOMPARE(run.exitCode, 0);
}

void TestCliDiff::differentProjects_data()
{
    QTest::addColumn<ProjectContent>("a");
    QTest::addColumn<ProjectContent>("b");
    QTest::addColumn<QString>("expected");

    ProjectContent slower;
    slower.parameters.Ser_Baud = 3;
    slower.parameters.Can_Enable_RTR = true;
    QTest::newRow("settings")
        << ProjectContent{} << slower
        << QStringLiteral("serial.baud: A 115200 bit/s, B 9600 bit/s\ncan.rtr: A off, B on\n");
    QTest::newRow("2.0A ranges") << hiding(0x400, 0x7FF) << hiding(0x500, 0x7FF)
                                 << QStringLiteral("filter: 0x400-0x4FF passed by B only\n");
    QTest::newRow("2.0A ranges on both sides")
        << hiding(0x10, 0x1F) << hiding(0x18, 0x2F)
        << QStringLiteral("filter: 0x20-0x2F passed by A only\n"
                          "filter: 0x10-0x17 passed by B only\n");
    QTest::newRow("filter kinds") << ProjectContent{} << list({QStringLiteral("1")})
                                  << QStringLiteral("can.format: A 2.0A, B 2.0B\n"
                                                    "filter kind: A 2.0A, B 2.0B list\n");
    QTest::newRow("2.0B list and mask")
        << list({QStringLiteral("1")}) << mask({kPattern1})
        << QStringLiteral("filter kind: A 2.0B list, B 2.0B mask\n");
    QTest::newRow("2.0B lists")
        << list({QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("2")})
        << list({QStringLiteral("$2"), QStringLiteral("3"), QStringLiteral("4"),
                 QStringLiteral("5")})
        << QStringLiteral("filter: 0x1 listed by A only\nfilter: 0x4-0x5 listed by B only\n");
    QTest::newRow("2.0B list types")
        << list({QStringLiteral("1")}, true) << list({QStringLiteral("1")}, false)
        << QStringLiteral("filter type: A positive, B negative\n");
    QTest::newRow("2.0B patterns")
        << mask({kPattern1, kPattern2}) << mask({kPattern3, kPattern1})
        << QStringLiteral("filter: pattern %1 in A only\nfilter: pattern %2 in B only\n")
               .arg(kPattern2, kPattern3);
    QTest::newRow("2.0B patterns in another order")
        << mask({kPattern1, kPattern2}) << mask({kPattern2, kPattern1}) << QString();
}

void TestCliDiff::differentProjects()
{
    QFETCH(ProjectContent, a);
    QFETCH(ProjectContent, b);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    writeProject(folder.filePath(QStringLiteral("a")), a);
    writeProject(folder.filePath(QStringLiteral("b")), b);
    const Run run = cli({QStringLiteral("diff"), folder.filePath(QStringLiteral("a")),
                         folder.filePath(QStringLiteral("b"))});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out, expected);
    QCOMPARE(run.exitCode, expected.isEmpty() ? 0 : 1);
}

void TestCliDiff::projectAgainstAnotherFirmware()
{
    QTemporaryDir folder;
    writeProject(folder.filePath(QStringLiteral("b")), hiding(0x400, 0x6FF));
    const Run run = cli({QStringLiteral("diff"), path(QStringLiteral("alpha/New_SX51804.sx")),
                         folder.filePath(QStringLiteral("b"))});
    QCOMPARE(run.out, QStringLiteral("serial.parity: A odd, B none\n"
                                     "filter: 0x700-0x7FF passed by B only\n"));
    QCOMPARE(run.exitCode, 1);
}

void TestCliDiff::json()
{
    QTemporaryDir folder;
    ProjectContent b = hiding(0x400, 0x6FF);
    b.parameters.Can_Baud = 8;
    writeProject(folder.filePath(QStringLiteral("b")), b);
    const Run run = cli({QStringLiteral("diff"), path(QStringLiteral("alpha/bin/bank1.bin")),
                         folder.filePath(QStringLiteral("b")), QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 1);
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.value(QStringLiteral("schema")).toInt(), 1);
    QCOMPARE(object.value(QStringLiteral("same")).toBool(true), false);
    const QJsonArray settings{QJsonObject{{QStringLiteral("name"), QStringLiteral("serial.parity")},
                                          {QStringLiteral("a"), QStringLiteral("odd")},
                                          {QStringLiteral("b"), QStringLiteral("none")}},
                              QJsonObject{{QStringLiteral("name"), QStringLiteral("can.baud")},
                                          {QStringLiteral("a"), QStringLiteral("250")},
                                          {QStringLiteral("b"), QStringLiteral("1000")}}};
    QCOMPARE(object.value(QStringLiteral("settings")).toArray(), settings);
    const QJsonObject side{{QStringLiteral("kind"), QStringLiteral("2.0A")},
                           {QStringLiteral("function"), QStringLiteral("pass")}};
    const QJsonObject filter{
        {QStringLiteral("same"), false},
        {QStringLiteral("a"), side},
        {QStringLiteral("b"), side},
        {QStringLiteral("onlyA"), QJsonArray{}},
        {QStringLiteral("onlyB"), QJsonArray{QJsonObject{{QStringLiteral("first"), 0x700},
                                                         {QStringLiteral("last"), 0x7FF}}}},
        {QStringLiteral("patternsOnlyA"), QJsonArray{}},
        {QStringLiteral("patternsOnlyB"), QJsonArray{}}};
    QCOMPARE(object.value(QStringLiteral("filter")).toObject(), filter);
    // A side is named as show --json names the same configuration.
    const QJsonObject shown =
        QJsonDocument::fromJson(cli({QStringLiteral("show"), folder.filePath(QStringLiteral("b")),
                                     QStringLiteral("--json")})
                                    .out.toUtf8())
            .object()
            .value(QStringLiteral("filter"))
            .toObject();
    for (const QString& key : side.keys())
        QCOMPARE(shown.value(key), side.value(key));

    const Run same = cli({QStringLiteral("diff"), path(QStringLiteral("alpha")),
                          path(QStringLiteral("copy")), QStringLiteral("--json")});
    QCOMPARE(same.exitCode, 0);
    const QJsonObject sameObject = QJsonDocument::fromJson(same.out.toUtf8()).object();
    QCOMPARE(sameObject.value(QStringLiteral("same")).toBool(false), true);
    QCOMPARE(sameObject.value(QStringLiteral("settings")).toArray(), QJsonArray{});
}

void TestCliDiff::errors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("one side") << QStringList{QStringLiteral("alpha")}
                              << QStringLiteral("diff takes two configurations");
    QTest::newRow("three sides") << QStringList{QStringLiteral("alpha"), QStringLiteral("copy"),
                                                QStringLiteral("copy")}
                                 << QStringLiteral("diff takes two configurations");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("alpha"), QStringLiteral("copy"), QStringLiteral("--xml")}
        << QStringLiteral("'xml'");
    QTest::newRow("missing side") << QStringList{QStringLiteral("alpha"), QStringLiteral("nothing")}
                                  << QStringLiteral("error: B (");
    QTest::newRow("unreadable project")
        << QStringList{QStringLiteral("alpha"), QStringLiteral("broken")}
        << QStringLiteral("error: B (");
    // Two folders that hold no project are not "the same configuration".
    QTest::newRow("two folders without a project")
        << QStringList{QStringLiteral("empty1"), QStringLiteral("empty2")}
        << QStringLiteral("is not a project: no pargen.xml");
    QTest::newRow("no bank") << QStringList{QStringLiteral("alpha/pargen.xml"),
                                            QStringLiteral("copy")}
                             << QStringLiteral("error: A (");
}

void TestCliDiff::errors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QStringList full{QStringLiteral("diff")};
    for (const QString& argument : arguments)
        full << (argument.startsWith(u'-') ? argument : path(argument));
    const Run run = cli(full);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(error), qPrintable(run.err));
}

// A project whose filter was never saved lets every identifier through.
void TestCliDiff::warningsDoNotStopTheComparison()
{
    QTemporaryDir folder;
    quillner::saveGeneralParameters(folder.filePath(QStringLiteral("pargen.xml")),
                                    quillner::GeneralParameters{});
    writeProject(folder.filePath(QStringLiteral("saved")), ProjectContent{});
    const Run run =
        cli({QStringLiteral("diff"), folder.path(), folder.filePath(QStringLiteral("saved"))});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith(QStringLiteral("warning: A (")) &&
                 run.err.contains(QStringLiteral("Filter20A.xml")),
             qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCliDiff)
#include "tst_cli_diff.moc"
