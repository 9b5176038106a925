#include "core/app/atomic_file.h"
#include "file_size_limit.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillner;
using namespace quillner::testing;

namespace {

const QByteArray kOldContent("S0 the old merge\r\n");

// Writes go to /dev/full instead, which takes none of them: "No space left on device".
ssize_t writeToFullDevice(int, const void* data, size_t length)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    const ssize_t written = ::write(full, data, length);
    const int reason = errno;
    ::close(full);
    errno = reason;
    return written;
}

// The disk reports that the bytes did not reach it.
int failingSync(int)
{
    errno = EIO;
    return -1;
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // However the writing fails, the old file stays whole and nothing is left beside it.
    void failureKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fullDevice");
        QTest::addColumn<bool>("syncFails");
        QTest::addColumn<int>("sizeLimit"); // 0: none
        QTest::addColumn<QString>("cause");
        QTest::newRow("a full disk takes no byte")
            << 1000 << true << false << 0 << "No space left on device";
        QTest::newRow("a file size limit stops a write short")
            << 300000 << false << false << 100000 << "File too large";
        QTest::newRow("the bytes do not reach the disk")
            << 1000 << false << true << 0 << "Input/output error";
    }

    void failureKeepsTheOldFile()
    {
        QFETCH(int, size);
        QFETCH(bool, fullDevice);
        QFETCH(bool, syncFails);
        QFETCH(int, sizeLimit);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        const QString path = dir.filePath("New_SX51804.sx");
        QVERIFY(writeFile(path, kOldContent));

        AtomicFile::Options options;
        if (fullDevice)
            options.write = writeToFullDevice;
        if (syncFails)
            options.sync = failingSync;
        AtomicFile file(path, options);
        QVERIFY(file.create().whole());
        Result<Done> committed;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit > 0)
                limit.emplace(rlim_t(sizeLimit));
            // Written in pieces, as the merge writes: every piece after the failure fails too.
            const QByteArray piece(size / 4, 'S');
            bool allWritten = true;
            for (int i = 0; i < 4; ++i)
                allWritten = file.write(piece) == piece.size() && allWritten;
            QCOMPARE(allWritten, !fullDevice && sizeLimit == 0);
            committed = file.commit();
        }
        QCOMPARE(problemLines(committed.problems),
                 QStringList{QStringLiteral("Cannot create file \"%1\". %2").arg(path, cause)});
        QCOMPARE(readFile(path), kOldContent);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"New_SX51804.sx"});
    }

    // A file written whole takes the target's name, in place of a file or of a symbolic link,
    // whose target stays as it was; one dropped before it is committed leaves nothing.
    void commitReplacesTheTarget_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("committed");
        QTest::newRow("a file, committed") << false << true;
        QTest::newRow("a symbolic link, committed") << true << true;
        QTest::newRow("a file, dropped") << false << false;
    }

    void commitReplacesTheTarget()
    {
        QFETCH(bool, link);
        QFETCH(bool, committed);
        QTemporaryDir dir;
        const QString path = dir.filePath("New_SX51804.sx");
        const QString linked = dir.filePath("elsewhere.sx");
        QVERIFY(writeFile(link ? linked : path, kOldContent));
        if (link)
            QVERIFY(QFile::link(linked, path));
        const QByteArray content(200000, 'S');
        {
            AtomicFile file(path);
            QVERIFY(file.create().whole());
            QVERIFY(file.asidePath().startsWith(path + '.'));
            QCOMPARE(file.write(content), qint64(content.size()));
            if (committed)
                QVERIFY(file.commit().whole());
        }
        QCOMPARE(readFile(path), committed ? content : kOldContent);
        QCOMPARE(QFileInfo(path).isSymLink(), link && !committed);
        if (link)
            QCOMPARE(readFile(linked), kOldContent);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), link ? 2 : 1);
    }

    // Permissions asked for are the file's from its first byte; without, a new file's usual ones.
    void permissions_data()
    {
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("expected");
        QTest::newRow("a secret") << true << int(QFile::ReadOwner | QFile::WriteOwner);
        QTest::newRow("the system's") << false << -1;
    }

    void permissions()
    {
        QFETCH(bool, asked);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("key.sec");
        AtomicFile::Options options;
        if (asked)
            options.permissions = QFile::ReadOwner | QFile::WriteOwner;
        AtomicFile file(path, options);
        QVERIFY(file.create().whole());
        const QFileDevice::Permissions aside = QFileInfo(file.asidePath()).permissions();
        QVERIFY(file.commit().whole());
        const QFileDevice::Permissions owner = QFile::ReadOwner | QFile::WriteOwner |
                                               QFile::ReadGroup | QFile::ReadOther |
                                               QFile::WriteGroup | QFile::WriteOther;
        const QFileDevice::Permissions made = QFileInfo(path).permissions() & owner;
        QCOMPARE(QFileInfo(file.asidePath()).exists(), false);
        if (expected >= 0) {
            QCOMPARE(int(made), expected);
            QCOMPARE(int(aside & owner), expected);
        } else {
            // What the process's umask leaves of a file readable and writable by all.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            QCOMPARE(bool(made & QFile::WriteOther), !(mask & 02));
            QCOMPARE(bool(made & QFile::ReadOwner), true);
        }
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomic_file.moc"
