#include "core/production/batch_build.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/project_lock.h"
#include "core/app/sha256.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_files.h"
#include "core/bank/bank_import.h"
#include "core/documents/new_project.h"
#include "core/documents/project_edit.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/manifest_signature.h"
#include "core/production/batch_folder.h"
#include "core/update/device_update.h"
#include "core/update/firmware_job.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace quillner {

namespace {

// A row is the device of its name and serial number.
QString deviceKey(const QString& name, const QString& serial)
{
    return name + u'\n' + serial;
}

// What every row of one batch shares.
struct BatchRun
{
    const BatchTable& table;
    const BatchOptions& options;
    const BatchOutput& output;
    RowCounts counts;
    QString masterDir;
    QString mergedName;
    QSet<QString> flashedBefore;       // deviceKey of the rows the journal has flashed
    StationJournal* journal = nullptr; // with flashing
};

// The file's bytes, or none when there is no such file.
std::optional<QByteArray> bytesOrNone(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return readFileBytes(path, FileSize::atMost(qint64(64) << 20));
}

// Signs the row's manifest for its device; throws what stops it.
void signBuild(const QString& folder, const SigningKey& key, const RowRequest& request)
{
    const Result<Done> signedBuild = signManifest(folder, key, {request.name, request.serial});
    if (!signedBuild.whole())
        throw Error(problemLines(signedBuild.problems).join(u'\n'));
}

// The firmware of an earlier build of the row, when it is the one this build would make: the same
// documents, merged by this tool into the same firmware, and its files those that its manifest
// names. The manifest is written only for a merge that passed the verification.
std::optional<MergeResult> earlierBuild(const QString& target, const QString& build,
                                        const MasterFirmware& master, const QString& mergedName)
{
    try {
        const std::optional<QByteArray> manifestBytes =
            bytesOrNone(joinPath(target, QString::fromLatin1(kBuildManifestName)));
        if (!manifestBytes)
            return std::nullopt;
        const Result<ManifestFiles> read = parseManifestFiles(*manifestBytes);
        const ManifestFiles* manifest = &read.value;
        if (!read.whole() || manifest->toolVersion != QLatin1StringView(QUILLNER_VERSION) ||
            manifest->masterSha256 != master.sha256)
            return std::nullopt;
        for (const QString& document : projectDocumentNames()) {
            if (bytesOrNone(joinPath(target, document)) != bytesOrNone(joinPath(build, document)))
                return std::nullopt;
        }
        if (sha256OfFile(bankBinaryPath(target)) != manifest->bankSha256 ||
            sha256OfFile(joinPath(target, mergedName)) != manifest->mergedSha256)
            return std::nullopt;
        MergeResult merged;
        merged.value.copyCompleted = true;
        merged.value.bankInserted = true;
        merged.value.verified = true;
        merged.value.masterSha256 = manifest->masterSha256;
        merged.value.bankSha256 = manifest->bankSha256;
        merged.value.mergedSha256 = manifest->mergedSha256;
        return merged;
    } catch (const Error&) {
        return std::nullopt;
    }
}

// The row's project, built aside and put in its place once complete; with resume, an earlier
// build of the same inputs is kept instead. Returns the verified merge of its firmware. Throws
// what the system refuses of the row's folder and files.
Result<MergeResult> buildProject(const RowRequest& request, const BatchRun& run,
                                 BatchRowResult& result)
{
    const auto refused = [](const QStringList& lines, const QString& separator) {
        return Result<MergeResult>::failure({Problem{{}, {}, lines.join(separator)}});
    };
    const BatchOptions& options = run.options;
    RowFolder row(run.output, request.name, run.mergedName);
    const QString folder = row.buildFolder();
    const AppPaths paths = projectPaths(folder);
    const QString binFolder = ProjectLayout::of(folder).binFolder;
    if (!QDir().mkdir(binFolder))
        return refused(
            {cannotCreateFileMessage(binFolder, QStringLiteral("cannot make the folder"))}, {});

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

    if (options.resume) {
        if (const std::optional<MergeResult> earlier =
                earlierBuild(row.target(), folder, *options.master, run.mergedName)) {
            result.kept = true;
            result.summary = QStringLiteral("%1: kept, built before from the same row and firmware")
                                 .arg(run.mergedName);
            result.folder = row.target();
            if (options.signingKey) {
                // Signed again in its place, under its lock: the same key gives the same bytes.
                const ProjectLock lock(row.target());
                signBuild(row.target(), *options.signingKey, request);
            }
            return {*earlier, {}, {}};
        }
    }

    const BankBuild build = compileAndWriteBank(
        paths, [](const CompiledBank& compiled) { return bankMayGoOn(compiled, false); });
    if (!build.written)
        return refused(problemLines(build.compiled.problems), QStringLiteral("; "));
    // A table without filter columns is told once that it gives no filter; each row's compile
    // would say so of its filter document again.
    Problems warnings = build.compiled.warnings;
    if (!givesFilters(run.table)) {
        const QStringList filterDocuments{QFileInfo(paths.Filter20APath).fileName(),
                                          QFileInfo(paths.Filter20BPath).fileName()};
        warnings.removeIf(
            [&](const Problem& problem) { return filterDocuments.contains(problem.file); });
    }
    result.warnings = problemLines(warnings);

    Result<FirmwareJob> plan = planFirmwareJob(paths, run.masterDir);
    if (!plan.whole())
        return Result<MergeResult>::failure(plan.problems);
    FirmwareJob& job = plan.value;
    job.master = options.master;
    const MergeResult merged = job.merge();
    // The rule that keeps a merged file from the device keeps it from the batch as well; where
    // the flashing tool lies is for the flashing to find out.
    const FlashDecision decision = job.decideFlash(merged, 0);
    if (decision.refused() && decision.refusal != FlashRefusal::CannotLaunch)
        return Result<MergeResult>::failure(decision.launch.problems);
    result.summary = mergeSummary(job.newFileName, job.bank, merged);
    if (options.signingKey)
        signBuild(folder, *options.signingKey, request);

    const Result<QStringList> placed = row.putInPlace();
    if (!placed.whole())
        return Result<MergeResult>::failure(placed.problems);
    result.warnings += placed.value;
    result.folder = row.target();
    return {merged, {}, {}};
}

// What became of a row's turn.
struct RowBuild
{
    std::optional<MergeResult> merged; // its verified merge, when it is to be flashed
    // Another station of the line holds it: it is not built here unless it comes back free.
    bool heldElsewhere = false;
};

// Reads, claims and builds one row.
RowBuild buildRow(const CsvRecord& record, const BatchRun& run, BatchRowResult& result)
{
    RowRequest request;
    result.failures =
        readBatchRow(run.table, record, run.counts, request, run.options.allowOpenGateway);
    result.line = record.line;
    result.name = request.name;
    result.serial = request.serial;
    if (result.failed())
        return {};
    if (run.flashedBefore.contains(deviceKey(request.name, request.serial))) {
        result.flash = BatchRowResult::Flash::FlashedBefore;
        return {};
    }
    if (run.journal) {
        // Claimed before it is built: on a line, what another station flashes is not built here.
        const Result<RowClaim> asked =
            run.journal->claim(record.line, request.name, request.serial);
        const bool unanswered = !asked.whole();
        // Left for the port to ask again, which stops the station on the journal's fault.
        result.claim = unanswered ? RowClaim{RowClaim::Answer::Held, {}, false} : asked.value;
        if (result.claim.answer == RowClaim::Answer::Settled) {
            result.flash = BatchRowResult::Flash::Elsewhere;
            return {};
        }
        // The station that holds it is flashing it: building it here too would take the
        // processor from the rows that are this station's.
        if (result.claim.answer == RowClaim::Answer::Held && !unanswered)
            return {std::nullopt, true};
    }
    const auto fail = [&](const QString& text) {
        result.failures.append(QStringLiteral("%1:%2: %3: %4")
                                   .arg(run.table.displayName)
                                   .arg(record.line)
                                   .arg(result.name, text));
    };
    try {
        const Result<MergeResult> built = buildProject(request, run, result);
        if (built.whole())
            return {built.value};
        // One failure of the row, in the lines of its plan, decision or compile.
        fail(problemLines(built.problems).join(u'\n'));
    } catch (const Error& error) {
        // What the system refused of the row's folder and files.
        fail(error.message());
    } catch (const std::exception& error) {
        fail(QString::fromLocal8Bit(error.what()));
    }
    result.warnings.clear();
    result.folder.clear();
    return {};
}

// The journal's record of a row that was not built, and so not flashed.
FlashRecord notBuiltRecord(const BatchRowResult& result, const BatchRun& run,
                           const QDateTime& started, qint64 milliseconds)
{
    FlashRecord record;
    record.row = result.line;
    record.name = result.name;
    record.serial = result.serial;
    record.masterSha256 = run.options.master->sha256;
    record.toolVersion = QStringLiteral(QUILLNER_VERSION);
    record.outcome = FlashRecord::Outcome::NotBuilt;
    record.error = result.failures.join(u'\n');
    record.started = started;
    record.milliseconds = milliseconds;
    return record;
}

} // namespace

Result<BatchReport> buildBatch(const BatchTable& table, const BatchOptions& options)
{
    using Report = Result<BatchReport>;
    const auto refused = [](const QString& text) {
        return Report::failure({Problem{{}, {}, text}});
    };
    if (!options.master)
        return refused(QStringLiteral("No firmware to merge the banks into"));
    const QString mergedName = newFirmwareName(QFileInfo(options.master->path).fileName());
    std::optional<BatchOutput> taken;
    try {
        taken.emplace(options.outFolder, mergedName);
    } catch (const Error& error) {
        // A folder the system does not let the batch make or take, or another batch's.
        return refused(error.message());
    }
    const BatchOutput& output = *taken;
    BatchRun run{table,
                 options,
                 output,
                 rowCounts(table),
                 QFileInfo(options.master->path).absolutePath(),
                 mergedName,
                 {}};

    std::unique_ptr<StationJournal> journal;
    if (options.flashing) {
        const QString flasher =
            joinPath(helperProgramFolder(options.toolPaths.ExeDir, options.toolPaths.DataDir,
                                         QString::fromLatin1(kFlasherName)),
                     QString::fromLatin1(kFlasherName));
        if (!QFileInfo(flasher).isFile())
            return refused(flasherNotFoundMessage(
                helperProgramFolders(options.toolPaths.ExeDir, options.toolPaths.DataDir)));
        Result<std::unique_ptr<StationJournal>> opened = openStationJournal(
            options.journal, joinPath(output.folder(), QString::fromLatin1(kFlashJournalName)),
            table, options.resume);
        if (!opened.whole())
            return Report::failure(opened.problems);
        journal = std::move(opened.value);
        const Result<QList<FlashRecord>> flashed = journal->flashedBefore();
        if (!flashed.whole())
            return Report::failure(flashed.problems);
        for (const FlashRecord& record : flashed.value)
            run.flashedBefore.insert(deviceKey(record.name, record.serial));
        run.journal = journal.get();
    }

    // Each row has its own slot, written by the thread that builds it, then by the port that
    // flashes it.
    std::vector<BatchRowResult> results(size_t(table.rows.size()));
    std::mutex endedMutex;
    const auto ended = [&](qsizetype index) {
        if (!options.rowEnded)
            return;
        const std::lock_guard lock(endedMutex);
        options.rowEnded(results[size_t(index)]);
    };
    std::optional<FlashStation> station;
    if (options.flashing) {
        station.emplace(*options.flashing, options.toolPaths, run.masterDir, *journal,
                        [&](qsizetype index, const FlashRecord& record, const RowClaim& claim) {
                            BatchRowResult& result = results[size_t(index)];
                            if (claim.answer == RowClaim::Answer::Settled) {
                                result.flash = BatchRowResult::Flash::Elsewhere;
                                result.claim = claim;
                                ended(index);
                                return;
                            }
                            result.flash = BatchRowResult::Flash::Attempted;
                            result.attempt = record;
                            if (!record.flashed())
                                result.failures.append(QStringLiteral("%1:%2: %3: %4")
                                                           .arg(table.displayName)
                                                           .arg(result.line)
                                                           .arg(result.name, record.error));
                            ended(index);
                        });
    }

    // The rows another station held when this one came to them, in row order.
    std::mutex heldMutex;
    std::vector<qsizetype> held;
    const auto runRow = [&](qsizetype i) {
        BatchRowResult& result = results[size_t(i)];
        const QDateTime started = QDateTime::currentDateTimeUtc();
        QElapsedTimer clock;
        clock.start();
        const RowBuild built = buildRow(table.rows[i], run, result);
        if (built.heldElsewhere) {
            const std::lock_guard lock(heldMutex);
            held.insert(std::lower_bound(held.begin(), held.end(), i), i);
            return;
        }
        if (built.merged && station) {
            station->add(i, {result.line, result.name, result.serial, result.folder, *built.merged,
                             result.claim.answer == RowClaim::Answer::Granted});
            return;
        }
        if (journal && result.failed()) {
            const Result<Done> kept =
                journal->append(notBuiltRecord(result, run, started, clock.elapsed()));
            result.failures += problemLines(kept.problems);
        }
        ended(i);
    };

    QThreadPool pool;
    pool.setMaxThreadCount(options.jobs > 0 ? options.jobs : QThread::idealThreadCount());
    for (qsizetype i = 0; i < table.rows.size(); ++i) {
        pool.start([&, i] {
            if (station)
                station->awaitRoom();
            runRow(i);
        });
    }
    pool.waitForDone();
    // The held rows are asked for again until the stations that hold them settle them; one whose
    // station stopped is built and flashed here once its lease has run out.
    while (!held.empty() && station && station->pause(journal->heldRowWait())) {
        for (const qsizetype i : std::exchange(held, {}))
            runRow(i);
    }
    // A station stopped by its journal tells the rows it did not come to as not flashed.
    for (const qsizetype i : held) {
        const BatchRowResult& result = results[size_t(i)];
        station->setAside(i, {result.line, result.name, result.serial, {}, {}, false}, {});
    }
    const QString journalFault = station ? station->finish() : QString();
    return {{output.notes(), QList<BatchRowResult>(results.begin(), results.end()), journalFault},
            {},
            {}};
}

} // namespace quillner
