// quillner-cli update under hostile conditions: several at once on one project, killed at any
// moment while it merges a large firmware, and on a full disk. Whatever happens, each output
// (bin/bank1.bin, bin/bankg.c, New_SX51804.sx) is absent, the earlier file or the complete new
// one, and the next run leaves nothing else behind.

#include "core/app/project_lock.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include "support/file_wait.h"
#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using quillner::testing::readFile;
using quillner::testing::waitForFile;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";
const QStringList kOutputs = {QStringLiteral("bin/bank1.bin"), QStringLiteral("bin/bankg.c"),
                              QStringLiteral("New_SX51804.sx")};

using quillner::testing::Run;

// What a project's outputs hold: a digest of each, empty for an absent one.
using Outputs = QList<QByteArray>;

Outputs outputsOf(const QString& project)
{
    Outputs digests;
    for (const QString& output : kOutputs) {
        const QString path = QDir(project).filePath(output);
        digests << (QFileInfo::exists(path)
                        ? QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256)
                        : QByteArray());
    }
    return digests;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

QStringList projectEntries(const QString& project)
{
    return entries(project) + entries(project + QStringLiteral("/bin"));
}

void makeProject(const QString& project, int serialBaud)
{
    QVERIFY(QDir().mkpath(project + QStringLiteral("/bin")));
    quillner::GeneralParameters parameters;
    parameters.Ser_Baud = serialBaud;
    quillner::saveGeneralParameters(project + QStringLiteral("/pargen.xml"), parameters);
    // A saved filter, so that the update has nothing to warn about.
    quillner::saveFilter20A(project + QStringLiteral("/Filter20A.xml"), quillner::Filter20A{});
}

// Each output of the project is absent, the earlier one or the new one.
bool outputsAreWhole(const QString& project, const Outputs& earlier, const Outputs& fresh,
                     QString* fault)
{
    const Outputs now = outputsOf(project);
    for (int i = 0; i < kOutputs.size(); ++i) {
        if (now[i].isEmpty() || now[i] == earlier[i] || now[i] == fresh[i])
            continue;
        *fault = kOutputs[i] + QStringLiteral(" is neither the earlier file nor the new one");
        return false;
    }
    return true;
}

// A manifest, where there is one, names the merged file beside it: a killed update may leave
// none, never one of another file.
bool manifestFitsTheMergedFile(const QString& project, QString* fault)
{
    const QString manifestPath = QDir(project).filePath(QStringLiteral("manifest.json"));
    if (!QFileInfo::exists(manifestPath))
        return true;
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(manifestPath)).object();
    const QByteArray merged = readFile(QDir(project).filePath(QStringLiteral("New_SX51804.sx")));
    const QString named = manifest.value(QStringLiteral("merged"))
                              .toObject()
                              .value(QStringLiteral("sha256"))
                              .toString();
    if (named ==
        QString::fromLatin1(QCryptographicHash::hash(merged, QCryptographicHash::Sha256).toHex()))
        return true;
    *fault = QStringLiteral("manifest.json names another merged file");
    return false;
}

// The merged file being written beside its place (New_SX51804.sx and a suffix of its own);
// empty while there is none.
QString asideMerge(const QString& project)
{
    const QFileInfoList aside = QDir(project).entryInfoList(
        {QStringLiteral("New_SX51804.sx.*")}, QDir::Files | QDir::Hidden | QDir::System);
    return aside.isEmpty() ? QString() : aside.first().filePath();
}

// Waits until the child has stopped or ended, leaving it for QProcess to collect; true when it
// stopped.
bool waitUntilStopped(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid), &info, WSTOPPED | WEXITED | WNOWAIT) == 0 &&
           info.si_code == CLD_STOPPED;
}

// Reads the update's output until "Written:", which says that its bank files are saved and the
// merge of the firmware begins; false when it ends or stays silent before.
bool waitForMerge(QProcess& process)
{
    QByteArray out;
    while (!out.contains("Written:")) {
        if (!process.waitForReadyRead(60000))
            return false;
        out += process.readAllStandardOutput();
    }
    return true;
}

} // namespace

class TestCliCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void concurrentUpdatesTakeTurns();
    void updateKilledWhileMergingTakesOverItsLock();
    void killedUpdateLeavesWholeFilesOrNone();
    void fullDiskLeavesWholeFiles_data();
    void fullDiskLeavesWholeFiles();
    void nothingOfTheFlasherOutlivesTheUpdate_data();
    void nothingOfTheFlasherOutlivesTheUpdate();

private:
    QStringList updateArguments(const QString& project, const QString& master) const;
    Run update(const QString& project, const QString& master,
               const std::function<void()>& childSetUp = {}) const;
    // The outputs of a clean update of a fresh project with these settings and firmware.
    Outputs referenceOutputs(int serialBaud, const QString& master) const;

    std::unique_ptr<QTemporaryDir> m_firmwares;
    QString m_largeMaster;  // about 20 MB of records
    QString m_smallMaster;  // about 120 KB
    QString m_mediumMaster; // about 2 MB
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_project;
    QString m_mount;
};

void TestCliCrash::initTestCase()
{
#ifndef Q_OS_UNIX
    QSKIP("Kills and file size limits are POSIX");
#endif
    m_firmwares = std::make_unique<QTemporaryDir>();
    QVERIFY(m_firmwares->isValid());
    m_largeMaster = m_firmwares->filePath(QStringLiteral("large"));
    m_smallMaster = m_firmwares->filePath(QStringLiteral("small"));
    m_mediumMaster = m_firmwares->filePath(QStringLiteral("medium"));
    for (const QString& folder : {m_largeMaster, m_smallMaster, m_mediumMaster})
        QVERIFY(QDir().mkpath(folder));
    quillner::writeSyntheticFirmware(m_largeMaster + QStringLiteral("/SX51804.sx"), 0x000000,
                                     0x800000, 32, kHeader);
    quillner::writeSyntheticFirmware(m_smallMaster + QStringLiteral("/SX51804.sx"), 0x384000,
                                     0x390000, 32, kHeader);
    quillner::writeSyntheticFirmware(m_mediumMaster + QStringLiteral("/SX51804.sx"), 0x300000,
                                     0x3C0000, 32, kHeader);
}

void TestCliCrash::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_project = m_dir->filePath(QStringLiteral("PROJECTS/Line"));
}

void TestCliCrash::cleanup()
{
    if (!m_mount.isEmpty()) {
        QProcess::execute(QStringLiteral("umount"), {m_mount});
        m_mount.clear();
    }
    m_dir.reset();
}

QStringList TestCliCrash::updateArguments(const QString& project, const QString& master) const
{
    return {QStringLiteral("update"), project,      QStringLiteral("--master"), master,
            QStringLiteral("--home"), m_dir->path()};
}

Run TestCliCrash::update(const QString& project, const QString& master,
                         const std::function<void()>& childSetUp) const
{
    QProcess process;
    if (childSetUp)
        process.setChildProcessModifier(childSetUp);
    process.start(QStringLiteral(QUILLNER_CLI), updateArguments(project, master));
    Run run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

Outputs TestCliCrash::referenceOutputs(int serialBaud, const QString& master) const
{
    const QString twin = m_dir->filePath(QStringLiteral("reference/%1").arg(serialBaud));
    makeProject(twin, serialBaud);
    const Run run = update(twin, master);
    if (run.exitCode != 0)
        qWarning("reference update failed: %s", qPrintable(run.err));
    return outputsOf(twin);
}

void TestCliCrash::concurrentUpdatesTakeTurns()
{
    makeProject(m_project, 7);
    const Outputs expected = referenceOutputs(7, m_smallMaster);
    std::vector<std::unique_ptr<QProcess>> updates;
    for (int i = 0; i < 6; ++i) {
        updates.push_back(std::make_unique<QProcess>());
        updates.back()->start(QStringLiteral(QUILLNER_CLI),
                              updateArguments(m_project, m_smallMaster));
    }
    int succeeded = 0;
    for (const auto& process : updates) {
        QVERIFY(process->waitForFinished(120000));
        const QString err = QString::fromUtf8(process->readAllStandardError());
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        if (process->exitCode() == 0) {
            ++succeeded;
            continue;
        }
        // A late one waited in vain, and says so; nothing else may go wrong.
        QCOMPARE(process->exitCode(), 1);
        QVERIFY2(
            err.startsWith(QStringLiteral("error: %1\n%2 is held by ")
                               .arg(quillner::projectBusyMessage(QDir(m_project).absolutePath()),
                                    quillner::projectLockPath(QDir(m_project).absolutePath()))),
            qPrintable(err));
    }
    QVERIFY(succeeded >= 1);
    QCOMPARE(outputsOf(m_project), expected);
    QCOMPARE(projectEntries(m_project),
             QStringList({"Filter20A.xml", "New_SX51804.sx", "bin", "manifest.json", "pargen.xml",
                          "bank1.bin", "bankg.c"}));
}

void TestCliCrash::updateKilledWhileMergingTakesOverItsLock()
{
    makeProject(m_project, 7);
    // Killed once its merge of 20 MB has begun; an update that ends before the kill reaches it
    // is tried again.
    bool killed = false;
    for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
        QProcess process;
        process.start(QStringLiteral(QUILLNER_CLI), updateArguments(m_project, m_largeMaster));
        QVERIFY(waitForMerge(process));
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished(60000));
        killed = process.exitStatus() == QProcess::CrashExit;
    }
    QVERIFY(killed);
    QVERIFY(QFileInfo::exists(quillner::projectLockPath(m_project)));

    const Run next = update(m_project, m_largeMaster);
    QCOMPARE(next.err, QString());
    QCOMPARE(next.exitCode, 0);
    QVERIFY(!QFileInfo::exists(quillner::projectLockPath(m_project)));
}

void TestCliCrash::killedUpdateLeavesWholeFilesOrNone()
{
    makeProject(m_project, 7);
    QCOMPARE(update(m_project, m_largeMaster).exitCode, 0);
    const Outputs earlier = outputsOf(m_project);

    // The new settings' outputs, made in a project of their own.
    const QString twin = m_dir->filePath(QStringLiteral("reference"));
    makeProject(twin, 3);
    QCOMPARE(update(twin, m_largeMaster).exitCode, 0);
    const Outputs fresh = outputsOf(twin);
    QVERIFY(fresh != earlier);
    const qint64 mergedSize = QFileInfo(twin + QStringLiteral("/New_SX51804.sx")).size();

    // Each update is stopped at a point of its own: as it starts, once its bank files are
    // written, and then as the merged file beside its place has grown to a share of its size.
    // It is frozen there (SIGSTOP), so that what it left is looked at while it still holds that
    // point, and killed; a kill meant for the merge counts only when the file beside was there
    // under the frozen process.
    makeProject(m_project, 3);
    constexpr int kMergeKills = 8;
    int killedMidMerge = 0;
    for (int attempt = 0;
         attempt < kMergeKills + 2 + 3 * kMergeKills && killedMidMerge < kMergeKills; ++attempt) {
        QProcess process;
        process.start(QStringLiteral(QUILLNER_CLI), updateArguments(m_project, m_largeMaster));
        QVERIFY(process.waitForStarted());
        const pid_t pid = pid_t(process.processId());
        bool midMerge = false;
        if (attempt == 1) {
            QVERIFY(waitForMerge(process));
        } else if (attempt >= 2) {
            const qint64 share = mergedSize * (killedMidMerge + 1) / (kMergeKills + 1);
            waitForFile(
                m_project, [&] { return !asideMerge(m_project).isEmpty(); }, &process);
            const QString aside = asideMerge(m_project);
            if (!aside.isEmpty())
                waitForFile(
                    aside, [&] { return QFileInfo(aside).size() >= share; }, &process);
        }
        // An update that ended first is collected already and its process number may be
        // another's: it is not signalled. One that ends meanwhile stays a zombie until collected.
        if (process.state() != QProcess::NotRunning) {
            ::kill(pid, SIGSTOP);
            const bool stopped = waitUntilStopped(pid);
            if (attempt >= 2)
                midMerge = stopped && !asideMerge(m_project).isEmpty();
            ::kill(pid, SIGKILL);
            QVERIFY(process.waitForFinished(60000));
        }
        killedMidMerge += midMerge;
        QString fault;
        QVERIFY2(outputsAreWhole(m_project, earlier, fresh, &fault),
                 qPrintable(QStringLiteral("update %1: %2").arg(attempt).arg(fault)));
        QVERIFY2(manifestFitsTheMergedFile(m_project, &fault),
                 qPrintable(QStringLiteral("update %1: %2").arg(attempt).arg(fault)));
    }
    QCOMPARE(killedMidMerge, kMergeKills);

    const Run next = update(m_project, m_largeMaster);
    QCOMPARE(next.err, QString());
    QCOMPARE(next.exitCode, 0);
    QCOMPARE(outputsOf(m_project), fresh);
    // No temporary file, no lock: only the documents and the outputs.
    QCOMPARE(projectEntries(m_project),
             QStringList({"Filter20A.xml", "New_SX51804.sx", "bin", "manifest.json", "pargen.xml",
                          "bank1.bin", "bankg.c"}));
}

void TestCliCrash::fullDiskLeavesWholeFiles_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::addColumn<bool>("bankSourceFails"); // else the merge of a larger firmware fails
    QTest::addColumn<QString>("failedOutput");
    QTest::addColumn<QStringList>("message");
    // On a full disk; the second update runs out while writing bankg.c, or while merging.
    QTest::newRow("full disk, bank source")
        << true << true << "bin/bankg.c"
        << QStringList{"Cannot create file", "bankg.c", "No space left on device"};
    QTest::newRow("full disk, merge")
        << true << false << "New_SX51804.sx"
        << QStringList{"File New Sx Not Create,Abort Procedure", "No space left on device"};
    // Under a file size limit of the process.
    QTest::newRow("file size limit, bank source")
        << false << true << "bin/bankg.c"
        << QStringList{"Cannot create file", "bankg.c", "File too large"};
    QTest::newRow("file size limit, merge")
        << false << false << "New_SX51804.sx"
        << QStringList{"File New Sx Not Create,Abort Procedure", "File too large"};
}

void TestCliCrash::fullDiskLeavesWholeFiles()
{
    QFETCH(bool, tmpfs);
    QFETCH(bool, bankSourceFails);
    QFETCH(QString, failedOutput);
    QFETCH(QStringList, message);
#ifdef Q_OS_UNIX
    const QString disk = m_dir->filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    if (tmpfs) {
        if (::geteuid() != 0)
            QSKIP("Mounting a small file system needs root");
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=1m"), QStringLiteral("tmpfs"), disk});
        if (!mount.waitForFinished() || mount.exitStatus() != QProcess::NormalExit ||
            mount.exitCode() != 0)
            QSKIP("No small file system can be mounted here");
        m_mount = disk;
    }
    const QString project = disk + QStringLiteral("/Line");
    makeProject(project, 7);
    QCOMPARE(update(project, m_smallMaster).exitCode, 0);
    const Outputs earlier = outputsOf(project);

    const QString secondMaster = bankSourceFails ? m_smallMaster : m_mediumMaster;
    const Outputs fresh = referenceOutputs(3, secondMaster);
    makeProject(project, 3);
    std::function<void()> limit;
    if (tmpfs && bankSourceFails) {
        // Room for bank1.bin, not for bankg.c (118 KB).
        const qint64 available = QStorageInfo(disk).bytesAvailable();
        QVERIFY(writeFile(disk + QStringLiteral("/filler"),
                          QByteArray(int(available - 64 * 1024), 'F')));
    } else if (!tmpfs) {
        const rlim_t largest = bankSourceFails ? 64 * 1024 : 1024 * 1024;
        limit = [largest] {
            // Past the limit a write fails with EFBIG instead of ending the process.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limited{largest, largest};
            setrlimit(RLIMIT_FSIZE, &limited);
        };
    }
    const Run second = update(project, secondMaster, limit);
    QCOMPARE(second.exitCode, 1);
    for (const QString& part : message)
        QVERIFY2(second.err.contains(part), qPrintable(second.err));

    QString fault;
    QVERIFY2(outputsAreWhole(project, earlier, fresh, &fault), qPrintable(fault));
    const Outputs now = outputsOf(project);
    const qsizetype failed = kOutputs.indexOf(failedOutput);
    QVERIFY(now[failed] != fresh[failed]);
    QCOMPARE(entries(project + QStringLiteral("/bin")), QStringList({"bank1.bin", "bankg.c"}));
#else
    Q_UNUSED(tmpfs);
    Q_UNUSED(bankSourceFails);
    Q_UNUSED(failedOutput);
    Q_UNUSED(message);
#endif
}

// A flashing tool that hands the writing to a child of its own and waits: every process of its
// tree holds device.lock, so the lock is free exactly when nothing of the tool runs any more.
// clang-format off
constexpr auto kForkingFlasher = R"sh(#!/bin/bash
exec {device}>>"$(dirname "$0")/device.lock"
flock -n $device || { echo "device taken"; exit 9; }
( exec sleep 600 ) &
echo "writing on port $2"
wait
)sh";
// clang-format on

// update --flash --wait ends with the tool's whole tree, whether the time is up or the command
// is asked to end.
void TestCliCrash::nothingOfTheFlasherOutlivesTheUpdate_data()
{
    QTest::addColumn<int>("signal"); // 0: none, the timeout ends the tool
    QTest::newRow("timeout") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestCliCrash::nothingOfTheFlasherOutlivesTheUpdate()
{
    QFETCH(int, signal);
    const QString flasher = m_dir->filePath(QStringLiteral("Morvex.exe"));
    QVERIFY(writeFile(flasher, kForkingFlasher));
    QVERIFY(QFile::setPermissions(flasher, QFile::permissions(flasher) | QFileDevice::ExeOwner));
    makeProject(m_project, 9600);
    QStringList arguments =
        updateArguments(m_project, m_smallMaster) + QStringList{"--flash", "--port", "2", "--wait"};
    if (signal == 0)
        arguments << QStringLiteral("--timeout") << QStringLiteral("1");

    QProcess process;
    process.start(QStringLiteral(QUILLNER_CLI), arguments);
    QByteArray out;
    while (!out.contains("writing on port 2")) {
        QVERIFY2(process.waitForReadyRead(60000), out.constData());
        out += process.readAllStandardOutput();
    }
    if (signal != 0)
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(60000));
    if (signal == 0) {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 5);
    } else {
        // It ends as the signal asks, once the tool has ended.
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    }

    const int device =
        ::open(QFile::encodeName(m_dir->filePath(QStringLiteral("device.lock"))).constData(),
               O_RDONLY | O_CLOEXEC);
    QVERIFY(device >= 0);
    const bool free = ::flock(device, LOCK_EX | LOCK_NB) == 0;
    ::close(device);
    QVERIFY2(free, "a process of the flashing tool still runs after the command ended");
}

QTEST_GUILESS_MAIN(TestCliCrash)
#include "tst_cli_crash.moc"
