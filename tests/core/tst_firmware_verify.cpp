#include "core/app/error.h"
#include "core/device/bank_layout.h"
#include "core/device/bank_records.h"
#include "core/device/srec_record.h"
#include "core/firmware/firmware_verify.h"
#include "core/firmware/srec_merge.h"
#include "core/update/firmware_job.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

QByteArray bankBytes()
{
    QByteArray bytes(kBankSize, Qt::Uninitialized);
    for (int i = 0; i < kBankSize; ++i)
        bytes[i] = char(i * 7 + 1);
    return bytes;
}

QByteArray s2(quint32 address, int bytes = 32)
{
    return formatSRecord('2', address, QByteArray(bytes, char(address >> 4)));
}

// Records around bank 1 and over it, the header first and S9 last, CR LF after each.
QByteArray master(const QList<QByteArray>& extra = {})
{
    QByteArray text = formatSRecord('0', 0, "SX51804") + "\r\n";
    for (quint32 address = 0x387E00; address < 0x38C200; address += 0x20)
        text += s2(address) + "\r\n";
    for (const QByteArray& line : extra)
        text += line + "\r\n";
    return text + "S9030000FC\r\n";
}

// A master whose S9 end record stands before the records of the bank's range.
QByteArray masterEndingBeforeTheBank()
{
    QByteArray text = formatSRecord('0', 0, "SX51804") + "\r\n";
    for (quint32 address = 0x387E00; address < 0x388000; address += 0x20)
        text += s2(address) + "\r\n";
    text += "S9030000FC\r\n";
    for (quint32 address = 0x388000; address < 0x38C200; address += 0x20)
        text += s2(address) + "\r\n";
    return text;
}

// A master of 16-byte records whose S5 record counts them: 1056, of which 1024 in the bank's
// range, where the merge puts 512.
QByteArray masterWithACount()
{
    QByteArray text = formatSRecord('0', 0, "SX51804") + "\r\n";
    int records = 0;
    for (quint32 address = 0x387F00; address < 0x38C100; address += 0x10, ++records)
        text += s2(address, 16) + "\r\n";
    text += formatSRecord('5', quint32(records), {}) + "\r\n";
    return text + "S9030000FC\r\n";
}

// The master with the bank's records in place of its own, as a good merge makes it.
QByteArray merged(const QByteArray& masterText)
{
    QByteArray text;
    bool inserted = false;
    for (const QByteArray& line : masterText.split('\n')) {
        if (line.isEmpty())
            continue;
        const qint64 address = line.startsWith("S2") ? sRecordLineAddress(line, line.size()) : -1;
        if (address >= 0x388000 && address <= 0x38BFFF) {
            if (!inserted)
                text += bankSxRecords(1, bankBytes());
            inserted = true;
            continue;
        }
        text += line + '\n';
    }
    return text;
}

FirmwareVerification verify(QByteArray mergedText, QByteArray masterText)
{
    QBuffer mergedDevice(&mergedText);
    QBuffer masterDevice(&masterText);
    mergedDevice.open(QIODevice::ReadOnly);
    masterDevice.open(QIODevice::ReadOnly);
    return verifyMergedFirmware(mergedDevice, masterDevice, bankBytes(), 1,
                                {QStringLiteral("New_SX51804.sx"), QStringLiteral("SX51804.sx")});
}

QByteArray withChecksumFixed(QByteArray line)
{
    line.chop(2);
    return line + hex::upperText(sRecordChecksum(QByteArray::fromHex(line.mid(2))), 2).toLatin1();
}

} // namespace

// The check between the merge and the flashing tool: a merged firmware is its master with the
// bank in the bank's range, and nothing else changed.
class TestFirmwareVerify : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aGoodMergeHolds()
    {
        const QByteArray text = master();
        const FirmwareVerification result = verify(merged(text), text);
        QVERIFY2(result.holds(), qPrintable(problemLines(result.report).join(u'\n')));
        QCOMPARE(result.report, Problems());
    }

    void reportsTheFirstProblemAndHowManyMore_data()
    {
        QTest::addColumn<QByteArray>("mergedText");
        QTest::addColumn<QByteArray>("masterText");
        QTest::addColumn<QString>("first");
        QTest::addColumn<qint64>("count");

        const QByteArray good = master();
        const QByteArray mergedGood = merged(good);
        QList<QByteArray> lines = mergedGood.split('\n');
        const auto join = [](const QList<QByteArray>& list) { return list.join('\n'); };

        QList<QByteArray> checksum = lines;
        checksum[3][checksum[3].size() - 2] = checksum[3].endsWith("0\r") ? '1' : '0';
        QTest::newRow("wrong checksum in the merged file")
            << join(checksum) << good << "New_SX51804.sx, line 4: checksum 0x" << qint64(1);

        QList<QByteArray> changed = lines;
        changed[2] = withChecksumFixed(changed[2].chopped(1).replace(12, 2, "77")) + '\r';
        QTest::newRow("a byte outside the bank changed")
            << join(changed) << good
            << "New_SX51804.sx, line 3: the S2 record at 0x387E20 differs from the S2 record at "
               "0x387E20 in SX51804.sx, line 3"
            << qint64(1);

        QList<QByteArray> lost = lines;
        lost.removeAt(2);
        QTest::newRow("a record lost")
            << join(lost) << good
            << "New_SX51804.sx, line 3: the S2 record at 0x387E40 differs from the S2 record at "
               "0x387E20 in SX51804.sx, line 3"
            << qint64(32);

        QList<QByteArray> noEnd = lines;
        noEnd.removeAt(noEnd.size() - 2);
        QTest::newRow("end record lost")
            << join(noEnd) << good
            << "SX51804.sx, line 546: the S9 record is missing from New_SX51804.sx" << qint64(1);

        QTest::newRow("a record added")
            << mergedGood + s2(0x100000) + "\r\n"
            << good << "New_SX51804.sx, line 547: the S2 record at 0x100000 is not in SX51804.sx"
            << qint64(1);

        const qsizetype bankRecord = mergedGood.indexOf("S224388100");
        QByteArray bankChanged = mergedGood;
        bankChanged.replace(bankRecord, 76,
                            withChecksumFixed(mergedGood.mid(bankRecord, 76).replace(10, 2, "EE")));
        QTest::newRow("a bank byte changed")
            << bankChanged << good << "New_SX51804.sx, line 26: 0x388100 holds 0xEE, the bank 0x"
            << qint64(1);

        QByteArray bankLost = mergedGood;
        bankLost.remove(bankRecord, 78);
        QTest::newRow("a bank record lost")
            << bankLost << good
            << "New_SX51804.sx: 32 of the 16384 bytes of bank 1 (0x388000-0x38BFFF) are missing, "
               "the first at 0x388100"
            << qint64(1);

        QTest::newRow("no bank at all")
            << good << good << "New_SX51804.sx, line 18: 0x388000 holds 0x" << qint64(16320);

        QByteArray masterChecksum = good;
        const qsizetype fifth = good.indexOf("S224387E60");
        masterChecksum[fifth + 75] = masterChecksum[fifth + 75] == '0' ? '1' : '0';
        QTest::newRow("a wrong checksum copied from the master")
            << merged(masterChecksum) << masterChecksum << "SX51804.sx, line 5: checksum 0x"
            << qint64(1);

        QTest::newRow("a line longer than any record")
            << mergedGood + "S5" + QByteArray(600, '0') + "\r\n"
            << good
            << "New_SX51804.sx, line 547: longer than any S-record (more than 514 characters)"
            << qint64(1);

        // A loader stops at the end record: a bank after it never reaches the device.
        const QByteArray endFirst = masterEndingBeforeTheBank();
        QTest::newRow("the bank after the end record")
            << merged(endFirst) << endFirst
            << "New_SX51804.sx, line 19: bank 1 (0x388000-0x38BFFF) stands after the S9 end "
               "record on line 18, where loaders stop"
            << qint64(1);
        const QByteArray counted = masterWithACount();
        QTest::newRow("a count record that no longer counts")
            << merged(counted) << counted
            << "New_SX51804.sx, line 546: the S5 record counts 1056 data records, 544 stand "
               "before it"
            << qint64(1);
        QTest::newRow("a count record that counts")
            << counted << counted << "New_SX51804.sx, line 18: 0x388000 holds" << qint64(16320);

        // Straddling records: kept, one writes over the bank's first bytes; dropped, the other's
        // bytes past the bank are lost. Neither merge may be flashed.
        const QByteArray acrossStart = master({s2(0x387FF0)});
        QTest::newRow("master record across the bank's first address")
            << merged(acrossStart) << acrossStart
            << "SX51804.sx, line 546: the record 0x387FF0-0x38800F crosses an edge of bank 1 "
               "(0x388000-0x38BFFF)"
            << qint64(1);
        const QByteArray acrossEnd = master({s2(0x38BFF0)});
        QTest::newRow("master record across the bank's last address")
            << merged(acrossEnd) << acrossEnd
            << "SX51804.sx, line 546: the record 0x38BFF0-0x38C00F crosses an edge of bank 1 "
               "(0x388000-0x38BFFF)"
            << qint64(1);
    }

    void reportsTheFirstProblemAndHowManyMore()
    {
        QFETCH(QByteArray, mergedText);
        QFETCH(QByteArray, masterText);
        QFETCH(QString, first);
        QFETCH(qint64, count);
        const FirmwareVerification result = verify(mergedText, masterText);
        QVERIFY(!result.holds());
        const QStringList report = problemLines(result.report);
        QVERIFY2(report.value(0).startsWith(first), qPrintable(report.join(u'\n')));
        QCOMPARE(result.problemCount, count);
        QCOMPARE(report.size(), count > 1 ? 2 : 1);
        if (count > 1)
            QCOMPARE(report[1], QStringLiteral("and %1 more %2")
                                    .arg(count - 1)
                                    .arg(count == 2 ? "problem" : "problems"));
    }

    // The job checks the file before it takes its name: a master with a bad record gives no
    // merged file, and the reason on the line after the fixed one.
    void theJobKeepsNoFileThatFails_data()
    {
        QTest::addColumn<QByteArray>("masterText");
        QTest::addColumn<QString>("cause");
        QByteArray checksum = master();
        const qsizetype fifth = checksum.indexOf("S224387E60");
        checksum[fifth + 75] = checksum[fifth + 75] == '0' ? '1' : '0';
        QTest::newRow("wrong checksum on line 5") << checksum << "SX51804.sx, line 5: checksum 0x";
        QTest::newRow("record across the bank's edge")
            << master({s2(0x387FF0)}) << "SX51804.sx, line 546: the record 0x387FF0-0x38800F";
        QTest::newRow("end record before the bank")
            << masterEndingBeforeTheBank()
            << "New_SX51804.sx, line 19: bank 1 (0x388000-0x38BFFF) stands after the S9 end record";
    }

    // A master with a count record is merged: the merged file counts its own data records, and
    // its check, as strict as ever, holds.
    void aMasterWithACountIsMerged()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("project/bin")));
        QVERIFY(writeFile(dir.filePath("project/bin/bank1.bin"), bankBytes()));
        QVERIFY(writeFile(dir.filePath("SX51804.sx"), masterWithACount()));
        FirmwareJob job;
        job.firmwareName = QStringLiteral("SX51804.sx");
        job.firmwarePath = dir.filePath("SX51804.sx");
        job.binFolder = dir.filePath("project/bin") + QDir::separator();
        job.outputFolder = dir.filePath("project") + QDir::separator();
        job.newFileName = QStringLiteral("New_SX51804.sx");

        const MergeResult result = job.merge().value;
        QVERIFY2(result.verified, qPrintable(result.message));
        const QByteArray mergedText = readFile(job.mergedPath());
        // 16 records before the bank, its 512, 16 after it.
        QVERIFY(mergedText.contains(formatSRecord('5', 544, {}) + "\r\n"));
        QVERIFY(verifyMergedFirmwareFiles(job.mergedPath(), job.firmwarePath,
                                          dir.filePath("project/bin/bank1.bin"))
                    .holds());
    }

    void theJobKeepsNoFileThatFails()
    {
        QFETCH(QByteArray, masterText);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("project/bin")));
        QVERIFY(writeFile(dir.filePath("project/bin/bank1.bin"), bankBytes()));
        QVERIFY(writeFile(dir.filePath("SX51804.sx"), masterText));
        FirmwareJob job;
        job.firmwareName = QStringLiteral("SX51804.sx");
        job.firmwarePath = dir.filePath("SX51804.sx");
        job.binFolder = dir.filePath("project/bin") + QDir::separator();
        job.outputFolder = dir.filePath("project") + QDir::separator();
        job.newFileName = QStringLiteral("New_SX51804.sx");
        job.flasherDir = dir.path();
        QVERIFY(writeFile(dir.filePath("Morvex.exe"), "stand-in"));

        const MergeResult result = job.merge().value;
        QVERIFY(!result.copyCompleted);
        QVERIFY(!result.verified);
        QVERIFY2(result.message.startsWith(
                     QStringLiteral("File New Sx Not Create,Abort Procedure\n") + cause),
                 qPrintable(result.message));
        QVERIFY(!QFile::exists(job.mergedPath()));
        QCOMPARE(QDir(dir.filePath("project")).entryList(QDir::Files | QDir::Hidden),
                 QStringList());
        const FlashDecision decision = job.decideFlash(result, 0);
        QCOMPARE(decision.refusal, FlashRefusal::VerificationFailed);
        QCOMPARE(problemLines(decision.launch.problems), QStringList{result.message});

        // The same job with a good master keeps its file and may flash it.
        QVERIFY(writeFile(dir.filePath("SX51804.sx"), master()));
        const MergeResult good = job.merge().value;
        QVERIFY(good.verified);
        QVERIFY(good.copyCompleted);
        QCOMPARE(job.decideFlash(good, 0).refusal, FlashRefusal::None);
        QVERIFY(verifyMergedFirmwareFiles(job.mergedPath(), job.firmwarePath,
                                          dir.filePath("project/bin/bank1.bin"))
                    .holds());
    }
};

QTEST_GUILESS_MAIN(TestFirmwareVerify)
#include "tst_firmware_verify.moc"
