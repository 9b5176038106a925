// The production journal: records read back as written, and a line a killed batch left unfinished
// neither counts nor spoils the next.

#include "core/app/error.h"
#include "core/production/flash_journal.h"

#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

FlashRecord record(const QString& name, FlashRecord::Outcome outcome)
{
    FlashRecord record;
    record.row = 7;
    record.name = name;
    record.serial = QStringLiteral("SN-\"7\"");
    record.port = 3;
    record.masterSha256 = QByteArray(64, 'a');
    record.bankSha256 = QByteArray(64, 'b');
    record.mergedSha256 = QByteArray(64, 'c');
    record.toolVersion = QStringLiteral("1.002");
    record.outcome = outcome;
    record.exitStatus = outcome == FlashRecord::Outcome::Flashed ? 0 : 1;
    record.lastLine = QStringLiteral("ok, line\twith a tab");
    record.started = QDateTime(QDate(2024, 5, 2), QTime(9, 30, 12, 345), Qt::UTC);
    record.milliseconds = 1234;
    return record;
}

} // namespace

class TestFlashJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aRecordIsOneLineReadBackAsWritten()
    {
        const FlashRecord written =
            record(QStringLiteral("Line, 7"), FlashRecord::Outcome::Flashed);
        const QByteArray line = flashRecordLine(written);
        QCOMPARE(line.count('\n'), 1);
        QVERIFY(line.endsWith('\n'));
        QVERIFY(line.contains("\"started\":\"2024-05-02T09:30:12.345Z\""));
        QVERIFY(line.contains("\"outcome\":\"flashed\""));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
        {
            const Result<std::unique_ptr<FlashJournal>> journal = FlashJournal::open(path);
            QVERIFY(journal.whole());
            QVERIFY(journal.value->append(written).whole());
            QVERIFY(journal.value
                        ->append(record(QStringLiteral("Line 8"), FlashRecord::Outcome::TimedOut))
                        .whole());
        }
        const QList<FlashRecord> read = readFlashJournal(path).value;
        QCOMPARE(read.size(), 2);
        const FlashRecord& back = read[0];
        QCOMPARE(back.row, written.row);
        QCOMPARE(back.name, written.name);
        QCOMPARE(back.serial, written.serial);
        QCOMPARE(back.port, written.port);
        QCOMPARE(back.mergedSha256, written.mergedSha256);
        QCOMPARE(back.exitStatus, written.exitStatus);
        QCOMPARE(back.lastLine, written.lastLine);
        QCOMPARE(back.started, written.started);
        QCOMPARE(back.milliseconds, written.milliseconds);
        QVERIFY(back.flashed());
        QCOMPARE(read[1].outcome, FlashRecord::Outcome::TimedOut);
    }

    void anUnfinishedLastLineIsCut_data()
    {
        QTest::addColumn<QByteArray>("tail"); // what a killed batch left after two whole lines
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("half a line") << QByteArray("{\"row\":9,\"name\":\"Li");
        QTest::newRow("a line without its end")
            << flashRecordLine(record(QStringLiteral("Line 9"), FlashRecord::Outcome::Flashed))
                   .chopped(1);
        QTest::newRow("a long half line") << QByteArray(10000, 'x');
    }

    void anUnfinishedLastLineIsCut()
    {
        QFETCH(QByteArray, tail);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
        const QByteArray whole =
            flashRecordLine(record(QStringLiteral("A"), FlashRecord::Outcome::Failed)) +
            flashRecordLine(record(QStringLiteral("B"), FlashRecord::Outcome::Flashed));
        QVERIFY(writeFile(path, whole + tail));
        QCOMPARE(readFlashJournal(path).value.size(), 2);
        {
            const Result<std::unique_ptr<FlashJournal>> journal = FlashJournal::open(path);
            QVERIFY(journal.whole());
            QVERIFY(
                journal.value->append(record(QStringLiteral("C"), FlashRecord::Outcome::Flashed))
                    .whole());
        }
        QCOMPARE(readFile(path), whole + flashRecordLine(record(QStringLiteral("C"),
                                                                FlashRecord::Outcome::Flashed)));
    }

    void aChangedLineIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
        QVERIFY(writeFile(
            path, flashRecordLine(record(QStringLiteral("A"), FlashRecord::Outcome::Flashed)) +
                      "{\"row\":2}\n" +
                      flashRecordLine(record(QStringLiteral("C"), FlashRecord::Outcome::Flashed))));
        const Result<QList<FlashRecord>> read = readFlashJournal(path);
        QCOMPARE(read.problems.size(), 1);
        QVERIFY2(
            read.problems.front().text.contains(QStringLiteral("journal.jsonl:2: not a record")),
            qPrintable(read.problems.front().text));
    }
};

QTEST_GUILESS_MAIN(TestFlashJournal)
#include "tst_flash_journal.moc"
