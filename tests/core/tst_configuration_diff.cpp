#include "core/bank/configuration_description.h"
#include "core/bank/configuration_diff.h"
#include "core/documents/general_parameters.h"

#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;

namespace {

// A 2.0A bank with every identifier visible, as a fresh project compiles.
ConfigurationBank openBank()
{
    ConfigurationBank bank{};
    bank[kSerialBaudOffset] = 7;
    bank[kCanBaudOffset] = 6;
    for (int offset = 0; offset < kBitmapBytes; ++offset)
        bank[size_t(kFilterAreaOffset + offset)] = 0xFF;
    return bank;
}

void putWord(ConfigurationBank& bank, int index, quint32 word)
{
    for (int byte = 0; byte < 4; ++byte)
        bank[size_t(kFilterAreaOffset + 4 * index + byte)] = quint8(word >> (8 * byte));
}

// A 2.0B identifier list of 1, 2, ... count.
ConfigurationBank listBank(int count)
{
    ConfigurationBank bank = openBank();
    bank[kCanTypeOffset] = 1;
    std::fill(bank.begin() + kFilterAreaOffset, bank.end(), quint8(0));
    bank[kFilterPresentOffset] = 1;
    bank[kFilterModeOffset] = 1;
    bank[kListFunctionOffset] = 1;
    bank[kEntryCountOffset] = quint8(count);
    for (int i = 0; i < count; ++i)
        putWord(bank, i, quint32(i + 1));
    return bank;
}

QByteArray bytesOf(const ConfigurationBank& bank)
{
    return QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize);
}

} // namespace

// Two configurations compared as the device reads them.
class TestConfigurationDiff : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sameBanks();
    void bytesNoValueCompilesTo();
    void whatTheDeviceDoesNotReadIsNotCompared();
    void identifierRanges();
    void loadsFoldersAndFiles();
};

void TestConfigurationDiff::sameBanks()
{
    const ConfigurationDiff diff = compareConfigurations(openBank(), openBank());
    QVERIFY(diff.same());
    QCOMPARE(configurationDiffText(diff), QString());
    QCOMPARE(configurationDiffJson(diff).value(QStringLiteral("same")).toBool(), true);
}

void TestConfigurationDiff::bytesNoValueCompilesTo()
{
    ConfigurationBank b = openBank();
    b[kSerialBaudOffset] = 9;
    b[kParityOffset] = 2;
    const ConfigurationDiff diff = compareConfigurations(openBank(), b);
    QCOMPARE(configurationDiffText(diff), QStringLiteral("serial.baud: A 115200 bit/s, B byte 9\n"
                                                         "serial.parity: A none, B byte 2\n"));
    QCOMPARE(bankSettingValue(b, Setting::CanBaud), QStringLiteral("250"));
}

void TestConfigurationDiff::whatTheDeviceDoesNotReadIsNotCompared()
{
    // Reserved bytes, and list entries past the 65 words the device reads.
    ConfigurationBank a = listBank(70);
    ConfigurationBank b = listBank(70);
    putWord(b, 68, 0x1234);
    b[200 + 4 * kFilterWordCount] = 0x55;
    b[20] = 1;
    QVERIFY(compareConfigurations(a, b).same());
    putWord(b, 64, 0x1234);
    QCOMPARE(configurationDiffText(compareConfigurations(a, b)),
             QStringLiteral("filter: 0x41 listed by A only\nfilter: 0x1234 listed by B only\n"));
}

void TestConfigurationDiff::identifierRanges()
{
    ConfigurationBank b = openBank();
    b[kFilterAreaOffset] = 0xF0;                    // 0 to 3 hidden
    b[kFilterAreaOffset + kBitmapBytes - 1] = 0x7F; // 0x7FF hidden
    const ConfigurationDiff diff = compareConfigurations(openBank(), b);
    QCOMPARE(diff.onlyA, (QList<IdRange>{{0, 3}, {0x7FF, 0x7FF}}));
    QVERIFY(diff.onlyB.isEmpty());
    QVERIFY(!diff.same());
}

void TestConfigurationDiff::loadsFoldersAndFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A project without a filter document: every identifier visible, with the compile's warning.
    saveGeneralParameters(dir.filePath(QStringLiteral("pargen.xml")), GeneralParameters{});
    const ConfigurationDescription project = loadConfiguration(dir.path()).value;
    QCOMPARE(project.bank, openBank());
    QVERIFY(project.unreadable.isEmpty());
    QCOMPARE(project.problems.size(), 1);
    QCOMPARE(project.problems.front().file, QStringLiteral("Filter20A.xml"));
    QVERIFY(testing::writeFile(dir.filePath(QStringLiteral("Filter20A.xml")), "<Filter20A>"));
    QCOMPARE(loadConfiguration(dir.path()).value.unreadable.size(), 1);

    const QString bankPath = dir.filePath(QStringLiteral("bank1.bin"));
    QVERIFY(testing::writeFile(bankPath, bytesOf(openBank())));
    const ConfigurationDescription bank = loadConfiguration(bankPath).value;
    QCOMPARE(bank.bank, openBank());
    QVERIFY(bank.unreadable.isEmpty() && bank.problems.isEmpty());

    // An erased bank describes no configuration.
    ConfigurationBank erased;
    erased.fill(0xFF);
    QVERIFY(testing::writeFile(bankPath, bytesOf(erased)));
    QCOMPARE(problemLines(loadConfiguration(bankPath).problems), QStringList{erasedBankText(1)});

    QCOMPARE(loadConfiguration(dir.filePath(QStringLiteral("pargen.xml"))).problems.size(), 1);
}

QTEST_GUILESS_MAIN(TestConfigurationDiff)
#include "tst_configuration_diff.moc"
