// Times a batch of 200 projects against 200 single updates of the same projects, on a synthetic
// firmware of about 1 MB.
//
//   bench_batch [rows] [jobs] [quillner-cli]
//
// The batch reads the firmware once and builds the rows on every core (or on `jobs` threads);
// the single updates run the same core path one project after the other, each reading the
// firmware from its file, as 200 calls of "quillner-cli update" would (without starting 200
// processes). Both are timed on the wall clock; the ratio is single / batch. Given the path of
// quillner-cli, the same comparison is then made with the program itself: one "batch" call
// against one "update" call per project, each a process of its own.

#include "core/app/error.h"
#include "core/app/project_layout.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_files.h"
#include "core/device/settings.h"
#include "core/documents/general_parameters.h"
#include "core/production/batch_build.h"
#include "core/update/device_update.h"
#include "core/update/firmware_job.h"
#include "support/synthetic_firmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace quillner;

namespace {

const QStringList kBauds = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};

QByteArray tableText(int rows)
{
    QByteArray text = "name,serial.baud,can.format,filter.hide,filter.list\n";
    for (int i = 0; i < rows; ++i) {
        const bool typeB = i % 2 == 1;
        text += QStringLiteral("Line%1,%2,%3,%4,%5\n")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .arg(kBauds[i % kBauds.size()], typeB ? "2.0B" : "2.0A",
                         typeB ? QString() : QStringLiteral("0x%1-0x7FF").arg(i + 0x100, 0, 16),
                         typeB ? QStringLiteral("\"0x100, %1\"").arg(0x200 + i) : QString())
                    .toUtf8();
    }
    return text;
}

// One update as the command line runs it: compile, save the bank files, merge from the file.
void singleUpdate(const QString& project, const QString& masterDir)
{
    const AppPaths paths = projectPaths(project);
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    SaveBankBinary(paths.ProjectDir, compiled.value);
    SaveBankSource(paths.ProjectDir, compiled.value);
    const Result<FirmwareJob> plan = planFirmwareJob(paths, masterDir);
    if (!plan.whole())
        throw Error(problemLines(plan.problems).join(u'\n'));
    const MergeResult result = plan.value.merge();
    if (!result.value.verified)
        throw Error(QStringLiteral("%1: not verified: %2").arg(project, mergeMessage(result)));
}

void runTool(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw Error(QStringLiteral("%1 %2 failed: %3")
                        .arg(tool, arguments.join(u' '),
                             QString::fromLocal8Bit(process.readAllStandardError())));
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? std::max(1, args[1].toInt()) : 200;
    const int jobs = args.size() > 2 ? std::max(0, args[2].toInt()) : 0;
    const QString tool = args.value(3);
    try {
        QTemporaryDir dir;
        const QString masterDir = dir.filePath(QStringLiteral("MASTER"));
        QDir().mkpath(masterDir);
        const QString firmware = masterDir + QStringLiteral("/SX51804.sx");
        // 0x350000 to 0x3B0000: about 1 MB of 32-byte S2 records around bank 1.
        writeSyntheticFirmware(firmware, 0x350000, 0x3B0000, 32, "BENCH FIRMWARE");
        const QString tablePath = dir.filePath(QStringLiteral("batch.csv"));
        QFile table(tablePath);
        table.open(QIODevice::WriteOnly);
        table.write(tableText(rows));
        table.close();

        // The batch, from reading the table and the firmware to the last manifest.
        QElapsedTimer timer;
        timer.start();
        BatchOptions options;
        options.outFolder = dir.filePath(QStringLiteral("batch"));
        options.jobs = jobs;
        options.master = readMasterFirmware(firmware);
        const Result<BatchTable> read = readBatchTable(tablePath, QStringLiteral("batch.csv"));
        if (!read.whole())
            throw Error(problemLines(read.problems).join(u'\n'));
        const Result<BatchReport> built = buildBatch(read.value, options);
        if (!built.whole())
            throw Error(problemLines(built.problems).join(u'\n'));
        const QList<BatchRowResult>& results = built.value.rows;
        const double batchSeconds = seconds(timer);
        for (const BatchRowResult& row : results) {
            if (!row.built())
                throw Error(row.failures.join(u'\n'));
        }

        // The same projects, documents written beforehand, then updated one by one.
        const QString singles = dir.filePath(QStringLiteral("single"));
        for (const BatchRowResult& row : results) {
            const QString project = singles + u'/' + row.name;
            QDir().mkpath(project + QStringLiteral("/bin"));
            for (const char* document :
                 {"pargen.xml", "var.xml", "Filter20A.xml", "Filter20B.xml"}) {
                const QString from = row.folder + u'/' + QLatin1StringView(document);
                if (QFileInfo::exists(from))
                    QFile::copy(from, project + u'/' + QLatin1StringView(document));
            }
        }
        timer.restart();
        for (const BatchRowResult& row : results)
            singleUpdate(singles + u'/' + row.name, masterDir);
        const double singleSeconds = seconds(timer);

        for (const BatchRowResult& row : results) {
            const QString name = QStringLiteral("/New_SX51804.sx");
            QFile a(row.folder + name);
            QFile b(singles + u'/' + row.name + name);
            a.open(QIODevice::ReadOnly);
            b.open(QIODevice::ReadOnly);
            if (a.readAll() != b.readAll())
                throw Error(
                    QStringLiteral("%1: the batch and the single update differ").arg(row.name));
        }

        std::printf("firmware: %lld bytes; %d rows; %d threads\n",
                    static_cast<long long>(QFileInfo(firmware).size()), rows,
                    jobs > 0 ? jobs : QThread::idealThreadCount());
        std::printf("batch (firmware read once, parallel): %8.3f s\n", batchSeconds);
        std::printf("single updates (one by one):          %8.3f s\n", singleSeconds);
        std::printf("ratio single / batch:                 %8.2f\n", singleSeconds / batchSeconds);
        if (tool.isEmpty())
            return 0;

        // The program: one batch process against one update process per project.
        timer.restart();
        QStringList batchArguments{QStringLiteral("-q"),
                                   QStringLiteral("batch"),
                                   tablePath,
                                   QStringLiteral("--master"),
                                   masterDir,
                                   QStringLiteral("--out"),
                                   dir.filePath(QStringLiteral("cli-batch"))};
        if (jobs > 0)
            batchArguments << QStringLiteral("--jobs") << QString::number(jobs);
        runTool(tool, batchArguments);
        const double cliBatchSeconds = seconds(timer);
        timer.restart();
        for (const BatchRowResult& row : results)
            runTool(tool, {QStringLiteral("-q"), QStringLiteral("update"),
                           singles + u'/' + row.name, QStringLiteral("--master"), masterDir});
        const double cliSingleSeconds = seconds(timer);
        std::printf("quillner-cli batch (one process):     %8.3f s\n", cliBatchSeconds);
        std::printf("quillner-cli update x %d (processes): %8.3f s\n", rows, cliSingleSeconds);
        std::printf("ratio updates / batch:                %8.2f\n",
                    cliSingleSeconds / cliBatchSeconds);
    } catch (const Error& error) {
        std::fprintf(stderr, "error: %s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
