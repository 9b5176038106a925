#include "core/firmware/batch_build.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/documents/new_project.h"
#include "core/documents/project_edit.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/batch_folder.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_job.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>

#include <vector>

namespace quillner {

namespace {

// The row's project, built aside and put in its place once complete.
void buildProject(const RowRequest& request, const BatchOptions& options, const BatchOutput& output,
                  BatchRowResult& result)
{
    const QString masterDir = QFileInfo(options.master->path).absolutePath();
    RowFolder row(output, request.name,
                  newFirmwareName(QFileInfo(options.master->path).fileName()));
    const QString folder = row.buildFolder();
    const AppPaths paths = projectPaths(folder);
    const QString binFolder = joinPath(folder, QStringLiteral("bin"));
    if (!QDir().mkdir(binFolder))
        throw Error(cannotCreateFileMessage(binFolder, QStringLiteral("cannot make the folder")));

    // The project as "New project" makes it, then the row's settings, as "set" writes them.
    writeNewProjectDocuments(paths);
    {
        const ProjectEdit edit(folder);
        edit.write(paths.PargenPath, generalParametersDocument(),
                   generalParameterTexts(request.parameters));
        if (request.filter20A)
            edit.write(paths.Filter20APath, filter20ADocument(), *request.filter20A);
        if (request.filter20B)
            edit.write(paths.Filter20BPath, filter20BDocument(), *request.filter20B);
    }

    const BankBuild build = compileAndWriteBank(paths, [](const CompiledBank& compiled) {
        if (!bankMayGoOn(compiled, false))
            throw Error(problemLines(compiled.unreadable).join(QStringLiteral("; ")));
        return true;
    });
    result.warnings = problemLines(build.compiled.warnings);

    Partial<FirmwareJob> plan = planFirmwareJob(paths, masterDir);
    if (!plan.whole())
        throw Error(problemLines(plan.problems).join(u'\n'));
    FirmwareJob& job = plan.value;
    job.master = options.master;
    const MergeResult merged = job.merge();
    // The rule that keeps a merged file from the device keeps it from the batch as well; only
    // where the flashing tool lies does not matter to a build.
    const FlashDecision decision = job.decideFlash(merged, 0);
    if (decision.refused() && decision.refusal != FlashRefusal::CannotLaunch)
        throw Error(problemLines(decision.launch.problems).join(u'\n'));
    result.summary = mergeSummary(job.newFileName, job.bank, merged);

    result.warnings += row.putInPlace();
    result.folder = row.target();
}

BatchRowResult buildRow(const BatchTable& table, const CsvRecord& record,
                        const QHash<QString, int>& nameCounts, const BatchOptions& options,
                        const BatchOutput& output)
{
    BatchRowResult result;
    RowRequest request;
    result.failures = readBatchRow(table, record, nameCounts, request);
    result.line = record.line;
    result.name = request.name;
    if (!result.built())
        return result;
    const auto fail = [&](const QString& text) {
        result.failures.append(QStringLiteral("%1:%2: %3: %4")
                                   .arg(table.displayName)
                                   .arg(record.line)
                                   .arg(result.name, text));
    };
    try {
        buildProject(request, options, output, result);
    } catch (const Error& error) {
        fail(error.message());
    } catch (const std::exception& error) {
        fail(QString::fromLocal8Bit(error.what()));
    }
    if (!result.built())
        result.warnings.clear();
    return result;
}

} // namespace

BatchReport buildBatch(const BatchTable& table, const BatchOptions& options)
{
    if (!options.master)
        throw Error(QStringLiteral("No firmware to merge the banks into"));
    const BatchOutput output(options.outFolder);

    const QHash<QString, int> nameCounts = rowNameCounts(table);
    // Each row has its own slot, written by the one thread that builds it.
    std::vector<BatchRowResult> results(size_t(table.rows.size()));
    QThreadPool pool;
    pool.setMaxThreadCount(options.jobs > 0 ? options.jobs : QThread::idealThreadCount());
    for (qsizetype i = 0; i < table.rows.size(); ++i) {
        const CsvRecord& record = table.rows[i];
        BatchRowResult& result = results[size_t(i)];
        pool.start([&table, &record, &nameCounts, &options, &output, &result] {
            result = buildRow(table, record, nameCounts, options, output);
        });
    }
    pool.waitForDone();
    return {output.notes(), QList<BatchRowResult>(results.begin(), results.end())};
}

} // namespace quillner
