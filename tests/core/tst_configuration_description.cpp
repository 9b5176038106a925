#include "core/app/error.h"
#include "core/bank/bank_files.h"
#include "core/bank/configuration_description.h"
#include "core/device/bank_records.h"
#include "core/device/settings.h"
#include "core/device/srec_record.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/firmware/srec_merge.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

#include <optional>

using namespace quillner;
using quillner::testing::writeFile;

Q_DECLARE_METATYPE(quillner::GeneralParameters)
Q_DECLARE_METATYPE(quillner::Filter20A)
Q_DECLARE_METATYPE(quillner::Filter20B)

namespace {

const QStringList kFilterKeys{"function", "identifierCount",       "identifiers",
                              "kind",     "passesEveryIdentifier", "patternCount",
                              "patterns"};

QString compact(const QJsonValue& value)
{
    return QString::fromUtf8(value.isArray()
                                 ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                 : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

QByteArray bankBytes(const ConfigurationBank& bank)
{
    return QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize);
}

// A firmware holding nothing but bank 1.
QByteArray firmwareOf(const ConfigurationBank& bank)
{
    return formatSRecord('0', 0, "QUILLNER TEST FIRMWARE - NOT FOR DEVICES") + "\r\n" +
           bankSxRecords(1, bankBytes(bank)) + formatSRecord('9', 0, {}) + "\r\n";
}

} // namespace

class TestConfigurationDescription : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void filterHasTheSameKeysForEachKind_data();
    void filterHasTheSameKeysForEachKind();
    void codesAreTheDocuments_data();
    void codesAreTheDocuments();
    void aByteNoCodeGivesIsNullWithAProblem();
    void projectProblemsAreTheCompiles();
    void loadTellsTheSource();
    void textNamesTheSourceFirst();

private:
    QString projectFile(const QString& name) const { return QDir(m_project).filePath(name); }
    // The project's documents, compiled into bin/bank1.bin too.
    void writeProject(const GeneralParameters& parameters, const Filter20A& filter20A,
                      const Filter20B& filter20B) const;

    std::optional<QTemporaryDir> m_dir;
    QString m_project;
};

void TestConfigurationDescription::init()
{
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    m_project = QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("Alpha")));
    QVERIFY(QDir().mkpath(projectFile(QStringLiteral("bin"))));
}

void TestConfigurationDescription::writeProject(const GeneralParameters& parameters,
                                                const Filter20A& filter20A,
                                                const Filter20B& filter20B) const
{
    saveGeneralParameters(projectFile(QStringLiteral("pargen.xml")), parameters);
    saveFilter20A(projectFile(QStringLiteral("Filter20A.xml")), filter20A);
    saveFilter20B(projectFile(QStringLiteral("Filter20B.xml")), filter20B);
    SaveBankBinary(m_project, describeProject(m_project).value.bank);
}

void TestConfigurationDescription::filterHasTheSameKeysForEachKind_data()
{
    QTest::addColumn<bool>("canTypeB");
    QTest::addColumn<Filter20A>("filter20A");
    QTest::addColumn<Filter20B>("filter20B");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("function"); // empty for null
    QTest::addColumn<QString>("identifiers");
    QTest::addColumn<int>("identifierCount");
    QTest::addColumn<QString>("patterns");

    Filter20A hidden;
    hidden.IdVisible[5] = 0;
    hidden.IdVisible[6] = 0;
    hidden.IdVisible[2047] = 0;
    Filter20B positive;
    positive.cobIds = QStringList{"1", "2", "3", "$1FFFFFFF", "2"};
    Filter20B negative;
    negative.typePositive = false;
    negative.cobIds = QStringList{"291"};
    Filter20B mask;
    mask.cobIdFilter = false;
    mask.patterns = QStringList{"0000000000000000000111xxx1010"};
    Filter20B noPatterns;
    noPatterns.cobIdFilter = false;

    QTest::newRow("2.0A, all visible") << false << Filter20A{} << Filter20B{} << "2.0A"
                                       << "pass"
                                       << R"([{"first":0,"last":2047}])" << 2048 << "[]";
    QTest::newRow("2.0A, some hidden")
        << false << hidden << Filter20B{} << "2.0A"
        << "pass"
        << R"([{"first":0,"last":4},{"first":7,"last":2046}])" << 2045 << "[]";
    QTest::newRow("2.0B list, positive")
        << true << Filter20A{} << positive << "2.0B list"
        << "positive"
        << R"([{"first":1,"last":3},{"first":536870911,"last":536870911},{"first":2,"last":2}])"
        << 5 << "[]";
    QTest::newRow("2.0B list, negative") << true << Filter20A{} << negative << "2.0B list"
                                         << "negative"
                                         << R"([{"first":291,"last":291}])" << 1 << "[]";
    QTest::newRow("2.0B mask")
        << true << Filter20A{} << mask << "2.0B mask"
        << "pass"
        << "[]" << 0
        << R"([{"nonZeroBits":1018,"oneBits":906,"pattern":"0000000000000000000111xxx1010"}])";
    // No pattern puts no filter word into the bank: the device has no 2.0B filter then.
    QTest::newRow("2.0B mask, no patterns") << true << Filter20A{} << noPatterns << "2.0B none"
                                            << "pass"
                                            << "[]" << 0 << "[]";
}

// Each kind of filter is described with the same keys, so that a script reads any of them
// alike; the bank image and the firmware describe it as the project does.
void TestConfigurationDescription::filterHasTheSameKeysForEachKind()
{
    QFETCH(bool, canTypeB);
    QFETCH(Filter20A, filter20A);
    QFETCH(Filter20B, filter20B);
    GeneralParameters parameters;
    parameters.canTypeB = canTypeB;
    writeProject(parameters, filter20A, filter20B);
    const QString bank = projectFile(QStringLiteral("bin/bank1.bin"));
    const QString firmware = projectFile(QStringLiteral("New_SX51804.sx"));
    QVERIFY(writeFile(firmware, firmwareOf(loadConfiguration(bank).value.bank)));

    for (const QString& path : {m_project, bank, firmware}) {
        const QJsonObject json = configurationDescriptionJson(loadConfiguration(path).value);
        const QJsonObject filter = json[QStringLiteral("filter")].toObject();
        QCOMPARE(filter.keys(), kFilterKeys);
        QTEST(filter[QStringLiteral("kind")].toString(), "kind");
        QTEST(filter[QStringLiteral("function")].toString(), "function");
        QTEST(compact(filter[QStringLiteral("identifiers")]), "identifiers");
        QTEST(filter[QStringLiteral("identifierCount")].toInt(), "identifierCount");
        QTEST(compact(filter[QStringLiteral("patterns")]), "patterns");
        QCOMPARE(filter[QStringLiteral("patternCount")].toInt(),
                 int(filter[QStringLiteral("patterns")].toArray().size()));
        QCOMPARE(json.keys(), QStringList({"filter", "problems", "schema", "settings", "source"}));
        QCOMPARE(json[QStringLiteral("schema")].toInt(), 1);
    }
}

void TestConfigurationDescription::codesAreTheDocuments_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    for (const Setting setting : allSettings()) {
        for (const QString& value : settingValues(setting)) {
            const QString key = settingName(setting);
            QTest::addRow("%s=%s", qPrintable(key), qPrintable(value)) << key << value;
        }
    }
}

// Every value of every setting: the code is the one pargen.xml holds, for the project and for
// the bank compiled from it alike, and the value is the one in units.
void TestConfigurationDescription::codesAreTheDocuments()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const GeneralParameters parameters = withSettings({}, {key + u'=' + value});
    writeProject(parameters, Filter20A{}, Filter20B{});
    const Setting setting = wholeValue(requireSetting(key));
    const int documentCode = settingCode(parameters, setting);

    for (const QString& path : {m_project, projectFile(QStringLiteral("bin/bank1.bin"))}) {
        const ConfigurationDescription configuration = loadConfiguration(path).value;
        QCOMPARE(configurationSettingCode(configuration, setting), documentCode);
        QCOMPARE(configurationSettingValue(configuration, setting), value);
        const QJsonObject json = configurationDescriptionJson(configuration);
        const QJsonObject entry = json[QStringLiteral("settings")][key].toObject();
        QCOMPARE(entry[QStringLiteral("code")].toInt(-1), documentCode);
        const QString unit = settingUnit(setting);
        if (unit.isEmpty()) {
            QCOMPARE(entry[QStringLiteral("value")].toString(), value);
            QCOMPARE(entry.keys(), QStringList({"code", "value"}));
        } else {
            QCOMPARE(entry[QStringLiteral("value")].toInt(), value.toInt());
            QCOMPARE(entry[QStringLiteral("unit")].toString(), unit);
        }
        // get KEY --json: that setting alone.
        const QJsonObject one = configurationSettingJson(configuration, setting);
        QCOMPARE(one[QStringLiteral("settings")].toObject().keys(), QStringList{key});
        QCOMPARE(one[QStringLiteral("settings")][key].toObject(), entry);
        QCOMPARE(one[QStringLiteral("schema")].toInt(), 1);
    }
}

void TestConfigurationDescription::aByteNoCodeGivesIsNullWithAProblem()
{
    writeProject({}, Filter20A{}, Filter20B{});
    ConfigurationBank bank = describeProject(m_project).value.bank;
    bank[kCanBaudOffset] = 42;
    bank[kRemoteFramesOffset] = 2;
    const QString path = projectFile(QStringLiteral("odd.bin"));
    QVERIFY(writeFile(path, bankBytes(bank)));
    const ConfigurationDescription configuration = loadConfiguration(path).value;
    QCOMPARE(configuration.description.canBaudCode, 42);
    QCOMPARE(configurationSettingCode(configuration, Setting::CanBaud), std::nullopt);
    const QJsonObject json = configurationDescriptionJson(configuration);
    const QJsonObject canBaud =
        json[QStringLiteral("settings")][QStringLiteral("can.baud")].toObject();
    QVERIFY(canBaud[QStringLiteral("value")].isNull());
    QVERIFY(canBaud[QStringLiteral("code")].isNull());
    QCOMPARE(canBaud[QStringLiteral("unit")].toString(), QStringLiteral("kbit/s"));
    QVERIFY(json[QStringLiteral("settings")][QStringLiteral("can.rtr")][QStringLiteral("value")]
                .isNull());

    // The problems are the bank's, in order, each with its parts.
    QCOMPARE(problemLines(configuration.problems),
             QStringList({"offset 3 (CAN baud rate): unknown baud code 42",
                          "offset 4 (remote frames): code 2 is neither 0 nor 1"}));
    const QJsonArray problems = json[QStringLiteral("problems")].toArray();
    QCOMPARE(problems.size(), configuration.problems.size());
    for (qsizetype i = 0; i < problems.size(); ++i) {
        const Problem problem{problems[i][QStringLiteral("file")].toString(),
                              problems[i][QStringLiteral("location")].toString(),
                              problems[i][QStringLiteral("text")].toString()};
        QCOMPARE(problem, configuration.problems[i]);
    }
}

// For a project, the unreadable documents first and then the warnings, as the compile gives them.
void TestConfigurationDescription::projectProblemsAreTheCompiles()
{
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par>"
                      "<Can_Type>0</Can_Type><Can_Baud>-1</Can_Baud>"
                      "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n"));
    QVERIFY(writeFile(projectFile(QStringLiteral("Filter20A.xml")), "<Filter20A><filter>"));
    const ConfigurationDescription configuration = describeProject(m_project).value;
    const CompiledBank compiled = CompileBank(projectFile(QStringLiteral("pargen.xml")),
                                              projectFile(QStringLiteral("Filter20A.xml")),
                                              projectFile(QStringLiteral("Filter20B.xml")));
    QVERIFY(!compiled.problems.isEmpty());
    QVERIFY(!compiled.warnings.isEmpty());
    QCOMPARE(configuration.unreadable, compiled.problems);
    QCOMPARE(configuration.problems, compiled.problems + compiled.warnings);
    QCOMPARE(
        configurationDescriptionJson(configuration)[QStringLiteral("problems")].toArray().size(),
        configuration.problems.size());
}

void TestConfigurationDescription::loadTellsTheSource()
{
    writeProject({}, Filter20A{}, Filter20B{});
    const QString bank = projectFile(QStringLiteral("bin/bank1.bin"));
    const QString firmware = projectFile(QStringLiteral("New_SX51804.sx"));
    QVERIFY(writeFile(firmware, firmwareOf(loadConfiguration(bank).value.bank)));
    const QList<QPair<QString, QString>> sources{
        {m_project, "project"}, {bank, "bank"}, {firmware, "firmware"}};
    for (const auto& [path, kind] : sources) {
        const ConfigurationDescription configuration = loadConfiguration(path).value;
        QCOMPARE(configurationKindName(configuration.kind), kind);
        QCOMPARE(configuration.path, path);
        const QJsonObject source = configurationDescriptionJson(configuration)["source"].toObject();
        QCOMPARE(source, QJsonObject({{"kind", kind}, {"path", path}}));
    }
    // A relative path is shown as the absolute one.
    QCOMPARE(loadConfiguration(QDir(QDir::currentPath()).relativeFilePath(bank)).value.path, bank);

    // An erased bank describes nothing.
    const QString erased = projectFile(QStringLiteral("erased.bin"));
    QVERIFY(writeFile(erased, QByteArray(kBankSize, char(0xFF))));
    const Result<ConfigurationDescription> erasedRead = loadConfiguration(erased);
    QVERIFY2(!erasedRead.whole(), "an erased bank was described");
    QCOMPARE(erasedRead.problems.first().text, erasedBankText(1));
}

void TestConfigurationDescription::textNamesTheSourceFirst()
{
    writeProject({}, Filter20A{}, Filter20B{});
    const QString bank = projectFile(QStringLiteral("bin/bank1.bin"));
    const ConfigurationDescription project = loadConfiguration(m_project).value;
    QCOMPARE(configurationDescriptionText(project), QStringLiteral("Project: ") + m_project +
                                                        u'\n' +
                                                        bankDescriptionText(project.description));
    QVERIFY(configurationDescriptionText(loadConfiguration(bank).value)
                .startsWith(QStringLiteral("Bank image: ") + bank +
                            QStringLiteral("\nSerial line: 115200 bit/s, parity none\n")));
}

QTEST_GUILESS_MAIN(TestConfigurationDescription)
#include "tst_configuration_description.moc"
