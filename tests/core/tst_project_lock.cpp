#include "core/app/error.h"
#include "core/app/project_lock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <thread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
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
    void noFolderToLock_data();
    void noFolderToLock();
};

void TestProjectLock::secondLockWaitsThenSaysBusy()
{
    QTemporaryDir project;
    const ProjectLock held(project.path());
    QElapsedTimer waited;
    waited.start();
    try {
        const ProjectLock second(project.path(), 300ms);
        QFAIL("a held project was locked twice");
    } catch (const Error& error) {
        QCOMPARE(error.message(), QStringLiteral("Project %1 is busy (another Quillner is "
                                                 "updating it)")
                                      .arg(project.path()));
    }
    QVERIFY2(waited.elapsed() >= 250, "the second lock gave up without waiting");
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
