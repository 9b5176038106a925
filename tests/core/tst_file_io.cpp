#include "core/app/error.h"
#include "core/app/file_io.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace quillner;
using namespace quillner::testing;

// Lets every write of this process fail past `bytes` bytes, as a full disk does, until it ends.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

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
};

QTEST_GUILESS_MAIN(TestFileIo)
#include "tst_file_io.moc"
