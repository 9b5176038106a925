#include "core/app/problems.h"
#include "core/app/project_lock.h"
#include "core/device/settings.h"
#include "core/documents/general_parameters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "test_files.h"

#include <memory>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

const QByteArray kDefaultPargen =
    "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par><Can_Type>0</Can_Type>"
    "<Can_Baud>5</Can_Baud><Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n";

Run cli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

// The problems of a JSON description, each as the command line tells it on standard error.
QString problemsAsTold(const QString& json, const QString& kind)
{
    QString told;
    const QJsonArray problems = QJsonDocument::fromJson(json.toUtf8())["problems"].toArray();
    for (const QJsonValue& problem : problems) {
        told += kind + QStringLiteral(": ") +
                quillner::Problem{problem[QStringLiteral("file")].toString(),
                                  problem[QStringLiteral("location")].toString(),
                                  problem[QStringLiteral("text")].toString()}
                    .toString() +
                u'\n';
    }
    return told;
}

} // namespace

// new, set and get on a project made by new.
class TestCliSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void newMakesTheDefaultProject();
    void newRefusals_data();
    void newRefusals();
    void setAndGetEveryValue_data();
    void setAndGetEveryValue();
    void setTellsEachChange();
    void setKeepsTheTextsOfOtherSettings();
    void refusalsLeaveTheDocumentAsItWas_data();
    void refusalsLeaveTheDocumentAsItWas();
    void setWaitsForTheProjectLock();
    void getWithoutKeyIsShow();
    void getKeyAsJson();
    void jsonProblemsAreTheToldOnes();
    void decodeTakesFilesOnly();

private:
    QString projectFile(const QString& name) const { return QDir(m_project).filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_project;
};

void TestCliSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_project = m_dir->filePath(QStringLiteral("Demo Line"));
    const Run made = cli({QStringLiteral("new"), m_project});
    QCOMPARE(made.err, QString());
    QCOMPARE(made.exitCode, 0);
}

void TestCliSettings::cleanup()
{
    m_dir.reset();
}

void TestCliSettings::newMakesTheDefaultProject()
{
    QCOMPARE(entries(m_project), QStringList({"bin", "pargen.xml", "var.xml"}));
    QCOMPARE(entries(projectFile(QStringLiteral("bin"))), QStringList());
    QCOMPARE(readFile(projectFile(QStringLiteral("pargen.xml"))), kDefaultPargen);
    QCOMPARE(readFile(projectFile(QStringLiteral("var.xml"))), QByteArray("<TCP_TO_RTU/>\r\n"));

    // An empty folder becomes the project too, named with a trailing separator or not.
    const QString empty = m_dir->filePath(QStringLiteral("Empty"));
    QVERIFY(QDir().mkdir(empty));
    const Run run = cli({QStringLiteral("new"), empty + u'/'});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("Created project %1\n").arg(empty));
    QCOMPARE(entries(empty), QStringList({"bin", "pargen.xml", "var.xml"}));
}

void TestCliSettings::newRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("parent missing") << "Missing/Alpha"
                                    << "the folder %2 does not exist";
    QTest::newRow("folder with files") << "Demo Line"
                                       << "it exists and is not an empty folder";
    QTest::newRow("a file") << "Demo Line/pargen.xml"
                            << "it exists and is not an empty folder";
}

// Nothing is written when the folder is refused.
void TestCliSettings::newRefusals()
{
    QFETCH(QString, name);
    QFETCH(QString, error);
    const QString path = m_dir->filePath(name);
    const QByteArray pargen = readFile(projectFile(QStringLiteral("pargen.xml")));
    const QStringList before = entries(m_dir->path());
    const Run run = cli({QStringLiteral("new"), path});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(
        run.err,
        QStringLiteral("error: Cannot create project %1: %2\n")
            .arg(path, error.contains(u'%') ? error.arg(QFileInfo(path).absolutePath()) : error));
    QCOMPARE(entries(m_dir->path()), before);
    QCOMPARE(entries(m_project), QStringList({"bin", "pargen.xml", "var.xml"}));
    QCOMPARE(readFile(projectFile(QStringLiteral("pargen.xml"))), pargen);
}

void TestCliSettings::setAndGetEveryValue_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    for (const quillner::Setting setting : quillner::allSettings()) {
        const QString key = quillner::settingName(setting);
        for (const QString& value : quillner::settingValues(setting))
            QTest::addRow("%s=%s", qPrintable(key), qPrintable(value)) << key << value;
    }
}

// The document holds what the General Parameter window saves for the value, and get gives the
// value back in units.
void TestCliSettings::setAndGetEveryValue()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const Run set = cli({QStringLiteral("set"), m_project, key + u'=' + value});
    // A 2.0B project without a filter passes every extended frame, and is told so.
    if (key == QLatin1String("can.format") && value == QLatin1String("2.0B"))
        QVERIFY2(set.err.startsWith(QStringLiteral("warning: Filter20B.xml: no 2.0B filter that "
                                                   "holds an identifier: the device lets every "
                                                   "extended frame through")),
                 qPrintable(set.err));
    else
        QCOMPARE(set.err, QString());
    QCOMPARE(set.exitCode, 0);
    const QString expectedDocument = m_dir->filePath(QStringLiteral("expected.xml"));
    quillner::saveGeneralParameters(expectedDocument,
                                    quillner::withSettings({}, {key + u'=' + value}));
    QCOMPARE(readFile(projectFile(QStringLiteral("pargen.xml"))), readFile(expectedDocument));

    const Run get = cli({QStringLiteral("get"), m_project, key});
    QCOMPARE(get.exitCode, 0);
    QCOMPARE(get.out, value + u'\n');
}

void TestCliSettings::setTellsEachChange()
{
    const Run run = cli({QStringLiteral("set"), m_project, QStringLiteral("can.baud=125"),
                         QStringLiteral("serial.baud=9600"), QStringLiteral("serial.parity=none")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("serial.baud: 115200 -> 9600\ncan.baud: 250 -> 125\n"));

    // The same values again leave the document alone.
    const QString pargen = projectFile(QStringLiteral("pargen.xml"));
    QVERIFY(writeFile(pargen, readFile(pargen).replace("\r\n", "\n")));
    const QByteArray before = readFile(pargen);
    const Run again = cli({QStringLiteral("set"), m_project, QStringLiteral("serial.baud=9600")});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.out, QStringLiteral("Nothing changed\n"));
    QCOMPARE(readFile(pargen), before);

    // A project without pargen.xml gets one.
    QVERIFY(QFile::remove(pargen));
    const Run missing = cli({QStringLiteral("set"), m_project, QStringLiteral("can.rtr=off")});
    QCOMPARE(missing.exitCode, 0);
    QCOMPARE(readFile(pargen), kDefaultPargen);
}

// Only the named settings change: a Can_Type of 256 (CAN 2.0A to the device) stays 256 rather
// than becoming the window's 1, and a hexadecimal text stays as it was written.
void TestCliSettings::setKeepsTheTextsOfOtherSettings()
{
    const QString pargen = projectFile(QStringLiteral("pargen.xml"));
    QVERIFY(writeFile(pargen, "<General_Parameter><Ser_Baud>$7</Ser_Baud><Ser_Par>0</Ser_Par>"
                              "<Can_Type>256</Can_Type><Can_Baud>5</Can_Baud>"
                              "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n"));
    const Run run = cli({QStringLiteral("set"), m_project, QStringLiteral("can.baud=500")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("can.baud: 250 -> 500\n"));
    QCOMPARE(readFile(pargen),
             QByteArray("<General_Parameter><Ser_Baud>$7</Ser_Baud><Ser_Par>0</Ser_Par>"
                        "<Can_Type>256</Can_Type><Can_Baud>6</Can_Baud>"
                        "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n"));
    const Run format = cli({QStringLiteral("get"), m_project, QStringLiteral("can.format")});
    QCOMPARE(format.out, QStringLiteral("2.0A\n"));
}

void TestCliSettings::refusalsLeaveTheDocumentAsItWas_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QStringList>("assignments");
    QTest::addColumn<QString>("error");
    const QString valid = QStringLiteral("serial.baud=9600");
    QTest::newRow("unknown key")
        << kDefaultPargen << QStringList{valid, "serial.speed=9600"}
        << "error: unknown setting 'serial.speed'; the settings are serial.baud, serial.parity, "
           "can.format, can.baud, can.rtr\n";
    QTest::newRow("value outside the list")
        << kDefaultPargen << QStringList{valid, "can.baud=33"}
        << "error: can.baud: '33' is not a valid value; can.baud takes 10, 20, 50, 100, 125, "
           "250, 500, 800, 1000\n";
    QTest::newRow("no KEY=VALUE")
        << kDefaultPargen << QStringList{"can.rtr"}
        << "error: 'can.rtr' is no KEY=VALUE; the keys are serial.baud, serial.parity, "
           "can.format, can.baud, can.rtr\n";
    QTest::newRow("not well-formed")
        << QByteArray("<General_Parameter><Ser_Baud>7</Ser_Baud>") << QStringList{valid}
        << "pargen.xml cannot be read, so it is not rewritten";
    QTest::newRow("a field that is no integer")
        << QByteArray("<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>odd</Ser_Par>"
                      "<Can_Type>0</Can_Type><Can_Baud>5</Can_Baud>"
                      "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n")
        << QStringList{valid} << "error: pargen.xml, Ser_Par: ";
    QTest::newRow("a field missing")
        << QByteArray("<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par>"
                      "<Can_Type>0</Can_Type><Can_Baud>5</Can_Baud></General_Parameter>\r\n")
        << QStringList{valid} << "pargen.xml cannot be read, so it is not rewritten";
}

void TestCliSettings::refusalsLeaveTheDocumentAsItWas()
{
    QFETCH(QByteArray, document);
    QFETCH(QStringList, assignments);
    QFETCH(QString, error);
    const QString pargen = projectFile(QStringLiteral("pargen.xml"));
    QVERIFY(writeFile(pargen, document));
    const Run run = cli(QStringList{QStringLiteral("set"), m_project} + assignments);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith(QStringLiteral("error: ")) && run.err.contains(error),
             qPrintable(run.err));
    QCOMPARE(readFile(pargen), document);
    QCOMPARE(entries(m_project), QStringList({"bin", "pargen.xml", "var.xml"}));
}

void TestCliSettings::setWaitsForTheProjectLock()
{
    const quillner::ProjectLock lock(m_project);
    const Run run = cli({QStringLiteral("set"), m_project, QStringLiteral("can.baud=125")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("error: ") +
                                quillner::projectBusyMessage(m_project) + u'\n' +
                                quillner::projectLockPath(m_project) + u' '),
             qPrintable(run.err));
    QCOMPARE(readFile(projectFile(QStringLiteral("pargen.xml"))), kDefaultPargen);
}

void TestCliSettings::getWithoutKeyIsShow()
{
    QCOMPARE(cli({QStringLiteral("set"), m_project, QStringLiteral("can.format=2.0B")}).exitCode,
             0);
    for (const QStringList& options : {QStringList{}, QStringList{QStringLiteral("--json")}}) {
        const Run get = cli(QStringList{QStringLiteral("get"), m_project} + options);
        const Run show = cli(QStringList{QStringLiteral("show"), m_project} + options);
        QCOMPARE(get.exitCode, 0);
        QCOMPARE(get.out, show.out);
        QCOMPARE(get.err, show.err);
    }
    const Run text = cli({QStringLiteral("get"), m_project});
    QVERIFY2(text.out.startsWith(QStringLiteral("Project: %1\nSerial line: 115200 bit/s")
                                     .arg(QDir::toNativeSeparators(m_project))),
             qPrintable(text.out));
}

void TestCliSettings::getKeyAsJson()
{
    QCOMPARE(cli({QStringLiteral("set"), m_project, QStringLiteral("serial.baud=19200")}).exitCode,
             0);
    const Run run = cli({QStringLiteral("get"), m_project, QStringLiteral("serial.baud"),
                         QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(json[QStringLiteral("schema")].toInt(), 1);
    QCOMPARE(json[QStringLiteral("settings")].toObject(),
             QJsonObject(
                 {{"serial.baud", QJsonObject{{"value", 19200}, {"unit", "bit/s"}, {"code", 4}}}}));
    QCOMPARE(json[QStringLiteral("source")][QStringLiteral("kind")].toString(),
             QStringLiteral("project"));
    QVERIFY(!json.contains(QStringLiteral("filter")));

    const Run unknown = cli({QStringLiteral("get"), m_project, QStringLiteral("serial.speed")});
    QCOMPARE(unknown.exitCode, 1);
    QVERIFY(unknown.err.startsWith(QStringLiteral("error: unknown setting 'serial.speed'")));
}

// What --json lists under problems is what standard error tells, in the same order.
void TestCliSettings::jsonProblemsAreTheToldOnes()
{
    // A project: a value outside its list, a filter document not saved yet.
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par>"
                      "<Can_Type>1</Can_Type><Can_Baud>-1</Can_Baud>"
                      "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n"));
    const Run show = cli({QStringLiteral("show"), m_project, QStringLiteral("--json")});
    QCOMPARE(show.exitCode, 0);
    QCOMPARE(show.err.count(u'\n'), 2);
    QCOMPARE(problemsAsTold(show.out, QStringLiteral("warning")), show.err);
    QCOMPARE(cli({QStringLiteral("show"), m_project}).err, show.err);

    // A bank with values no window writes.
    QByteArray bank(16384, '\0');
    bank[0] = 7;
    bank[1] = 9;
    bank[3] = 42;
    const QString odd = projectFile(QStringLiteral("odd.bin"));
    QVERIFY(writeFile(odd, bank));
    const Run decode = cli({QStringLiteral("decode"), odd, QStringLiteral("--json")});
    QCOMPARE(decode.exitCode, 1);
    QCOMPARE(decode.err.count(u'\n'), 2);
    QCOMPARE(problemsAsTold(decode.out, QStringLiteral("problem")), decode.err);
    const QJsonObject settings =
        QJsonDocument::fromJson(decode.out.toUtf8())["settings"].toObject();
    QVERIFY(settings[QStringLiteral("serial.parity")][QStringLiteral("code")].isNull());
    QVERIFY(settings[QStringLiteral("can.baud")][QStringLiteral("value")].isNull());
}

// A project folder is described by show and get, which compile it as the device gets it.
void TestCliSettings::decodeTakesFilesOnly()
{
    const Run run = cli({QStringLiteral("decode"), m_project});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("error: %1 is a folder; 'quillner-cli show' describes a "
                                     "project\n")
                          .arg(m_project));
}

QTEST_GUILESS_MAIN(TestCliSettings)
#include "tst_cli_settings.moc"
