#include "filter_command_runs.h"

#include "bus_commands.h"
#include "cli_support.h"
#include "configuration_output.h"

#include "core/app/counted_noun.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/filter_export.h"
#include "core/logs/candump_reader.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"
#include "core/logs/recording_tally.h"

#include <QJsonDocument>

#include <cstdio>
#include <optional>
#include <thread>

namespace quillner::cli::filter {

namespace {

void warn(const QString& text)
{
    complain(QStringLiteral("warning"), text);
}

// How many threads read a large candump log: --threads, else two where there are two cores.
TallyThreads tallyThreads(const CommandLine& line)
{
    TallyThreads threads;
    threads.count = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    if (!line.isSet("threads"))
        return threads;
    bool ok = false;
    const QString text = line.value("threads");
    threads.count = text.toInt(&ok);
    if (!ok || threads.count < 1 || threads.count > 2)
        line.usageError(QStringLiteral("--threads takes 1 or 2, not '%1'").arg(text));
    return threads;
}

void writeRaw(QByteArrayView line)
{
    if (isQuiet())
        return;
    std::fwrite(line.data(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

} // namespace

// filter test
int runTest(const CommandLine& line)
{
    const std::optional<BusRequest> bus = busRequestOf(line);
    if (line.arguments().size() < (bus ? 1 : 2))
        line.usageError(
            QStringLiteral("filter test takes PROJECT_DIR and at least one LOG, or --bus"));
    const bool json = line.isSet("json");
    const bool onlyBlocked = line.isSet("blocked");
    const bool onlyPassed = line.isSet("passed");
    if (int(json) + int(onlyBlocked) + int(onlyPassed) > 1)
        line.usageError(QStringLiteral("filter test takes one of --json, --blocked, --passed"));
    const AppPaths paths = requireProject(line.arguments()[0]);
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    // Frames judged by a bank of zeros would say nothing of the device: as for compile, an
    // unreadable document stops the test unless --lenient.
    if (!acceptCompile(compiled, lenientOf(line),
                       QStringLiteral("no frame was judged (--lenient judges by a bank with "
                                      "zeros for what was not read)")))
        return kExitFailure;
    const FrameFilter filter(compiled.value);

    const bool printFrames = onlyBlocked || onlyPassed;
    const TallyThreads threads = tallyThreads(line);
    FilterTally tally;
    // Frames read from standard input or heard on a bus may come live: each goes out at once.
    bool live = false;
    bool keepsOtherLines = false;
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        const FrameVerdict verdict = filter.verdict(frame.busFrame());
        tally.add(frame, verdict);
        if (printFrames && (verdict == FrameVerdict::Passed) == onlyPassed) {
            writeRaw(frame.line.isEmpty() ? QByteArrayView(candumpLogLine(frame)) : frame.line);
            if (live)
                std::fflush(stdout);
        }
    };
    // An ASC or TRC file keeps its header and its other events, so that it can be replayed.
    visitor.otherLine = [&](QByteArrayView line) {
        if (printFrames && keepsOtherLines)
            writeRaw(line);
    };
    visitor.formatKnown = [&](LogFormat format) {
        keepsOtherLines = format == LogFormat::VectorAsc || format == LogFormat::PeakTrc;
    };
    const auto count = [&](const LogReading& reading) {
        if (reading.cutShortAt >= 0)
            warn(cutShortText(reading) + QStringLiteral("; those are counted"));
        tally.addReading(reading);
        warnAll(reading.unreadable);
        if (reading.unreadableCount > reading.unreadable.size())
            warn(QStringLiteral("%1: %2 in all")
                     .arg(reading.name, counted(reading.unreadableCount, "unreadable line")));
    };
    for (const QString& log : line.arguments().mid(1)) {
        live = log == QStringLiteral("-");
        // Without frames to print, the lines are judged as they are read.
        const QString path = live ? log : absoluteNativePath(log);
        const Result<LogReading> read =
            printFrames ? readCanLog(path, visitor, cutShortOf(line))
                        : tallyRecording(path, filter, tally, cutShortOf(line), threads);
        stopOnProblems(read.problems);
        count(read.value);
    }
    Problems busProblems;
    if (bus) {
        live = true;
        const Result<LogReading> heard =
            listenFromCommandLine(*bus, visitor, printFrames ? nullptr : &tally);
        count(heard.value);
        busProblems = heard.problems;
    }
    std::fflush(stdout);
    if (json)
        say(QString::fromUtf8(QJsonDocument(filterTallyJson(tally)).toJson()));
    else if (!printFrames)
        say(filterTallyText(tally));
    // What was heard before the bus failed is told; the failure still decides the status.
    for (const Problem& problem : busProblems)
        complain(QStringLiteral("error"), problem.toString());
    return busProblems.isEmpty() ? kExitSuccess : kExitFailure;
}

// filter export
int runExport(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("filter export takes one PROJECT_DIR"));
    const std::optional<FilterNotation> notation = filterNotationNamed(line.value("as"));
    if (!notation)
        line.usageError(
            QStringLiteral("--as takes %1, not '%2'").arg(filterNotationNames(), line.value("as")));
    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(requireProject(line.argument(0)), lenientOf(line));
    if (!configuration)
        return kExitFailure;
    const Result<QString> exported = exportFilter(configuration->bank, *notation);
    stopOnProblems(exported.problems);
    say(exported.value);
    return kExitSuccess;
}

} // namespace quillner::cli::filter
