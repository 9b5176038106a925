// batch replacing the projects of an earlier batch: nothing of the user's is ever lost, whatever
// runs meanwhile and wherever the batch is killed.

#include "core/app/project_lock.h"
#include "core/firmware/firmware_verify.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "support/file_wait.h"
#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "support/verified_firmware.h"
#include "test_files.h"

#include <memory>
#include <optional>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::waitForFileToExist;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

const QByteArray kTable = "name,serial.baud,can.format,filter.hide\n"
                          "Alpha,115200,,0x100-0x1FF\n"
                          "Beta,19200,2.0B,\n";

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

// Every file below the folder with its bytes, by relative path.
QMap<QString, QByteArray> contentOf(const QString& folder)
{
    QMap<QString, QByteArray> content;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        content.insert(QDir(folder).relativeFilePath(path), readFile(path));
    }
    return content;
}

bool copyFolder(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    const QMap<QString, QByteArray> content = contentOf(from);
    for (auto it = content.cbegin(); it != content.cend(); ++it) {
        if (!writeFile(to + u'/' + it.key(), it.value()))
            return false;
    }
    return true;
}

} // namespace

class TestCliBatchSwap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aFileWrittenMeanwhileIsKept();
    void aSetMadeMeanwhileIsKept();
    void whatAKilledBatchLeftIsFinished_data();
    void whatAKilledBatchLeftIsFinished();
    void killedAnywhereTheNextRunLeavesOnlyProjects();
    void plantedSymlinksAreNeverFollowed_data();
    void plantedSymlinksAreNeverFollowed();

private:
    Run cli(const QStringList& arguments) const;
    QStringList batchArguments(const QString& table = QStringLiteral("batch.csv")) const;
    // Starts a batch and returns once it has built Alpha and waits to put it in place.
    std::unique_ptr<QProcess> startBatchUntilAlphaIsReady();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_master;
    QString m_out;
};

void TestCliBatchSwap::init()
{
#ifdef Q_OS_WIN
    QSKIP("The swap relies on renaming folders that hold open lock files");
#endif
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_master = m_dir->filePath(QStringLiteral("MASTER"));
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_master));
    quillner::writeSyntheticFirmware(m_master + QStringLiteral("/SX51804.sx"), 0x384000, 0x390000,
                                     32, kHeader);
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("batch.csv")), kTable));
    // The projects of an earlier batch.
    const Run first = cli(batchArguments());
    QVERIFY2(first.exitCode == 0, qPrintable(first.err));
    QCOMPARE(entries(m_out), QStringList({"Alpha", "Beta"}));
}

void TestCliBatchSwap::cleanup()
{
    m_dir.reset();
}

Run TestCliBatchSwap::cli(const QStringList& arguments) const
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments, m_dir->path());
}

QStringList TestCliBatchSwap::batchArguments(const QString& table) const
{
    return {QStringLiteral("batch"), table, QStringLiteral("--master"), m_master,
            QStringLiteral("--out"), m_out, QStringLiteral("--jobs"),   QStringLiteral("1")};
}

std::unique_ptr<QProcess> TestCliBatchSwap::startBatchUntilAlphaIsReady()
{
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(m_dir->path());
    process->start(QStringLiteral(QUILLNER_CLI), batchArguments());
    const QString ready = m_out + QStringLiteral("/.quillner-batch/Alpha.new/manifest.json");
    waitForFileToExist(ready, process.get());
    return process;
}

// A file written into a project while its row is rebuilt is never deleted: the batch replaces
// the project only as it was when the row began, under its lock.
void TestCliBatchSwap::aFileWrittenMeanwhileIsKept()
{
    const QString alpha = m_out + QStringLiteral("/Alpha");
    const QMap<QString, QByteArray> before = contentOf(alpha);
    std::optional<quillner::ProjectLock> lock(std::in_place, alpha);
    const std::unique_ptr<QProcess> batch = startBatchUntilAlphaIsReady();
    QVERIFY(QFile::exists(m_out + QStringLiteral("/.quillner-batch/Alpha.new")));
    QVERIFY(writeFile(alpha + QStringLiteral("/notes.txt"), "mine\n"));
    lock.reset();
    QVERIFY(batch->waitForFinished(30000));
    const QString err = QString::fromUtf8(batch->readAllStandardError());
    QCOMPARE(batch->exitCode(), 1);
    QVERIFY2(err.contains(QStringLiteral("changed while its row was built (notes.txt); it is left "
                                         "as it is")),
             qPrintable(err));
    QMap<QString, QByteArray> after = contentOf(alpha);
    QCOMPARE(after.take(QStringLiteral("notes.txt")), QByteArray("mine\n"));
    QCOMPARE(after, before);
    QCOMPARE(entries(m_out), QStringList({"Alpha", "Beta"}));
}

// A set made while the row is rebuilt stays, whichever of the two takes the project first: on
// the older project (the row then fails) or on the new one.
void TestCliBatchSwap::aSetMadeMeanwhileIsKept()
{
    const QString alpha = m_out + QStringLiteral("/Alpha");
    std::optional<quillner::ProjectLock> lock(std::in_place, alpha);
    const std::unique_ptr<QProcess> batch = startBatchUntilAlphaIsReady();
    QProcess set;
    set.start(QStringLiteral(QUILLNER_CLI),
              {QStringLiteral("set"), alpha, QStringLiteral("serial.baud=9600")});
    QVERIFY(set.waitForStarted());
    lock.reset();
    QVERIFY(set.waitForFinished(30000));
    QVERIFY(batch->waitForFinished(30000));
    QCOMPARE(set.exitCode(), 0);
    const Run get = cli({QStringLiteral("get"), alpha, QStringLiteral("serial.baud")});
    QCOMPARE(get.out, QStringLiteral("9600\n"));
    QCOMPARE(entries(m_out), QStringList({"Alpha", "Beta"}));
}

void TestCliBatchSwap::whatAKilledBatchLeftIsFinished_data()
{
    // What the work folder holds when the batch was killed, and what the row's place then
    // holds: the older project, the newer one, or none.
    QTest::addColumn<QString>("place");
    QTest::addColumn<QStringList>("work"); // NAME.state: which project is there
    QTest::addColumn<QString>("afterwards");
    QTest::addColumn<QStringList>("notes");
    const QString removedNew =
        QStringLiteral("removed %1/.quillner-batch/Alpha.new, which a killed "
                       "batch left (a row built and not put in place, or "
                       "the project it replaced)");
    const QString unmarked = QStringLiteral("kept %1/%2: it may be what an earlier version of "
                                            "Quillner left when killed, or a copy of yours; no "
                                            "batch marked it, so it is left for you to remove");
    QTest::newRow("building")
        << "older" << QStringList{"Alpha.build=partial"} << "older"
        << QStringList{"removed %1/.quillner-batch/Alpha.build, a row a killed batch was building"};
    QTest::newRow("built, not in place")
        << "older" << QStringList{"Alpha.new=newer"} << "older" << QStringList{removedNew};
    QTest::newRow("between the two steps of the swap")
        << "" << QStringList{"Alpha.old=older", "Alpha.new=newer"} << "older"
        << QStringList{"restored %1/Alpha, which a killed batch had moved aside", removedNew};
    QTest::newRow("after the swap, the older one aside")
        << "newer" << QStringList{"Alpha.old=older"} << "newer"
        << QStringList{
               "removed %1/.quillner-batch/Alpha.old, the project a killed batch had replaced"};
    QTest::newRow("after the swap")
        << "newer" << QStringList{"Alpha.new=older"} << "newer" << QStringList{removedNew};
    QTest::newRow("a file of the user's in the older project")
        << "newer" << QStringList{"Alpha.new=older+notes"} << "newer"
        << QStringList{removedNew, "%1/Alpha.kept holds what was written into %1/Alpha while it "
                                   "was replaced (notes.txt)"};
    // Earlier versions built rows in hidden folders beside the projects, unmarked: what looks
    // like one is kept and named, for it may as well be a copy of the user's.
    QTest::newRow("earlier version: building")
        << "older" << QStringList{"../.Alpha.Xy12Z9=partial"} << "older"
        << QStringList{unmarked.arg(QStringLiteral("%1"), QStringLiteral(".Alpha.Xy12Z9"))};
    QTest::newRow("earlier version: the older project aside")
        << "" << QStringList{"../.Alpha.k3J9q0/Alpha=older"} << ""
        << QStringList{unmarked.arg(QStringLiteral("%1"), QStringLiteral(".Alpha.k3J9q0"))};
    QTest::newRow("a user's hidden copy")
        << "older" << QStringList{"../.Alpha.backup=older"} << "older"
        << QStringList{unmarked.arg(QStringLiteral("%1"), QStringLiteral(".Alpha.backup"))};
    QTest::newRow("a user's hidden folder named like one")
        << "older" << QStringList{"../.Demo.2024q1/Demo=newer"} << "older"
        << QStringList{unmarked.arg(QStringLiteral("%1"), QStringLiteral(".Demo.2024q1"))};
}

// A batch killed at any step leaves a state that the next run finishes or rolls back: the row's
// place holds one whole project, the work folder goes, and what the user wrote is kept.
void TestCliBatchSwap::whatAKilledBatchLeftIsFinished()
{
    QFETCH(QString, place);
    QFETCH(QStringList, work);
    QFETCH(QString, afterwards);
    QFETCH(QStringList, notes);
    // Two projects of Alpha's: as built (older) and with another baud rate (newer).
    const QString alpha = m_out + QStringLiteral("/Alpha");
    const QString older = m_dir->filePath(QStringLiteral("older"));
    const QString newer = m_dir->filePath(QStringLiteral("newer"));
    QVERIFY(copyFolder(alpha, older));
    QVERIFY(copyFolder(alpha, newer));
    QCOMPARE(cli({QStringLiteral("set"), newer, QStringLiteral("serial.baud=9600")}).exitCode, 0);
    QCOMPARE(cli({QStringLiteral("update"), newer, QStringLiteral("--master"), m_master}).exitCode,
             0);
    const auto project = [&](const QString& which) {
        if (which.isEmpty())
            return QMap<QString, QByteArray>();
        return which == QLatin1String("older") ? contentOf(older) : contentOf(newer);
    };

    QVERIFY(QDir(alpha).removeRecursively());
    if (!place.isEmpty())
        QVERIFY(copyFolder(place == QLatin1String("older") ? older : newer, alpha));
    const QString workFolder = m_out + QStringLiteral("/.quillner-batch/");
    QStringList expected{QStringLiteral("Beta")};
    QMap<QString, QMap<QString, QByteArray>> leftBeside; // what a killed batch did not mark
    for (const QString& item : work) {
        const QString at = QDir::cleanPath(workFolder + item.section(u'=', 0, 0));
        const QString what = item.section(u'=', 1);
        if (item.startsWith(QLatin1String("../")))
            expected.append(item.section(u'/', 1, 1).section(u'=', 0, 0));
        else
            // The mark the killed batch wrote into its work folder.
            QVERIFY(writeFile(workFolder + QStringLiteral("made-by-quillner-batch"), "batch\n"));
        if (what == QLatin1String("partial")) {
            QVERIFY(writeFile(at + QStringLiteral("/New_SX51804.sx.a1B2c3"), "S0"));
            QVERIFY(writeFile(at + QStringLiteral("/pargen.xml"), "<General"));
            QVERIFY(writeFile(at + QStringLiteral("/bin/bank1.bin.Qw3Er5"), "0"));
        } else {
            QVERIFY(copyFolder(what.startsWith(QLatin1String("older")) ? older : newer, at));
            if (what.endsWith(QLatin1String("+notes")))
                QVERIFY(writeFile(at + QStringLiteral("/notes.txt"), "mine\n"));
        }
        if (item.startsWith(QLatin1String("../")))
            leftBeside.insert(expected.last(), contentOf(m_out + u'/' + expected.last()));
    }

    // A run that builds only Beta finishes what was left of Alpha.
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("beta.csv")),
                      QByteArray("name,serial.baud,can.format\nBeta,19200,2.0B\n")));
    const Run run = cli(batchArguments(QStringLiteral("beta.csv")));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(contentOf(alpha), project(afterwards));
    QStringList told;
    for (const QString& note : notes)
        told.append(QStringLiteral("note: ") + note.arg(QDir::toNativeSeparators(m_out)));
    // The table gives no filter, which is told once beside what recovery did.
    QCOMPARE(run.err.split(u'\n').filter(
                 QRegularExpression(QStringLiteral("^note: (?!beta.csv has no filter column)"))),
             told);
    const bool kept = notes.join(u' ').contains(QLatin1String(".kept"));
    if (!afterwards.isEmpty())
        expected.append(QStringLiteral("Alpha"));
    if (kept)
        expected.append(QStringLiteral("Alpha.kept"));
    expected.sort();
    QCOMPARE(entries(m_out), expected);
    if (kept)
        QCOMPARE(contentOf(m_out + QStringLiteral("/Alpha.kept")),
                 (QMap<QString, QByteArray>{{QStringLiteral("notes.txt"), "mine\n"}}));
    // What no batch marked is as it was.
    for (auto it = leftBeside.cbegin(); it != leftBeside.cend(); ++it)
        QCOMPARE(contentOf(m_out + u'/' + it.key()), it.value());
}

// A symbolic link where the batch expects its own file or folder: nothing is written, deleted or
// moved through it, and it is named.
void TestCliBatchSwap::plantedSymlinksAreNeverFollowed_data()
{
    QTest::addColumn<QString>("link");   // in the output folder, to the folder "elsewhere"
    QTest::addColumn<QString>("target"); // in "elsewhere"
    QTest::addColumn<bool>("flash");     // the journal is a flashing batch's
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // in its errors or notes
    QTest::newRow("journal.jsonl")
        << "journal.jsonl"
        << "thesis.txt" << true << 1
        << "error: %1/journal.jsonl is a symbolic link, not the batch's journal; nothing is read "
           "or written through it";
    QTest::newRow("the work folder")
        << ".quillner-batch"
        << "" << false << 1
        << "error: %1/.quillner-batch is a symbolic link, not the work folder of a batch; nothing "
           "is written or deleted through it";
    // Its row is not built then: its place in the work folder is taken.
    QTest::newRow("a row being built in the work folder")
        << ".quillner-batch/Alpha.build"
        << "" << false << 1
        << "note: kept %1/.quillner-batch/Alpha.build: a symbolic link, which no batch makes here";
    QTest::newRow("a row built in the work folder")
        << ".quillner-batch/Alpha.new"
        << "" << false << 1
        << "note: kept %1/.quillner-batch/Alpha.new: a symbolic link, which no batch makes here";
}

void TestCliBatchSwap::plantedSymlinksAreNeverFollowed()
{
    QFETCH(QString, link);
    QFETCH(QString, target);
    QFETCH(bool, flash);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    // Someone else's files: a document without a line feed, a folder named like a row being
    // built, a project.
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QVERIFY(writeFile(elsewhere + QStringLiteral("/thesis.txt"), "no line feed at its end"));
    QVERIFY(writeFile(elsewhere + QStringLiteral("/thesis.build/chapter1.txt"), "text\n"));
    QVERIFY(copyFolder(m_out + QStringLiteral("/Alpha"), elsewhere + QStringLiteral("/Alpha")));
    const QMap<QString, QByteArray> before = contentOf(elsewhere);
    if (link.contains(u'/')) {
        QVERIFY(writeFile(m_out + QStringLiteral("/.quillner-batch/made-by-quillner-batch"),
                          "batch\n"));
    }
    QVERIFY(
        QFile::link(target.isEmpty() ? elsewhere : elsewhere + u'/' + target, m_out + u'/' + link));

    QStringList arguments = batchArguments();
    if (flash) {
        // A flashing tool that flashes nothing, found in the data folder.
        const QString flasher = m_dir->filePath(QStringLiteral("Morvex.exe"));
        QVERIFY(writeFile(flasher, "#!/bin/sh\nexit 0\n"));
        QVERIFY(
            QFile::setPermissions(flasher, QFile::permissions(flasher) | QFileDevice::ExeOwner));
        arguments << QStringLiteral("--flash") << QStringLiteral("--ports") << QStringLiteral("0")
                  << QStringLiteral("--home") << m_dir->path();
    }
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message.arg(QDir::toNativeSeparators(m_out))), qPrintable(run.err));
    QCOMPARE(contentOf(elsewhere), before);
    QVERIFY(QFileInfo(m_out + u'/' + link).isSymLink());
}

// kill -9 at any moment of a batch that replaces projects: the next run leaves the projects and
// nothing else, no hidden folder among them.
void TestCliBatchSwap::killedAnywhereTheNextRunLeavesOnlyProjects()
{
    QByteArray table = "name,serial.baud,can.format\n";
    QStringList names;
    for (int i = 0; i < 24; ++i) {
        names.append(QStringLiteral("Row%1").arg(i, 2, 10, QLatin1Char('0')));
        table += names.last().toUtf8() + (i % 2 ? ",9600,2.0B\n" : ",115200,\n");
    }
    names.sort();
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("rows.csv")), table));
    QVERIFY(QDir(m_out).removeRecursively());
    QCOMPARE(cli(batchArguments(QStringLiteral("rows.csv"))).exitCode, 0);

    for (int delay : {5, 20, 40, 60, 90, 120, 160, 200}) {
        QProcess batch;
        batch.setWorkingDirectory(m_dir->path());
        batch.start(QStringLiteral(QUILLNER_CLI), batchArguments(QStringLiteral("rows.csv")));
        QVERIFY(batch.waitForStarted());
        QThread::msleep(delay);
        batch.kill();
        QVERIFY(batch.waitForFinished(10000));
    }
    const Run run = cli(batchArguments(QStringLiteral("rows.csv")));
    QVERIFY2(run.exitCode == 0,
             qPrintable(run.err.split(u'\n')
                            .filter(QRegularExpression(QStringLiteral("^(error|note): ")))
                            .join(u'\n')));
    QCOMPARE(entries(m_out), names);
    for (const QString& name : names) {
        const QString project = m_out + u'/' + name;
        QVERIFY(quillner::testing::verifiedWhole(quillner::verifyMergedFirmwareFiles(
            project + QStringLiteral("/New_SX51804.sx"), m_master + QStringLiteral("/SX51804.sx"),
            project + QStringLiteral("/bin/bank1.bin"))));
        const QStringList files = entries(project);
        QVERIFY2(files.size() >= 5 && !files.join(u' ').contains(QLatin1String(".kept")),
                 qPrintable(files.join(u' ')));
    }
}

QTEST_GUILESS_MAIN(TestCliBatchSwap)
#include "tst_cli_batch_swap.moc"
