#include "core/app/error.h"
#include "core/app/file_io.h"
#include "file_size_limit.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace quillner;
using namespace quillner::testing;

class TestFileIo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failedWriteKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("size");
        // A small file reaches the disk only in the final flush; a large one on the way.
        QTest::newRow("small, one buffer") << 1000;
        QTest::newRow("bank size") << 16384;
        QTest::newRow("large") << 200000;
    }

    void failedWriteKeepsTheOldFile()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString path = dir.filePath("pargen.xml");
        const QByteArray good("<General_Parameter/>\r\n");
        QVERIFY(writeFile(path, good));

        bool threw = false;
        {
            FileSizeLimit limit(100);
            try {
                writeFileAtomically(path, QByteArray(size, 'x'));
            } catch (const Error& error) {
                threw = error.message().startsWith("Cannot create file \"" + path + "\".");
            }
        }
        QVERIFY(threw);
        QCOMPARE(readFile(path), good);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"pargen.xml"});
    }

    void writeReplacesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("bank1.bin");
        QVERIFY(writeFile(path, "old"));
        writeFileAtomically(path, QByteArray(16384, '\x5A'));
        QCOMPARE(readFile(path), QByteArray(16384, '\x5A'));
    }

    // A file is read whole within its bound, or refused with one message for each reason.
    void readFileBytesKeepsToTheSize_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<QString>("message"); // %1: the path; empty when it reads
        QTest::newRow("exactly the size") << QByteArray(16, 'b') << true << QString();
        QTest::newRow("short of the exact size")
            << QByteArray(15, 'b') << true << "%1 holds 15 bytes, not 16";
        QTest::newRow("past the exact size")
            << QByteArray(40, 'b') << true << "%1 holds 40 bytes, not 16";
        QTest::newRow("within the bound") << QByteArray(3, 'b') << false << QString();
        QTest::newRow("empty within the bound") << QByteArray() << false << QString();
        QTest::newRow("past the bound")
            << QByteArray(17, 'b') << false << "%1 holds more than 16 bytes";
        QTest::newRow("missing") << QByteArray() << true
                                 << "Cannot open file \"%1\". No such file or directory";
        QTest::newRow("a folder") << QByteArray() << true
                                  << "Cannot open file \"%1\". It is not a regular file";
        QTest::newRow("a FIFO") << QByteArray() << false
                                << "Cannot open file \"%1\". It is not a regular file";
    }

    void readFileBytesKeepsToTheSize()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exact);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("bank1.bin");
        const QByteArray tag = QTest::currentDataTag();
        if (tag == "a folder")
            QVERIFY(QDir().mkdir(path));
        else if (tag == "a FIFO")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (tag != "missing")
            QVERIFY(writeFile(path, content));
        const FileSize size = exact ? FileSize::exactly(16) : FileSize::atMost(16);
        try {
            const QByteArray bytes = readFileBytes(path, size);
            QVERIFY2(message.isEmpty(), "the file was read");
            QCOMPARE(bytes, content);
        } catch (const Error& error) {
            QCOMPARE(error.message(), message.arg(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestFileIo)
#include "tst_file_io.moc"
