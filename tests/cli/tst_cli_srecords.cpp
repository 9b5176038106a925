#include "core/device/bank_records.h"
#include "core/device/srec_record.h"
#include "support/program_run.h"
#include "test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using quillner::formatSRecord;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

QByteArray bankBytes()
{
    QByteArray bytes(quillner::kBankSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + 1);
    return bytes;
}

// Code records around bank 1 and the bank's own records, S0 first and S9 last: a firmware that is
// also its own merge with the bank.
QList<QByteArray> firmwareLines()
{
    QList<QByteArray> lines{formatSRecord('0', 0, kHeader)};
    for (quint32 address = 0x387F00; address < 0x388000; address += 32)
        lines << formatSRecord('2', address, QByteArray(32, char(address >> 5)));
    for (const QByteArray& line : quillner::bankSxRecords(1, bankBytes()).split('\n')) {
        if (!line.isEmpty())
            lines << line.chopped(1);
    }
    for (quint32 address = 0x38C000; address < 0x38C100; address += 32)
        lines << formatSRecord('2', address, QByteArray(32, char(address >> 5)));
    lines << formatSRecord('9', 0, {});
    return lines;
}

QByteArray joined(const QList<QByteArray>& lines, const QByteArray& between = "\r\n")
{
    return lines.join(between) + "\r\n";
}

// The record with its checksum digits replaced.
QByteArray withChecksum(QByteArray line, const QByteArray& digits)
{
    return line.replace(line.size() - 2, 2, digits);
}

QString computedChecksum(const QByteArray& line)
{
    return QString::fromLatin1(line.right(2));
}

} // namespace

// Every command reads an S-record file with the one reader: what it refuses, each refuses, with
// the same words for the same line.
class TestCliSRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_dir.reset(); }

    void everyCommandReadsAFileAlike_data();
    void everyCommandReadsAFileAlike();
    void everyReaderTakesWhatTheMemoryHolds_data();
    void everyReaderTakesWhatTheMemoryHolds();

private:
    Run cli(const QStringList& arguments) const
    {
        return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments,
                                             m_dir->path());
    }
    QString file(const QString& name) const { return m_dir->filePath(name); }
    QString masterFolder() const { return file(QStringLiteral("MASTER")); }
    QString bankFile() const { return m_project + QStringLiteral("/bin/bank1.bin"); }
    QString master() const { return file(QStringLiteral("MASTER/SX51804.sx")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_project;
};

void TestCliSRecords::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_project = file(QStringLiteral("Line"));
    QVERIFY(QDir().mkpath(m_project + QStringLiteral("/bin")));
    QVERIFY(QDir().mkpath(masterFolder()));
    QVERIFY(writeFile(bankFile(), bankBytes()));
    QVERIFY(writeFile(master(), joined(firmwareLines())));
}

void TestCliSRecords::everyCommandReadsAFileAlike_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fault"); // as every command tells it after the file's name

    const QList<QByteArray> lines = firmwareLines();
    QTest::newRow("records separated by blank lines")
        << joined(lines, "\r\n\r\n") << QStringLiteral("line 2: empty line");
    QTest::newRow("a blank line first") << "\r\n" + joined(lines) << "line 1: empty line";
    QTest::newRow("a blank line at the end")
        << joined(lines) + "\r\n"
        << QStringLiteral("line %1: empty line").arg(lines.size() + 1);

    const QByteArray header = lines.first();
    QTest::newRow("the only record with a wrong checksum")
        << joined({withChecksum(header, "00")})
        << "line 1: checksum 0x00, computed 0x" + computedChecksum(header);
    // A record that the merge drops for the bank's is read all the same.
    QList<QByteArray> inBank = lines;
    inBank[20].replace(20, 2, "G1");
    QTest::newRow("a faulty record in the bank's range")
        << joined(inBank) << QStringLiteral("line 21: 'G1' is not a hexadecimal byte");
    QList<QByteArray> fifth = lines;
    fifth[4] = withChecksum(fifth[4], fifth[4].endsWith("00") ? "01" : "00");
    QTest::newRow("a wrong checksum among good records")
        << joined(fifth)
        << "line 5: checksum 0x" + QString::fromLatin1(fifth[4].right(2)) + ", computed 0x" +
               computedChecksum(lines[4]);
}

void TestCliSRecords::everyCommandReadsAFileAlike()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fault);
    const QString good = file(QStringLiteral("good.sx"));
    QVERIFY(QFile::copy(master(), good));
    const QString faulty = file(QStringLiteral("faulty.sx"));
    QVERIFY(writeFile(faulty, content));

    // The bank read back from it.
    const Run decode = cli({QStringLiteral("decode"), faulty});
    QCOMPARE(decode.exitCode, 1);
    QCOMPARE(decode.err, QStringLiteral("error: %1, %2\n").arg(faulty, fault));

    // The file checked as a merged firmware.
    const Run verify = cli({QStringLiteral("verify"), faulty, QStringLiteral("--master"), good,
                            QStringLiteral("--bank"), bankFile()});
    QCOMPARE(verify.exitCode, 1);
    QVERIFY2(verify.err.startsWith(QStringLiteral("error: faulty.sx, %1\n").arg(fault)),
             qPrintable(verify.err));

    // The file as the firmware a bank is merged into.
    QVERIFY(writeFile(master(), content));
    const Run merge =
        cli({QStringLiteral("merge"), m_project, QStringLiteral("--master"), masterFolder()});
    QCOMPARE(merge.exitCode, 1);
    QCOMPARE(merge.err,
             QStringLiteral("error: File New Sx Not Create,Abort Procedure\nSX51804.sx, %1\n")
                 .arg(fault));
    QVERIFY(!QFile::exists(m_project + QStringLiteral("/New_SX51804.sx")));
}

void TestCliSRecords::everyReaderTakesWhatTheMemoryHolds_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1: the firmware, %2: the bank file
    QTest::addColumn<int>("exitCode");
    QTest::newRow("decode") << QStringList{"decode", "%1"} << 1;
    // describe, git's textconv, never fails a diff: it tells the fault and shows the file.
    QTest::newRow("describe") << QStringList{"describe", "%1"} << 0;
    QTest::newRow("diff") << QStringList{"diff", "%2", "%1"} << 2;
    QTest::newRow("import") << QStringList{"import", "%1", "imported"} << 1;
}

// An S3 record after the bank's S2 records writes the CAN baud rate anew: what the device holds
// depends on its loader, so no reader takes either value.
void TestCliSRecords::everyReaderTakesWhatTheMemoryHolds()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QList<QByteArray> lines = firmwareLines();
    lines.insert(lines.size() - 1, formatSRecord('3', 0x388003, QByteArray(1, char(0x7F))));
    const QString firmware = file(QStringLiteral("rewritten.sx"));
    QVERIFY(writeFile(firmware, joined(lines)));
    for (QString& argument : arguments)
        argument = argument.replace(QStringLiteral("%1"), firmware)
                       .replace(QStringLiteral("%2"), bankFile());

    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    const QString byte3 = QString::number(quint8(bankBytes()[3]), 16).toUpper();
    const QString fault =
        QStringLiteral("line 530: writes 0x7F at 0x388003, which line 10 wrote 0x") + byte3;
    QVERIFY2((run.out + run.err).contains(fault), qPrintable(run.out + run.err));
    QVERIFY(!QFile::exists(file(QStringLiteral("imported/pargen.xml"))));
}

QTEST_GUILESS_MAIN(TestCliSRecords)
#include "tst_cli_srecords.moc"
