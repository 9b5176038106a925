#include "core/app/error.h"
#include "core/bank/bank_compiler.h"
#include "core/device/bank_records.h"
#include "core/device/srec_record.h"
#include "core/firmware/srec_merge.h"
#include "support/synthetic_firmware.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

const QByteArray kBankMark = "<bank>";

QByteArray s2(quint32 address, int bytes = 32, char fill = 0)
{
    return formatSRecord('2', address, QByteArray(bytes, fill));
}

QByteArray header()
{
    return formatSRecord('0', 0, "SX51804");
}
QByteArray end()
{
    return formatSRecord('9', 0, {});
}

QByteArray joinLines(const QList<QByteArray>& lines, const QByteArray& lineEnd = "\r\n")
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + lineEnd;
    return text;
}

QByteArray bankBytes(char fill = -1)
{
    QByteArray bytes(kBankSize, Qt::Uninitialized);
    for (int i = 0; i < kBankSize; ++i)
        bytes[i] = fill >= 0 ? fill : char(i * 7);
    return bytes;
}

// The merged file: the lines with CR LF, the bank's records in place of the mark.
QByteArray merged(const QList<QByteArray>& lines, int bank = 1)
{
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line == kBankMark ? bankSxRecords(bank, bankBytes()) : line + "\r\n";
    return text;
}

qint64 lineCount(const QByteArray& text)
{
    if (text.isEmpty())
        return 0;
    return text.count('\n') + (text.endsWith('\n') ? 0 : 1);
}

// MASTER/SX51804.sx, a project folder with its bin folder and bank1.bin.
struct Fixture
{
    QTemporaryDir root;
    QString master = root.filePath("MASTER");
    QString project = root.filePath("Line1");
    QString bin = root.filePath("Line1/bin");
    QString firmware = root.filePath("MASTER/SX51804.sx");
    QString output = root.filePath("Line1/New_SX51804.sx");
    QString recordFile = root.filePath("Line1/bin/Bin.sx");
    QList<std::pair<qint64, qint64>> progress;

    Fixture()
    {
        QDir().mkpath(master);
        QDir().mkpath(bin);
        QVERIFY(writeFile(QDir(bin).filePath("bank1.bin"), bankBytes()));
    }

    MergeRequest request(int bank = 1) const
    {
        MergeRequest r;
        r.bank = bank;
        r.firmwarePath = firmware;
        r.binFolder = bin + QDir::separator();
        r.outputFolder = project + QDir::separator();
        r.newFileName = QStringLiteral("New_SX51804.sx");
        return r;
    }

    MergeResult merge(const MergeRequest& r)
    {
        return MergeBankSx(r, [this](qint64 position, qint64 maximum) {
            progress.append({position, maximum});
        });
    }

    MergeResult merge() { return merge(request()); }

    // Only what the test put there, the new file and nothing half-written.
    QStringList projectEntries() const
    {
        return QDir(project).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                       QDir::Name | QDir::IgnoreCase);
    }
};

} // namespace

class TestSrecMerge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bankAddresses()
    {
        QCOMPARE(bankFirstAddress(1), 0x388000u);
        QCOMPARE(bankLastAddress(1), 0x38BFFFu);
        QCOMPARE(bankFirstAddress(5), 0x3C8000u);
        QCOMPARE(bankLastAddress(5), 0x3CBFFFu);
    }

    void checksum_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("checksum");
        QTest::newRow("zeros at 388000") << "S224388000" + QString(64, u'0') + "00"
                                         << "23";
        QTest::newRow("FF at 388000") << "S224388000" + QString(64, u'F') + "00"
                                      << "43";
        QTest::newRow("zeros at 38BFE0") << "S22438BFE0" + QString(64, u'0') + "00"
                                         << "04";
        QTest::newRow("lower-case digits") << "S22438bfe0" + QString(64, u'0') + "00"
                                           << "04";
        QTest::newRow("S9 end record") << QStringLiteral("S9030000") + "00"
                                       << "FC";
        // No checksum is made up for a record that is not hexadecimal.
        QTest::newRow("not hexadecimal") << QStringLiteral("S9030G00") + "00"
                                         << "";
    }

    void checksum()
    {
        QFETCH(QString, record);
        QFETCH(QString, checksum);
        const Result<QString> computed = SxRecordChecksum(record);
        QCOMPARE(computed.value, checksum);
        QCOMPARE(problemLines(computed.problems),
                 checksum.isEmpty() ? QStringList{QStringLiteral("'0G' is not a hexadecimal byte")}
                                    : QStringList{});
    }

    void bankRecordsOfAZeroBank()
    {
        const QByteArray records = bankSxRecords(1, QByteArray(kBankSize, '\0'));
        QCOMPARE(records.size(), 512 * 78);
        const QList<QByteArray> lines = records.split('\n');
        QCOMPARE(lines.size(), 513);
        QCOMPARE(lines[0], "S224388000" + QByteArray(64, '0') + "23\r");
        QCOMPARE(lines[511], "S22438BFE0" + QByteArray(64, '0') + "04\r");
        for (int i = 0; i < 512; ++i) {
            QCOMPARE(lines[i].size(), 77);
            QCOMPARE(lines[i].mid(4, 6), QByteArray::number(0x388000 + 0x20 * i, 16).toUpper());
            const QString text = QString::fromLatin1(lines[i].left(76));
            QCOMPARE(SxRecordChecksum(text.left(74) + "00").value, text.right(2));
        }
        QCOMPARE(bankSxRecords(2, bankBytes()).left(10), QByteArray("S224398000"));
    }

    void merge_data()
    {
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("outcome");

        const QList<QByteArray> spread{header(),     s2(0x100000), s2(0x388000), s2(0x200000),
                                       s2(0x389000), s2(0x38BFE0), s2(0x300000), end()};
        QTest::newRow("bank where the first in-range record stood")
            << joinLines(spread)
            << merged({header(), s2(0x100000), kBankMark, s2(0x200000), s2(0x300000), end()}) << 1;

        QTest::newRow("only start addresses count")
            << joinLines({header(), s2(0x387FF0), s2(0x38BFFF, 16), s2(0x38C000), end()})
            << merged({header(), s2(0x387FF0), kBankMark, s2(0x38C000), end()}) << 1;

        QByteArray lowerAddress = s2(0x38A000);
        lowerAddress.replace(4, 6, "38a000");
        QTest::newRow("lower-case address digits") << joinLines({header(), lowerAddress, end()})
                                                   << merged({header(), kBankMark, end()}) << 1;

        QByteArray lowerType = s2(0x388000);
        lowerType[0] = 's';
        const QByteArray s1 = formatSRecord('1', 0x3880, QByteArray(16, 1));
        const QByteArray s3 = formatSRecord('3', 0x388000, QByteArray(16, 2));
        // The lower-case line is no record: S1 and S3 are the two data records counted.
        const QList<QByteArray> outside{header(), lowerType, s1, s3, formatSRecord('5', 2, {}),
                                        end()};
        QTest::newRow("lower-case type, S1, S3 and S5 copied")
            << joinLines(outside) << merged(outside) << 0;

        // The count record counts the merged file's own data records: the bank's 512 stand
        // where the range's records stood.
        QTest::newRow("S5 counts the merged records")
            << joinLines({header(), s2(0x100000), s2(0x388000), s2(0x389000),
                          formatSRecord('5', 3, {}), end()})
            << merged({header(), s2(0x100000), kBankMark, formatSRecord('5', 513, {}), end()}) << 1;
        // Past 65 535 records S5 wraps in the master, as its writers let it; the merged file
        // counts in S6 from there.
        {
            QList<QByteArray> lines{header()};
            QList<QByteArray> mergedLines{header()};
            qint64 records = 0;
            qint64 mergedRecords = 0;
            for (quint32 address = 0x300000; records < 66100; address += 16, ++records) {
                lines << s2(address, 16, char(address));
                if (address == 0x388000) {
                    mergedLines << kBankMark;
                    mergedRecords += 512;
                } else if (address < 0x388000 || address > 0x38BFFF) {
                    mergedLines << lines.last();
                    ++mergedRecords;
                }
            }
            lines << formatSRecord('5', quint32(records & 0xFFFF), {}) << end();
            mergedLines << formatSRecord('6', quint32(mergedRecords), {}) << end();
            QTest::newRow("S6 past 65 535 merged records")
                << joinLines(lines) << merged(mergedLines) << 1;
        }

        QTest::newRow("LF line ends become CR LF")
            << joinLines(spread, "\n")
            << merged({header(), s2(0x100000), kBankMark, s2(0x200000), s2(0x300000), end()}) << 1;

        QTest::newRow("mixed line ends, CR at the very end")
            << joinLines({header(), s2(0x100000)}) + s2(0x388000) + "\n" + s2(0x200000) + "\n" +
                   s2(0x300000) + "\r\n" + end() + "\r"
            << merged({header(), s2(0x100000), kBankMark, s2(0x200000), s2(0x300000), end()}) << 1;

        QTest::newRow("no line end after the last line")
            << joinLines({header(), s2(0x388000)}) + end() << merged({header(), kBankMark, end()})
            << 1;

        QTest::newRow("no S9") << joinLines({header(), s2(0x388000)})
                               << merged({header(), kBankMark}) << -1;

        const QByteArray s8 = formatSRecord('8', 0, {});
        QTest::newRow("S8 instead of S9")
            << joinLines({header(), s2(0x388000), s8}) << merged({header(), kBankMark, s8}) << -1;

        QTest::newRow("S9 before the bank") << joinLines({header(), end(), s2(0x388000)})
                                            << merged({header(), end(), kBankMark}) << 0;

        // Lines that cross the reading buffer, and one longer than it.
        QList<QByteArray> many{header()};
        QList<QByteArray> manyMerged{header()};
        for (quint32 address = 0x300000; address < 0x3A0000; address += 16) {
            many << s2(address, 16, char(address));
            if (address == 0x388000)
                manyMerged << kBankMark;
            else if (address < 0x388000 || address > 0x38BFFF)
                manyMerged << many.last();
        }
        many << end();
        manyMerged << end();
        QTest::newRow("several megabytes") << joinLines(many) << merged(manyMerged) << 1;
    }

    void merge()
    {
        QFETCH(QByteArray, firmware);
        QFETCH(QByteArray, expected);
        QFETCH(int, outcome);

        Fixture f;
        QVERIFY(writeFile(f.firmware, firmware));
        QVERIFY(writeFile(f.output, "an older merge"));
        QVERIFY(writeFile(f.recordFile, "left by an older run"));

        const MergeResult result = f.merge();
        QCOMPARE(mergeMessage(result), QString());
        QCOMPARE(result.value.outcome, outcome);
        QVERIFY(result.value.copyCompleted);
        QCOMPARE(mergeMessage(result), QString());
        const QByteArray actual = readFile(f.output);
        QCOMPARE(actual.size(), expected.size());
        QVERIFY(actual == expected);
        QVERIFY(!QFile::exists(f.recordFile));
        // The bank's first record is in the new file exactly when the merge says it inserted it.
        QCOMPARE(result.value.bankInserted, expected.contains("S224388000"));
        QCOMPARE(f.projectEntries(), (QStringList{"bin", "New_SX51804.sx"}));

        const qint64 maximum = 512 + lineCount(firmware);
        QVERIFY(!f.progress.isEmpty());
        QCOMPARE(f.progress.last(), std::make_pair(maximum, maximum));
        for (qsizetype i = 0; i < f.progress.size(); ++i) {
            QCOMPARE(f.progress[i].second, maximum);
            QVERIFY(f.progress[i].first <= maximum);
            if (i > 0)
                QVERIFY(f.progress[i].first >= f.progress[i - 1].first);
        }
    }

    void copyFailure_data()
    {
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<QString>("cause");
        QByteArray badDigit = s2(0x100000);
        badDigit[7] = 'G';
        QByteArray badS1 = formatSRecord('1', 0x1234, "ab");
        badS1[5] = '-';
        QTest::newRow("address not hexadecimal")
            << joinLines({header(), badDigit, end()})
            << "SX51804.sx, line 2: '0G' is not a hexadecimal byte";
        QTest::newRow("S2 too short")
            << joinLines({header(), "S2240000", end()})
            << "SX51804.sx, line 2: the byte count says 36 bytes, the record holds 2";
        QTest::newRow("S1 address not hexadecimal")
            << joinLines({header(), badS1, end()})
            << "SX51804.sx, line 2: '1-' is not a hexadecimal byte";
        QTest::newRow("empty line")
            << joinLines({header(), s2(0x388000), "", end()}) << "SX51804.sx, line 3: empty line";
        QTest::newRow("blank line at the end")
            << joinLines({header(), end(), ""}) << "SX51804.sx, line 3: empty line";
        // A master whose count is already wrong is the master's fault, told at its line.
        QTest::newRow("master's S5 counts wrong")
            << joinLines({header(), s2(0x100000), s2(0x388000), formatSRecord('5', 15, {}), end()})
            << "SX51804.sx, line 4: the S5 record counts 15 data records, 2 stand before it";
    }

    void copyFailure()
    {
        QFETCH(QByteArray, firmware);
        QFETCH(QString, cause);
        Fixture f;
        QVERIFY(writeFile(f.firmware, firmware));
        QVERIFY(writeFile(f.output, "an older merge"));

        const MergeResult result = f.merge();
        // The fixed first line, then the firmware's line and what is wrong with it.
        QCOMPARE(mergeMessage(result),
                 QStringLiteral("File New Sx Not Create,Abort Procedure\n") + cause);
        QVERIFY(!result.value.copyCompleted);
        QVERIFY(!QFile::exists(f.output));
        QVERIFY(!QFile::exists(f.recordFile));
        QCOMPARE(f.projectEntries(), QStringList{"bin"});
        const qint64 maximum = 512 + lineCount(firmware);
        QCOMPARE(f.progress.last(), std::make_pair(maximum, maximum));
    }

    // A file that is no firmware, or holds a line longer than any record, is refused before
    // anything is touched; the cause follows the fixed first line.
    void refusesWhatIsNoFirmware_data()
    {
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<QString>("cause");
        QTest::newRow("empty file") << QByteArray() << "is not an S-record file";
        QTest::newRow("a text without records")
            << QByteArray("this is no firmware\r\n") << "is not an S-record file";
        QTest::newRow("a line of 515 characters")
            << joinLines({header(), "S5" + QByteArray(513, '0'), end()})
            << "SX51804.sx, line 2: longer than any S-record (more than 514 characters)";
        QTest::newRow("ten megabytes without a line end")
            << joinLines({header()}) + QByteArray(10 << 20, 'S')
            << "SX51804.sx, line 2: longer than any S-record (more than 514 characters)";
    }

    void refusesWhatIsNoFirmware()
    {
        QFETCH(QByteArray, firmware);
        QFETCH(QString, cause);
        Fixture f;
        QVERIFY(writeFile(f.firmware, firmware));
        QVERIFY(writeFile(f.output, "an older merge"));
        const MergeResult result = f.merge();
        QVERIFY(!result.value.copyCompleted);
        QVERIFY2(mergeMessage(result).startsWith("File New Sx Not Create,Abort Procedure\n"),
                 qPrintable(mergeMessage(result)));
        QVERIFY2(mergeMessage(result).endsWith(cause), qPrintable(mergeMessage(result)));
        QCOMPARE(readFile(f.output), QByteArray("an older merge"));
        QCOMPARE(f.projectEntries(), (QStringList{"bin", "New_SX51804.sx"}));
    }

    // A killed merge leaves the file it wrote beside the new one; the next merge removes such
    // files, and only those.
    void removesTemporaryFilesOfKilledMerges()
    {
        Fixture f;
        QVERIFY(writeFile(f.firmware, joinLines({header(), s2(0x388000), end()})));
        const MergeRequest request = f.request();
        QStringList seen;
        const MergeResult first = MergeBankSx(request, [&](qint64, qint64) {
            for (const QString& name : f.projectEntries()) {
                if (name.startsWith("New_SX51804.sx.") && !seen.contains(name))
                    seen << name;
            }
        });
        QVERIFY(first.value.copyCompleted);
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].size(), QStringLiteral("New_SX51804.sx.XXXXXX").size());

        const QStringList leftovers{seen[0], "New_SX51804.sx.k1lLed", "New_SX51804.sx.000000"};
        const QStringList others{"New_SX51804.sx.keep", "New_SX51804.sx.1234567",
                                 "New_SX51804.sx.ab-cde", "Other.sx.abcdef"};
        for (const QString& name : leftovers + others)
            QVERIFY(writeFile(QDir(f.project).filePath(name), "S0 partial"));
        QVERIFY(f.merge(request).value.copyCompleted);
        QStringList expected = others + QStringList{"bin", "New_SX51804.sx"};
        expected.sort(Qt::CaseInsensitive);
        QCOMPARE(f.projectEntries(), expected);
    }

    void checks_data()
    {
        QTest::addColumn<QString>("defect");
        QTest::addColumn<QString>("message");
        QTest::newRow("no firmware") << "no firmware"
                                     << "File *.Sx Not Found,Abort Procedure";
        QTest::newRow("firmware is a folder") << "firmware folder"
                                              << "File *.Sx Not Found,Abort Procedure";
        QTest::newRow("no new file name") << "empty name"
                                          << "File New *.Sx Not Found,Abort Procedure";
        QTest::newRow("no bin folder") << "no bin"
                                       << "Directory Bin Not Found,Abort Procedure";
        QTest::newRow("empty bin folder name") << "empty bin"
                                               << "Directory Bin Not Found,Abort Procedure";
        QTest::newRow("no bank file") << "no bank"
                                      << "File bank1.bin Not Found,Abort Procedure";
        QTest::newRow("short bank file")
            << "short bank"
            << "File bank1.bin Is Not 16384 Bytes Long,Abort Procedure";
        QTest::newRow("long bank file") << "long bank"
                                        << "File bank1.bin Is Not 16384 Bytes Long,Abort Procedure";
        QTest::newRow("erased bank file") << "erased bank"
                                          << "File bank1.bin Is Erased (All 0xFF),Abort Procedure";
        QTest::newRow("new file is the firmware")
            << "same file"
            << "File New *.Sx Is The Firmware,Abort Procedure";
    }

    void checks()
    {
        QFETCH(QString, defect);
        QFETCH(QString, message);
        Fixture f;
        const QByteArray firmware = joinLines({header(), s2(0x388000), end()});
        QVERIFY(writeFile(f.firmware, firmware));
        MergeRequest request = f.request();
        const QString bankFile = QDir(f.bin).filePath("bank1.bin");
        if (defect == "no firmware")
            request.firmwarePath = f.root.filePath("MASTER/other.sx");
        else if (defect == "firmware folder")
            request.firmwarePath = f.master;
        else if (defect == "empty name")
            request.newFileName.clear();
        else if (defect == "no bin")
            request.binFolder = f.root.filePath("Line1/nothing");
        else if (defect == "empty bin")
            request.binFolder.clear();
        else if (defect == "no bank")
            QVERIFY(QFile::remove(bankFile));
        else if (defect == "short bank")
            QVERIFY(writeFile(bankFile, bankBytes().left(kBankSize - 1)));
        else if (defect == "long bank")
            QVERIFY(writeFile(bankFile, bankBytes() + 'x'));
        else if (defect == "erased bank")
            QVERIFY(writeFile(bankFile, QByteArray(kBankSize, char(0xFF))));
        else if (defect == "same file") {
            request.outputFolder = f.master;
            request.newFileName = QStringLiteral("SX51804.sx");
        }
        QVERIFY(writeFile(f.output, "an older merge"));
        QVERIFY(writeFile(f.recordFile, "left by an older run"));

        const MergeResult result = f.merge(request);
        QCOMPARE(mergeMessage(result), message);
        QCOMPARE(result.value.outcome, -1);
        QVERIFY(!result.value.copyCompleted);
        QVERIFY(f.progress.isEmpty());
        // Nothing is touched.
        QCOMPARE(readFile(f.output), QByteArray("an older merge"));
        QCOMPARE(readFile(f.recordFile), QByteArray("left by an older run"));
        QCOMPARE(readFile(f.firmware), firmware);
    }

    void otherBank()
    {
        Fixture f;
        QVERIFY(writeFile(QDir(f.bin).filePath("bank2.bin"), bankBytes()));
        QVERIFY(QFile::remove(QDir(f.bin).filePath("bank1.bin")));
        QVERIFY(writeFile(f.firmware,
                          joinLines({header(), s2(0x388000), s2(0x39BFE0), s2(0x39C000), end()})));
        MergeRequest request = f.request(2);
        request.binFolder = f.bin; // without a trailing separator
        request.outputFolder = f.project;
        const MergeResult result = f.merge(request);
        QCOMPARE(result.value.outcome, 1);
        QVERIFY(readFile(f.output) ==
                merged({header(), s2(0x388000), kBankMark, s2(0x39C000), end()}, 2));
    }

    // The new file cannot be made: the system's reason, and nothing else done after the checks.
    void outputThatCannotBeCreated()
    {
        Fixture f;
        QVERIFY(writeFile(f.firmware, joinLines({header(), end()})));
        QVERIFY(writeFile(f.recordFile, "left by an older run"));
        MergeRequest request = f.request();
        request.outputFolder = f.root.filePath("missing");
        const MergeResult result = f.merge(request);
        const QString output = QDir::toNativeSeparators(f.root.filePath("missing/New_SX51804.sx"));
        QCOMPARE(mergeMessage(result),
                 "Cannot create file \"" + output + "\". No such file or directory");
        QVERIFY(!result.value.copyCompleted);
        QVERIFY(!QFile::exists(f.recordFile));
    }

    void syntheticFirmware()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("synthetic.sx");
        writeSyntheticFirmware(path, 0x387FC0, 0x388050, 32, "demo");
        const QList<QByteArray> lines = readFile(path).split('\n');
        QCOMPARE(lines.size(), 8); // S0, five data records, S9, nothing after the last CR LF
        QCOMPARE(lines[0], formatSRecord('0', 0, "demo") + '\r');
        QVERIFY(lines[1].startsWith("S224387FC0"));
        QVERIFY(lines[5].startsWith("S214388040")); // the short last record
        QCOMPARE(lines[6], QByteArray("S9030000FC\r"));
        for (int i = 0; i < 7; ++i) {
            const QString text = QString::fromLatin1(lines[i].chopped(1));
            QCOMPARE(SxRecordChecksum(text.chopped(2) + "00").value, text.right(2));
        }
    }
};

QTEST_GUILESS_MAIN(TestSrecMerge)
#include "tst_srec_merge.moc"
