#include "core/app/error.h"
#include "core/app/project_lock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <thread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;
using quillner::Error;
using quillner::ProjectLock;

class TestProjectLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondLockWaitsThenSaysBusy();
    void lockIsFreeAgainAfterUnlockOrScope();
    void waiterTakesTheLockWhenTheOtherEnds();
    void staleLockOfAKilledProcessIsTakenOver();
    void emptyLockFileIsTakenOverOnlyWhenNobodyHoldsIt();
    void oddLockFiles_data();
    void oddLockFiles();
    void noFolderToLock_data();
    void noFolderToLock();
};

void TestProjectLock::secondLockWaitsThenSaysBusy()
{
    QTemporaryDir project;
    const ProjectLock held(project.path());
    try {
        const ProjectLock second(project.path(), 300ms);
        QFAIL("a held project was locked twice");
    } catch (const Error& error) {
        // The second line names the file and the process that holds it.
        QCOMPARE(error.message(),
                 QStringLiteral("Project %1 is busy (another Quillner is updating it)\n%2 is "
                                "held by process %3 (%4 on %5); it is let go when that process "
                                "ends")
                     .arg(project.path(), quillner::projectLockPath(project.path()))
                     .arg(QCoreApplication::applicationPid())
                     .arg(QCoreApplication::applicationName(), QSysInfo::machineHostName()));
    }
    QVERIFY(QFileInfo::exists(quillner::projectLockPath(project.path())));
}

void TestProjectLock::lockIsFreeAgainAfterUnlockOrScope()
{
    QTemporaryDir project;
    {
        ProjectLock first(project.path());
        first.unlock();
        QVERIFY(!QFileInfo::exists(quillner::projectLockPath(project.path())));
        const ProjectLock second(project.path(), 0ms);
    }
    QVERIFY(!QFileInfo::exists(quillner::projectLockPath(project.path())));
    const ProjectLock third(project.path(), 0ms);
}

void TestProjectLock::waiterTakesTheLockWhenTheOtherEnds()
{
    QTemporaryDir project;
    auto first = std::make_unique<ProjectLock>(project.path());
    std::thread other([&first] {
        std::this_thread::sleep_for(200ms);
        first.reset();
    });
    bool locked = false;
    try {
        const ProjectLock second(project.path(), 10s);
        locked = true;
    } catch (const Error&) {
    }
    other.join();
    QVERIFY(locked);
}

void TestProjectLock::staleLockOfAKilledProcessIsTakenOver()
{
#ifdef Q_OS_UNIX
    QTemporaryDir project;
    const QString lockPath = quillner::projectLockPath(project.path());
    // A process that takes the lock and is killed while holding it.
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        QLockFile lock(lockPath);
        if (lock.tryLock(0))
            ::kill(::getpid(), SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QVERIFY(QFileInfo::exists(lockPath));

    const ProjectLock taken(project.path(), 0ms);
    QVERIFY(QFileInfo::exists(lockPath));
#else
    QSKIP("The killed owner is made with fork()");
#endif
}

// A process killed between making the lock file and writing its id into it leaves the file
// empty; a running process that has just made it holds it all the same.
void TestProjectLock::emptyLockFileIsTakenOverOnlyWhenNobodyHoldsIt()
{
#ifdef Q_OS_UNIX
    QTemporaryDir project;
    const QString lockPath = quillner::projectLockPath(project.path());
    const QByteArray nativePath = QFile::encodeName(lockPath);
    const int fd = ::open(nativePath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    try {
        const ProjectLock second(project.path(), 200ms);
        QFAIL("a lock file held by a running owner was taken over");
    } catch (const Error& error) {
        QVERIFY2(error.message().contains(QStringLiteral("is busy")), qPrintable(error.message()));
    }
    ::close(fd); // the owner is gone: its file stays, empty

    const ProjectLock taken(project.path(), 0ms);
    QVERIFY(QFileInfo(lockPath).size() > 0);
#else
    QSKIP("The owner's hold is an flock");
#endif
}

// What a crash, a careless hand or a hostile one leaves as a lock file. One that names no owner
// and that nobody holds is taken over; anything else is refused at once (a FIFO never holds the
// open), naming the file and how to remove it safely.
void TestProjectLock::oddLockFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("refusal"); // empty: taken over
    const QByteArray none;
    QTest::newRow("FIFO") << "fifo" << none << "is a FIFO, not a lock file; remove ";
    QTest::newRow("40 NUL bytes") << "file" << QByteArray(40, '\0') << QString();
    QTest::newRow("junk") << "file" << QByteArray("\x89PNG\r\n\x1a\n??") << QString();
    QTest::newRow("a single line feed") << "file" << QByteArray("\n") << QString();
    QTest::newRow("pid 0") << "file" << QByteArray("pid 0") << QString();
    QTest::newRow("process 0") << "file" << QByteArray("0\nquillner-cli\n") << QString();
    QTest::newRow("a folder") << "folder" << none << "is a folder, not a lock file; remove ";
    QTest::newRow("a dangling symlink")
        << "symlink" << none << "is a symbolic link, not a lock file; remove ";
    QTest::newRow("junk held by a running process")
        << "held" << QByteArray("junk") << "is held by a running process; it is let go when";
    QTest::newRow("an owner of another host")
        << "file" << QByteArray("1\nquillner-cli\nstation-on-another-host\n")
        << "names process 1 (quillner-cli on station-on-another-host), which this host cannot "
           "see; remove ";
}

void TestProjectLock::oddLockFiles()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, refusal);
    QTemporaryDir project;
    const QString lockPath = quillner::projectLockPath(project.path());
    const QByteArray nativePath = QFile::encodeName(lockPath);
    int holder = -1;
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(nativePath.constData(), 0600), 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(lockPath));
    } else if (kind == QLatin1String("symlink")) {
        QVERIFY(QFile::link(project.filePath(QStringLiteral("nowhere")), lockPath));
    } else {
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        file.close();
        if (kind == QLatin1String("held")) {
            holder = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
            QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
        }
    }
    try {
        const ProjectLock lock(project.path(), 0ms);
        QVERIFY2(refusal.isEmpty(), "an odd lock file was taken over");
        // Taken over: it names this process now.
        QCOMPARE(QFile(lockPath).size() > 0, true);
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
    } catch (const Error& error) {
        QVERIFY2(!refusal.isEmpty(), qPrintable(error.message()));
        QVERIFY2(error.message().startsWith(quillner::projectBusyMessage(project.path()) + u'\n' +
                                            lockPath + u' ' + refusal),
                 qPrintable(error.message()));
        // Nothing was written or removed through it.
        QCOMPARE(QFileInfo(lockPath).isSymLink(), kind == QLatin1String("symlink"));
        QVERIFY(!QFileInfo::exists(project.filePath(QStringLiteral("nowhere"))));
        QCOMPARE(QFileInfo(lockPath).isDir(), kind == QLatin1String("folder"));
    }
    if (holder >= 0)
        ::close(holder);
#else
    QSKIP("FIFOs, symbolic links and flock are those of Unix");
#endif
}

void TestProjectLock::noFolderToLock_data()
{
    QTest::addColumn<QString>("projectDir");
    QTest::addColumn<QString>("message");
    QTest::newRow("no project") << QString() << "Project not valid";
    QTest::newRow("missing folder")
        << QDir::tempPath() + QStringLiteral("/quillner-no-such-project/P")
        << "Cannot create file \"" + QDir::tempPath() + "/quillner-no-such-project/P/";
}

void TestProjectLock::noFolderToLock()
{
    QFETCH(QString, projectDir);
    QFETCH(QString, message);
    try {
        const ProjectLock lock(projectDir, 0ms);
        QFAIL("a project without a folder was locked");
    } catch (const Error& error) {
        QVERIFY2(error.message().startsWith(message), qPrintable(error.message()));
    }
}

QTEST_GUILESS_MAIN(TestProjectLock)
#include "tst_project_lock.moc"
