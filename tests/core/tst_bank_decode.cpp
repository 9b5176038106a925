#include "core/app/error.h"
#include "core/bank/bank_decode.h"
#include "core/bank/bank_description.h"
#include "core/bank/configuration_description.h"
#include "core/device/srec_record.h"
#include "core/firmware/srec_merge.h"
#include "support/synthetic_firmware.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

using ByteSettings = QList<QPair<int, int>>; // offset, value

// The bank of a new 2.0A project: 115200 bit/s, no parity, 250 kbit/s, all identifiers visible.
ConfigurationBank defaultBank()
{
    ConfigurationBank bank{};
    bank[0] = 7;
    bank[3] = 6;
    for (int offset = 100; offset < 356; ++offset)
        bank[size_t(offset)] = 0xFF;
    return bank;
}

ConfigurationBank bankWith(const ByteSettings& settings)
{
    ConfigurationBank bank = defaultBank();
    for (const auto& [offset, value] : settings)
        bank[size_t(offset)] = quint8(value);
    return bank;
}

void putWord(ByteSettings& settings, int index, quint32 word)
{
    for (int i = 0; i < 4; ++i)
        settings.append({100 + 4 * index + i, int(word >> (8 * i) & 0xFF)});
}

ByteSettings list20B(quint8 function, const QList<quint32>& identifiers)
{
    ByteSettings settings{{2, 1},
                          {10, identifiers.isEmpty() ? 0 : 1},
                          {11, 1},
                          {12, function},
                          {13, int(identifiers.size())}};
    for (int offset = 100; offset < 356; ++offset)
        settings.append({offset, 0});
    for (int i = 0; i < identifiers.size(); ++i)
        putWord(settings, i, identifiers[i]);
    return settings;
}

ByteSettings mask20B(const QList<QPair<quint32, quint32>>& pairs)
{
    ByteSettings settings{
        {2, 1}, {10, pairs.isEmpty() ? 0 : 1}, {11, 0}, {12, 0}, {13, int(pairs.size())}};
    for (int offset = 100; offset < 356; ++offset)
        settings.append({offset, 0});
    for (int k = 0; k < pairs.size(); ++k) {
        putWord(settings, 2 * k, pairs[k].first);
        putWord(settings, 2 * k + 1, pairs[k].second);
    }
    return settings;
}

ByteSettings hidden20A(const QList<int>& identifiers)
{
    QByteArray bitmap(256, char(0xFF));
    for (const int id : identifiers)
        bitmap[id / 8] = char(quint8(bitmap[id / 8]) & ~(1 << (id % 8)));
    ByteSettings settings;
    for (int i = 0; i < 256; ++i)
        settings.append({100 + i, quint8(bitmap[i])});
    return settings;
}

QByteArray bankBytes(const ConfigurationBank& bank)
{
    return QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize);
}

// A firmware with code around bank 1, with the bank's own records holding the given bank.
QByteArray firmwareAroundBank(const ConfigurationBank& bank)
{
    QByteArray text = formatSRecord('0', 0, "QUILLNER DEMO FIRMWARE - NOT FOR DEVICES") + "\r\n";
    for (quint32 address = 0x387F00; address < 0x388000; address += 32)
        text += formatSRecord('2', address, QByteArray(32, char(0x5A))) + "\r\n";
    text += bankSxRecords(1, bankBytes(bank));
    for (quint32 address = 0x38C000; address < 0x38C100; address += 32)
        text += formatSRecord('2', address, QByteArray(32, char(0xA5))) + "\r\n";
    text += formatSRecord('9', 0, {}) + "\r\n";
    return text;
}

} // namespace

class TestBankDecode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void describesTheDefaultBankInFull();
    void describesEachSetting_data();
    void describesEachSetting();
    void jsonCarriesTheSameDescription();
    void readsABankImage();
    void readsBankOneBackFromAMergedFirmware();
    void readsTheBankFromEveryDataRecordType();
    void acceptsLowerCaseDigitsAndBareLineFeeds();
    void refusesAFaultyFile_data();
    void refusesAFaultyFile();
    void findsWhetherTheBankIsInAFirmware();
    void listsWhatNoWindowWrites();

private:
    QTemporaryDir m_dir;
};

void TestBankDecode::describesTheDefaultBankInFull()
{
    QCOMPARE(bankDescriptionText(describeBank(defaultBank())),
             QStringLiteral("Serial line: 115200 bit/s, parity none\n"
                            "CAN frame format: 2.0A (11-bit identifiers)\n"
                            "CAN baud rate: 250 kbit/s\n"
                            "Remote frames: off\n"
                            "Filter: 2.0A, all 2048 identifiers visible\n"));
}

void TestBankDecode::describesEachSetting_data()
{
    QTest::addColumn<ByteSettings>("settings");
    QTest::addColumn<QStringList>("expectedLines");

    QTest::newRow("parity odd") << ByteSettings{{1, 3}}
                                << QStringList{"Serial line: 115200 bit/s, parity odd"};
    QTest::newRow("parity even") << ByteSettings{{1, 1}}
                                 << QStringList{"Serial line: 115200 bit/s, parity even"};
    QTest::newRow("parity code no window writes")
        << ByteSettings{{1, 2}}
        << QStringList{"Serial line: 115200 bit/s, parity unknown (code 2)"};
    QTest::newRow("slowest serial baud")
        << ByteSettings{{0, 0}} << QStringList{"Serial line: 1200 bit/s, parity none"};
    QTest::newRow("serial baud outside the list")
        << ByteSettings{{0, 44}}
        << QStringList{"Serial line: unknown baud rate (code 44), parity none"};
    QTest::newRow("fastest CAN baud")
        << ByteSettings{{3, 9}} << QStringList{"CAN baud rate: 1000 kbit/s"};
    QTest::newRow("CAN baud list without selection")
        << ByteSettings{{3, 0}} << QStringList{"CAN baud rate: unknown (code 0)"};
    QTest::newRow("remote frames on") << ByteSettings{{4, 1}} << QStringList{"Remote frames: on"};
    QTest::newRow("hidden identifiers as ranges")
        << hidden20A({0, 1, 2, 0x123, 0x7FF})
        << QStringList{"Filter: 2.0A, 2043 of 2048 identifiers visible",
                       "Hidden identifiers: 0x0000-0x0002, 0x0123, 0x07FF"};
    QList<int> everyIdentifier;
    for (int id = 0; id < kStandardIdCount; ++id)
        everyIdentifier.append(id);
    QTest::newRow("every identifier hidden")
        << hidden20A(everyIdentifier)
        << QStringList{"Filter: 2.0A, 0 of 2048 identifiers visible",
                       "Hidden identifiers: 0x0000-0x07FF"};
    QTest::newRow("2.0B identifier list")
        << list20B(1, {291, 0x1FFFFFFF})
        << QStringList{"CAN frame format: 2.0B (29-bit identifiers)",
                       "Filter: 2.0B identifier list, type positive, 2 identifiers",
                       "Identifier: 0x00000123 (291)", "Identifier: 0x1FFFFFFF (536870911)"};
    QTest::newRow("2.0B negative list of one")
        << list20B(0, {7})
        << QStringList{"Filter: 2.0B identifier list, type negative, 1 identifier",
                       "Identifier: 0x00000007 (7)"};
    QTest::newRow("2.0B mask patterns")
        << mask20B({{1018, 906}, {0, 0}})
        << QStringList{"Filter: 2.0B mask, 2 patterns", "Pattern: 0000000000000000000111xxx1010",
                       "Pattern: 00000000000000000000000000000"};
    QTest::newRow("2.0B without filter document")
        << mask20B({}) << QStringList{"Filter: 2.0B, none: every extended frame passes"};
    QTest::newRow("reserved byte set") << ByteSettings{{5, 1}, {400, 2}}
                                       << QStringList{"Reserved bytes not zero at offsets: 5, 400"};
}

void TestBankDecode::describesEachSetting()
{
    QFETCH(ByteSettings, settings);
    QFETCH(QStringList, expectedLines);
    const QStringList lines = bankDescriptionText(describeBank(bankWith(settings))).split(u'\n');
    for (const QString& expected : expectedLines)
        QVERIFY2(lines.contains(expected), qPrintable(expected + u'\n' + lines.join(u'\n')));
}

void TestBankDecode::jsonCarriesTheSameDescription()
{
    const auto json = [](const ConfigurationBank& bank) {
        return configurationDescriptionJson(
            describeBankOf(ConfigurationKind::Bank, QStringLiteral("bank1.bin"), bank).value);
    };
    const QJsonObject standard = json(bankWith(hidden20A({5, 6})));
    QCOMPARE(standard["settings"]["serial.baud"]["value"].toInt(), 115200);
    QCOMPARE(standard["settings"]["serial.parity"]["value"].toString(), QStringLiteral("none"));
    QCOMPARE(standard["settings"]["can.format"]["value"].toString(), QStringLiteral("2.0A"));
    QCOMPARE(standard["settings"]["can.baud"]["value"].toInt(), 250);
    QCOMPARE(standard["settings"]["can.rtr"]["value"].toString(), QStringLiteral("off"));
    QCOMPARE(standard["filter"]["kind"].toString(), QStringLiteral("2.0A"));
    QCOMPARE(standard["filter"]["identifierCount"].toInt(), 2046);
    QCOMPARE(standard["filter"]["identifiers"][0]["first"].toInt(), 0);
    QCOMPARE(standard["filter"]["identifiers"][0]["last"].toInt(), 4);
    QCOMPARE(standard["filter"]["identifiers"][1]["first"].toInt(), 7);

    const QJsonObject list = json(bankWith(list20B(1, {0x1FFFFFFF})));
    QCOMPARE(list["filter"]["kind"].toString(), QStringLiteral("2.0B list"));
    QCOMPARE(list["filter"]["function"].toString(), QStringLiteral("positive"));
    QCOMPARE(list["filter"]["identifiers"][0]["first"].toInteger(), 0x1FFFFFFF);

    const QJsonObject mask = json(bankWith(mask20B({{1018, 906}})));
    QCOMPARE(mask["filter"]["patterns"][0]["pattern"].toString(),
             QStringLiteral("0000000000000000000111xxx1010"));
    QCOMPARE(mask["filter"]["patternCount"].toInt(), 1);

    const QJsonObject unknown = json(bankWith({{3, 0}}));
    QVERIFY(unknown["settings"]["can.baud"]["value"].isNull());
    QVERIFY(unknown["settings"]["can.baud"]["code"].isNull());
    QCOMPARE(unknown["problems"].toArray().size(), 1);
}

void TestBankDecode::readsABankImage()
{
    const ConfigurationBank bank = bankWith(list20B(1, {1, 2, 3}));
    const QString path = m_dir.filePath(QStringLiteral("bank1.bin"));
    QVERIFY(writeFile(path, bankBytes(bank)));
    QVERIFY(readBankFile(path).value == bank);
}

void TestBankDecode::readsBankOneBackFromAMergedFirmware()
{
    const ConfigurationBank bank = bankWith(mask20B({{1018, 906}}));
    const QString project = m_dir.filePath(QStringLiteral("merged"));
    QVERIFY(QDir().mkpath(project + QStringLiteral("/bin")));
    QVERIFY(writeFile(project + QStringLiteral("/bin/bank1.bin"), bankBytes(bank)));
    const QString firmware = m_dir.filePath(QStringLiteral("SX51804.sx"));
    writeSyntheticFirmware(firmware, 0x380000, 0x390000, 32, "QUILLNER DEMO FIRMWARE");
    QVERIFY(readBankFile(firmware).value != bank);

    MergeRequest request;
    request.firmwarePath = firmware;
    request.binFolder = project + QStringLiteral("/bin");
    request.outputFolder = project;
    request.newFileName = QStringLiteral("New_SX51804.sx");
    QCOMPARE(MergeBankSx(request).value.outcome, 1);
    const QString merged = project + QStringLiteral("/New_SX51804.sx");
    QVERIFY(readBankFile(merged).value == bank);
    QCOMPARE(bankDescriptionText(describeBank(readBankFile(merged).value)),
             bankDescriptionText(describeBank(bank)));
}

// The bank is read as the device's memory holds it: from every data record type, and a byte
// written twice alike is the same byte.
void TestBankDecode::readsTheBankFromEveryDataRecordType()
{
    const ConfigurationBank bank = bankWith({{3, 9}, {1, 3}});
    const QByteArray bytes = bankBytes(bank);
    QByteArray text = formatSRecord('0', 0, "QUILLNER DEMO FIRMWARE - NOT FOR DEVICES") + "\r\n";
    text += formatSRecord('1', 0x3880, QByteArray(16, char(0x5A))) + "\r\n";
    for (int offset = 0; offset < kBankSize; offset += 64)
        text += formatSRecord('3', 0x388000 + offset, bytes.mid(offset, 64)) + "\r\n";
    text += formatSRecord('3', 0x388000, bytes.left(8)) + "\r\n";
    text += formatSRecord('7', 0, {}) + "\r\n";
    const QString path = m_dir.filePath(QStringLiteral("s3.sx"));
    QVERIFY(writeFile(path, text));
    QVERIFY(readBankFile(path).value == bank);
}

void TestBankDecode::acceptsLowerCaseDigitsAndBareLineFeeds()
{
    const ConfigurationBank bank = bankWith({{1, 3}});
    const QByteArray text =
        firmwareAroundBank(bank).replace("\r\n", "\n").toLower().replace('s', 'S');
    const QString path = m_dir.filePath(QStringLiteral("lower.sx"));
    QVERIFY(writeFile(path, text));
    QVERIFY(readBankFile(path).value == bank);
}

void TestBankDecode::refusesAFaultyFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expectedMessage");

    const QByteArray good = firmwareAroundBank(defaultBank());
    QList<QByteArray> lines = good.split('\n');

    QByteArray wrongChecksum = good;
    const qsizetype bankLine = good.indexOf("S224388000");
    wrongChecksum[bankLine + 74] = wrongChecksum[bankLine + 74] == '0' ? '1' : '0';
    QTest::newRow("wrong checksum") << wrongChecksum << QStringLiteral("line 10: checksum 0x");

    QByteArray missing = good;
    const qsizetype second = good.indexOf("S224388020");
    missing.remove(second, 78);
    QTest::newRow("missing bank record")
        << missing
        << QStringLiteral(
               "no S2 record holds bank 1 at 0x388020-0x38803F (32 of 16384 bytes missing)");

    QTest::newRow("not hexadecimal")
        << QByteArray("S2243880G0\r\n") << QStringLiteral("line 1: 'G0' is not a hexadecimal byte");
    QTest::newRow("byte count disagrees")
        << QByteArray("S2063880000042\r\n")
        << QStringLiteral("line 1: the byte count says 6 bytes, the record holds 5");
    QTest::newRow("not a record in the middle")
        << lines[0] + '\n' + lines[1] + '\n' + lines[2] + "\nhello\r\n"
        << QStringLiteral("line 4: not an S-record");
    QTest::newRow("neither image nor firmware")
        << QByteArray("plain text\n")
        << QStringLiteral("is neither a 16384-byte bank image nor an S-record file");
    // What the device holds is unsure when two records write one of the bank's bytes apart.
    QByteArray rewritten = good;
    rewritten.insert(rewritten.indexOf("S9"),
                     formatSRecord('3', 0x388003, QByteArray(1, char(7))) + "\r\n");
    QTest::newRow("an S3 record writes a bank byte anew")
        << rewritten
        << QStringLiteral("line 530: writes 0x07 at 0x388003, which line 10 wrote 0x06");
    QTest::newRow("firmware without the bank")
        << lines.first() + "\nS9030000FC\n"
        << QStringLiteral("no S2 record holds bank 1 at 0x388000-0x38BFFF");
}

void TestBankDecode::refusesAFaultyFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedMessage);
    const QString path = m_dir.filePath(QStringLiteral("faulty.sx"));
    QVERIFY(writeFile(path, content));
    QString message;
    try {
        const Result<ConfigurationBank> read = readBankFile(path);
        QVERIFY2(!read.whole(), "the file was read");
        message = problemLines(read.problems).join(u'\n');
    } catch (const Error& error) {
        // The reader of the records throws what it refuses.
        message = error.message();
    }
    QVERIFY2(message.contains(expectedMessage), qPrintable(message));
}

void TestBankDecode::listsWhatNoWindowWrites()
{
    ConfigurationBank erased;
    erased.fill(0xFF);
    const BankDescription blank = describeBank(erased);
    QVERIFY(blank.erased);
    QCOMPARE(erasedBankText(1),
             QStringLiteral("bank 1 is erased (all 0xFF): this firmware was never configured"));

    const BankDescription good = describeBank(defaultBank());
    QVERIFY(!good.erased);
    QCOMPARE(good.problems, Problems());

    ConfigurationBank odd = defaultBank();
    odd[kCanBaudOffset] = 12;
    odd[5] = 1;
    odd[400] = 2;
    const BankDescription d = describeBank(odd);
    QVERIFY(!d.erased);
    QCOMPARE(problemLines(d.problems),
             QStringList({"offset 3 (CAN baud rate): unknown baud code 12",
                          "offset 5 (reserved): 2 reserved bytes are not zero, the first here"}));
    QCOMPARE(configurationDescriptionJson(
                 describeBankOf(ConfigurationKind::Bank, {}, odd).value)[QStringLiteral("problems")]
                 .toArray()
                 .size(),
             2);
}

void TestBankDecode::findsWhetherTheBankIsInAFirmware()
{
    const QString with = m_dir.filePath(QStringLiteral("with.sx"));
    QVERIFY(writeFile(with, firmwareAroundBank(defaultBank())));
    QCOMPARE(wholeValue(sRecordFileHasBankRecords(with)), true);
    QCOMPARE(wholeValue(sRecordFileHasBankRecords(with, 2)), false);

    const QString without = m_dir.filePath(QStringLiteral("without.sx"));
    writeSyntheticFirmware(without, 0x370000, 0x388000, 32, "NO BANK");
    QCOMPARE(wholeValue(sRecordFileHasBankRecords(without)), false);
}

QTEST_GUILESS_MAIN(TestBankDecode)
#include "tst_bank_decode.moc"
