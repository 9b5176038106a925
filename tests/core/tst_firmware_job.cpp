#include "core/app/app_paths.h"
#include "core/firmware/srec_merge.h"
#include "core/update/device_update.h"
#include "core/update/firmware_job.h"
#include "support/synthetic_firmware.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

#include <memory>
#include <utility>

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

Q_DECLARE_METATYPE(quillner::FlashRefusal)
Q_DECLARE_METATYPE(quillner::MergeResult)

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

MergeResult mergeResult(bool copyCompleted, bool bankInserted, int outcome,
                        const QString& message = {})
{
    MergeResult result;
    result.value.copyCompleted = copyCompleted;
    result.value.bankInserted = bankInserted;
    result.value.outcome = outcome;
    for (const QString& line : message.split(u'\n', Qt::SkipEmptyParts))
        result.problems.append(Problem{{}, {}, line});
    // As the job's merge gives it: a complete file that holds the bank was verified.
    result.value.verified = copyCompleted && bankInserted;
    return result;
}

} // namespace

// The firmware job: where it takes the firmware and puts the merged file, what it cleans up after
// a merge, and the one rule that lets a merged file go to the device.
class TestFirmwareJob : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void plan_data();
    void plan();
    void mergeRemovesOldBankRecordFiles_data();
    void mergeRemovesOldBankRecordFiles();
    void decideFlash_data();
    void decideFlash();
    void flasherCommandLineQuotesThePath_data();
    void flasherCommandLineQuotesThePath();

private:
    QString projectFile(const QString& name) const
    {
        return QDir(m_paths.ProjectDir).filePath(name);
    }
    QString flasherPath() const
    {
        return QDir(m_paths.ExeDir).filePath(QStringLiteral("Morvex.exe"));
    }
    FirmwareJob plannedJob() const { return planFirmwareJob(m_paths, m_paths.MasterDir).value; }

    std::unique_ptr<QTemporaryDir> m_dir;
    AppPaths m_paths;
};

void TestFirmwareJob::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_paths = AppPaths{};
    const QString exeDir = m_dir->filePath(QStringLiteral("Quillner Tool"));
    QVERIFY(QDir().mkpath(exeDir));
    ResolveAppPaths(m_paths, exeDir);
    m_paths.ProjectName = QStringLiteral("/Line 1");
    m_paths.ProjectDir = QDir::toNativeSeparators(m_paths.ProjectsDir + QStringLiteral("/Line 1"));
    SetDocumentPaths(m_paths);
    QVERIFY(QDir().mkpath(projectFile(QStringLiteral("bin"))));
    QVERIFY(writeFile(projectFile(QStringLiteral("bin/bank1.bin")), QByteArray(kBankSize, 'Q')));
    writeSyntheticFirmware(QDir(m_paths.MasterDir).filePath(QStringLiteral("SX51804.sx")), 0x387000,
                           0x38D000, 32, kHeader);
    QVERIFY(writeFile(flasherPath(), "stand-in"));
}

void TestFirmwareJob::cleanup()
{
    m_dir.reset();
}

void TestFirmwareJob::plan_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("firmware and bin folder there") << "";
    QTest::newRow("project folder ending in a separator") << "trailing separator";
    QTest::newRow("no bin folder") << "no bin";
    QTest::newRow("no firmware") << "no firmware";
}

void TestFirmwareJob::plan()
{
    QFETCH(QString, fault);
    const QString sep = QDir::separator();
    const QString projectDir = m_paths.ProjectDir;
    if (fault == QLatin1String("trailing separator"))
        m_paths.ProjectDir += sep;
    if (fault == QLatin1String("no bin"))
        QVERIFY(QDir(projectFile(QStringLiteral("bin"))).removeRecursively());
    if (fault == QLatin1String("no firmware"))
        QVERIFY(QFile::remove(QDir(m_paths.MasterDir).filePath(QStringLiteral("SX51804.sx"))));

    const Result<FirmwareJob> plan = planFirmwareJob(m_paths, m_paths.MasterDir);
    const FirmwareJob& job = plan.value;
    // The bin folder is known even without the firmware; without its folder it is empty, so
    // that no other project's bank is merged.
    QCOMPARE(job.binFolder,
             fault == QLatin1String("no bin") ? QString() : projectDir + sep + "bin" + sep);
    if (fault == QLatin1String("no firmware")) {
        QCOMPARE(problemLines(plan.problems),
                 QStringList{"Error file SX51804.sx not found\nLooked for " + m_paths.MasterDir +
                             sep + "SX51804.sx"});
        return;
    }
    QVERIFY(plan.whole());
    QCOMPARE(job.bank, 1);
    QCOMPARE(job.firmwareName, QStringLiteral("SX51804.sx"));
    QCOMPARE(job.firmwarePath, m_paths.MasterDir + sep + "SX51804.sx");
    QCOMPARE(job.outputFolder, projectDir + sep);
    QCOMPARE(job.newFileName, QStringLiteral("New_SX51804.sx"));
    QCOMPARE(job.mergedPath(), projectDir + sep + "New_SX51804.sx");
    QCOMPARE(job.flasherDir, m_paths.ExeDir);
    QCOMPARE(job.masterDir, m_paths.MasterDir);
}

void TestFirmwareJob::mergeRemovesOldBankRecordFiles_data()
{
    QTest::addColumn<bool>("bankFileThere");
    QTest::newRow("completed merge") << true;
    QTest::newRow("merge stopped at a check") << false;
}

void TestFirmwareJob::mergeRemovesOldBankRecordFiles()
{
    QFETCH(bool, bankFileThere);
    if (!bankFileThere)
        QVERIFY(QFile::remove(projectFile(QStringLiteral("bin/bank1.bin"))));
    for (const char* name : {"B1.sx", "B2.sx", "B3.sx", "B4.sx", "B5.sx", "B6.sx"})
        QVERIFY(writeFile(projectFile(QString::fromLatin1(name)), "S9030000FC\r\n"));
    const FirmwareJob job = plannedJob();

    QList<std::pair<qint64, qint64>> progress;
    const MergeResult result = job.merge([&](qint64 position, qint64 maximum) {
        progress.append({position, maximum});
    });

    QCOMPARE(result.value.copyCompleted, bankFileThere);
    QCOMPARE(QFileInfo::exists(job.mergedPath()), bankFileThere);
    if (bankFileThere) {
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().first, progress.last().second);
    } else {
        QCOMPARE(mergeMessage(result), QStringLiteral("File bank1.bin Not Found,Abort Procedure"));
    }
    for (const char* name : {"B1.sx", "B2.sx", "B3.sx", "B4.sx", "B5.sx"})
        QVERIFY2(!QFile::exists(projectFile(QString::fromLatin1(name))), name);
    QVERIFY(QFile::exists(projectFile(QStringLiteral("B6.sx"))));
}

void TestFirmwareJob::decideFlash_data()
{
    QTest::addColumn<MergeResult>("merged");
    QTest::addColumn<bool>("mergedFileThere");
    QTest::addColumn<bool>("flasherThere");
    QTest::addColumn<FlashRefusal>("refusal");
    QTest::addColumn<QString>("message");

    // A merged file from an earlier press lies in the project folder in every row that has one:
    // a merge that did not complete never lets it through.
    const QString bankMissing = QStringLiteral("Bank 1 Not Found In SX51804.sx, Procedure Aborted");
    QTest::newRow("copy not completed, with its message")
        << mergeResult(false, false, -1, "File bank1.bin Not Found,Abort Procedure") << true << true
        << FlashRefusal::MergeFailed << "File bank1.bin Not Found,Abort Procedure";
    QTest::newRow("copy failed after inserting the bank")
        << mergeResult(false, true, -1, "File New Sx Not Create,Abort Procedure") << true << true
        << FlashRefusal::MergeFailed << "File New Sx Not Create,Abort Procedure";
    QTest::newRow("copy not completed, without a message")
        << mergeResult(false, false, -1) << true << true << FlashRefusal::MergeFailed
        << "File *.Sx Not Found,Abort Procedure";
    QTest::newRow("completed without the bank") << mergeResult(true, false, 0) << true << true
                                                << FlashRefusal::BankNotInFirmware << bankMissing;
    QTest::newRow("completed without the bank and without S9")
        << mergeResult(true, false, -1) << true << true << FlashRefusal::BankNotInFirmware
        << bankMissing;
    QTest::newRow("completed, S9 before the bank")
        << mergeResult(true, true, 0) << true << true << FlashRefusal::None << QString();
    QTest::newRow("completed without S9")
        << mergeResult(true, true, -1) << true << true << FlashRefusal::None << QString();
    QTest::newRow("merged file gone")
        << mergeResult(true, true, 1) << false << true << FlashRefusal::CannotLaunch
        << "File *.Sx Not Found,Abort Procedure";
    QTest::newRow("flashing tool missing")
        << mergeResult(true, true, 1) << true << false << FlashRefusal::CannotLaunch
        << "Morvex.exe Not Found, Procedure Aborted\nLooked in EXE_DIR";
    QTest::newRow("all there") << mergeResult(true, true, 1) << true << true << FlashRefusal::None
                               << QString();
    MergeResult unverified = mergeResult(true, true, 1);
    unverified.value.verified = false;
    QTest::newRow("completed but not verified")
        << unverified << true << true << FlashRefusal::NotVerified
        << "File New Sx Not Verified, Procedure Aborted";
    MergeResult failed = mergeResult(false, true, 1, "File New Sx Not Create,Abort Procedure\nx");
    failed.value.verification = {Problem{{}, {}, "x"}};
    QTest::newRow("verification failed")
        << failed << true << true << FlashRefusal::VerificationFailed
        << "File New Sx Not Create,Abort Procedure\nx";
}

void TestFirmwareJob::decideFlash()
{
    QFETCH(MergeResult, merged);
    QFETCH(bool, mergedFileThere);
    QFETCH(bool, flasherThere);
    QFETCH(FlashRefusal, refusal);
    QFETCH(QString, message);
    const FirmwareJob job = plannedJob();
    if (mergedFileThere)
        QVERIFY(writeFile(job.mergedPath(), "S0 from a merge\r\n"));
    if (!flasherThere)
        QVERIFY(QFile::remove(flasherPath()));

    const FlashDecision decision = job.decideFlash(merged, 2);
    QCOMPARE(decision.refusal, refusal);
    QCOMPARE(decision.refused(), refusal != FlashRefusal::None);
    if (decision.refused()) {
        QCOMPARE(problemLines(decision.launch.problems),
                 QStringList{QString(message).replace(QStringLiteral("EXE_DIR"),
                                                      QDir::toNativeSeparators(m_paths.ExeDir))});
        // Nothing a refused decision holds could start the tool.
        QCOMPARE(decision.launch.value.program, QString());
        return;
    }
    QVERIFY(decision.launch.whole());
    const FlasherLaunch& launch = decision.launch.value;
    QCOMPARE(launch.program, flasherPath());
    QCOMPARE(launch.arguments, QStringList({projectFile(QStringLiteral("New_SX51804.sx")), "2"}));
    QCOMPARE(launch.workingDirectory, m_paths.MasterDir);
}

void TestFirmwareJob::flasherCommandLineQuotesThePath_data()
{
    QTest::addColumn<QString>("mergedFile");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("commandLine");
    QTest::newRow("path without blanks") << "C:\\Tool\\PROJECTS\\Line1\\New_SX51804.sx" << 2
                                         << "\"C:\\Tool\\PROJECTS\\Line1\\New_SX51804.sx\" 2";
    QTest::newRow("path with blanks")
        << "C:\\Quillner Tool\\PROJECTS\\Line 1\\New_SX51804.sx" << 7
        << "\"C:\\Quillner Tool\\PROJECTS\\Line 1\\New_SX51804.sx\" 7";
}

void TestFirmwareJob::flasherCommandLineQuotesThePath()
{
    QFETCH(QString, mergedFile);
    QFETCH(int, port);
    QFETCH(QString, commandLine);
    const FlasherLaunch launch =
        flasherLaunch(QStringLiteral("C:\\Quillner Tool"), mergedFile, port, QString());
    QCOMPARE(flasherCommandLine(launch), commandLine);
}

QTEST_GUILESS_MAIN(TestFirmwareJob)
#include "tst_firmware_job.moc"
