#include "core/app/error.h"
#include "core/filters/dbc_reader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

#include <sys/stat.h>

using namespace quillner;
using quillner::testing::writeFile;

// What a project takes from a DBC file: every message a vehicle file holds, and never a
// success from a file that holds none.
class TestDbcReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString dbc(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("bus.dbc"));
        // A helper that returns cannot use QVERIFY; the failure is recorded all the same.
        QTest::qVerify(writeFile(path, content), "writeFile(path, content)", "", __FILE__,
                       __LINE__);
        return path;
    }

private Q_SLOTS:
    void messagesOfVehicleFiles_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("id");
        QTest::addColumn<bool>("extended");
        QTest::newRow("name with a digit first")
            << QByteArray("BO_ 1275 2017_5: 8 XXX") << "2017_5" << 1275u << false;
        QTest::newRow("extended") << QByteArray("BO_ 2566844926 EEC1: 8 Engine") << "EEC1"
                                  << 0x18FEF1FEu << true;
        QTest::newRow("tab after BO_")
            << QByteArray("BO_\t291 Status: 8 Engine") << "Status" << 291u << false;
        QTest::newRow("CRLF") << QByteArray("BO_ 291 Status: 8 Engine\r") << "Status" << 291u
                              << false;
    }

    void messagesOfVehicleFiles()
    {
        QFETCH(QByteArray, line);
        const Result<QList<DbcMessage>> read =
            readDbcMessages(dbc("VERSION \"\"\n\n" + line + "\n"));
        QVERIFY2(read.whole(), qPrintable(problemLines(read.problems).join(u'\n')));
        QVERIFY2(read.warnings.isEmpty(), qPrintable(problemLines(read.warnings).join(u'\n')));
        QCOMPARE(read.value.size(), 1);
        QTEST(read.value[0].name, "name");
        QTEST(read.value[0].id, "id");
        QTEST(read.value[0].extended, "extended");
    }

    // An identifier above 0x7FF without bit 31 is what a file that forgot the extended flag holds.
    void skippedMessagesSayWhy()
    {
        const Result<QList<DbcMessage>> read =
            readDbcMessages(dbc("BO_ 2048 Wide: 8 X\nBO_ 291 Status: 8 X\n"));
        QCOMPARE(read.value.size(), 1);
        QVERIFY(read.whole());
        QCOMPARE(
            problemLines(read.warnings),
            QStringList{"bus.dbc, line 1: the identifier of Wide, 0x00000800, is not an 11-bit "
                        "identifier; for an extended frame the DBC sets bit 31"});
    }

    void nothingToTakeIsRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("no message") << QByteArray("VERSION \"\"\n\nNS_ :\n\nBU_: Engine\n");
        QTest::newRow("a text file") << QByteArray("root:x:0:0:root:/root:/bin/bash\n");
    }

    void nothingToTakeIsRefused()
    {
        QFETCH(QByteArray, content);
        const QString path = dbc(content);
        QCOMPARE(problemLines(readDbcMessages(path).problems),
                 QStringList{QDir::toNativeSeparators(path) +
                             " holds no message (no BO_ line): it is no DBC file to take "
                             "identifiers from"});
    }

    void aFifoIsNotRead()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("fifo.dbc"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const Result<QList<DbcMessage>> read = readDbcMessages(fifo);
        QCOMPARE(problemLines(read.problems),
                 QStringList{"Cannot read file \"" + QDir::toNativeSeparators(fifo) +
                             "\". It is not a regular file"});
    }

    void selectionTakesBlanksAfterCommas()
    {
        const QList<DbcMessage> messages{{QStringLiteral("EEC1"), 0x18F00400, true, 1},
                                         {QStringLiteral("CCVS"), 0x18FEF100, true, 2},
                                         {QStringLiteral("Status"), 0x123, false, 3}};
        const DbcSelection chosen = wholeValue(selectDbcMessages(
            messages, QStringLiteral("EEC1, CCVS "), FrameFormat::Extended, QStringLiteral("a")));
        QCOMPARE(chosen.identifiers, (QList<quint32>{0x18F00400, 0x18FEF100}));
        const DbcSelection all =
            wholeValue(selectDbcMessages(messages, {}, FrameFormat::Extended, QStringLiteral("a")));
        QCOMPARE(all.skipped,
                 QStringList{"Status (standard identifier 0x123 on a CAN 2.0B project)"});
        QCOMPARE(problemLines(selectDbcMessages(messages, QStringLiteral("EEC2"),
                                                FrameFormat::Extended, QStringLiteral("a"))
                                  .problems),
                 QStringList{"No message named EEC2 in a"});
    }

    // A DBC of standard messages alone gives a 2.0B project nothing: an empty list would open
    // the gateway to every extended frame.
    void anEmptySelectionIsRefusedUnlessAsked()
    {
        const QList<DbcMessage> standard{{QStringLiteral("Status"), 0x123, false, 1}};
        const DbcSelection none = wholeValue(
            selectDbcMessages(standard, {}, FrameFormat::Extended, QStringLiteral("a.dbc")));
        QVERIFY(none.identifiers.isEmpty());
        QVERIFY(
            !refuseEmptyDbcSelection(none, FrameFormat::Extended, QStringLiteral("a.dbc"), false)
                 .whole());
        QVERIFY(refuseEmptyDbcSelection(none, FrameFormat::Extended, QStringLiteral("a.dbc"), true)
                    .whole());
    }
};

QTEST_GUILESS_MAIN(TestDbcReader)
#include "tst_dbc_reader.moc"
