#include "filter_commands.h"

#include "cli_support.h"
#include "configuration_output.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/filter_export.h"
#include "core/documents/general_parameters.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/filter_safety.h"
#include "core/filters/mask_pattern.h"
#include "core/logs/candump_reader.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recorded_traffic.h"
#include "core/logs/recording.h"
#include "core/logs/recording_tally.h"
#include "core/update/device_update.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>
#include <optional>
#include <thread>

namespace quillner {

namespace {

constexpr int kExitSuccess = 0;

using cli::say;
using cli::warnAll;

void warn(const QString& text)
{
    cli::complain(QStringLiteral("warning"), text);
}

AppPaths project(const QString& folder)
{
    return cli::requireProject(folder);
}

// The frame format as the device gets it, which also chooses the filter window.
bool canTypeB(const AppPaths& paths)
{
    return readFrameFormat(paths.PargenPath) == FrameFormat::Extended;
}

QString hex8(quint32 id)
{
    return QStringLiteral("0x") + QString::number(id, 16).toUpper().rightJustified(8, u'0');
}

// Every filter writer edits under the project's lock and never writes over a document that
// cannot be read.
void saveAndTell20A(const ProjectEdit& edit, const AppPaths& paths, const Filter20A& filter)
{
    edit.write(paths.Filter20APath, filter20ADocument(), filter);
    say(QStringLiteral("Written: %1 (%2)\n")
            .arg(paths.Filter20APath, visibleCountText(visibleCount(filter))));
}

void saveAndTell20B(const ProjectEdit& edit, const AppPaths& paths, const Filter20B& filter)
{
    edit.write(paths.Filter20BPath, filter20BDocument(), filter);
    say(QStringLiteral("Written: %1 (%2)\n")
            .arg(paths.Filter20BPath,
                 filter.cobIdFilter ? QStringLiteral("COB-ID list, %1 identifiers, type %2")
                                          .arg(filter.cobIds.size())
                                          .arg(filter.typePositive ? QStringLiteral("positive")
                                                                   : QStringLiteral("negative"))
                                    : QStringLiteral("%1 patterns").arg(filter.patterns.size())));
}

// "12 (optimal)" or "2136 (at least 1024)": the count beside the least any fit could reach.
QString countAndBound(quint64 count, const PatternFit& fit)
{
    return fit.optimal() ? QStringLiteral("%1 (optimal)").arg(count)
                         : QStringLiteral("%1 (at least %2)").arg(count).arg(fit.lowerBound);
}

// What a recording tells of a form: the frames it passes that the set did not ask for.
struct TrafficReport
{
    QString logName;
    RecordedTraffic traffic;
};

void describeTraffic(const FilterForm& form, const TrafficReport& report)
{
    const quint64 extra = form.identifierList ? 0 : form.fit.extraFrames;
    QString text = QStringLiteral("Extra frames: %1 of the %2 extended frames in %3")
                       .arg(form.identifierList ? QStringLiteral("0 (optimal)")
                                                : countAndBound(extra, form.fit))
                       .arg(report.traffic.frames)
                       .arg(report.logName);
    if (report.traffic.seconds)
        text += QStringLiteral(", %1 per second over %2 s")
                    .arg(double(extra) / *report.traffic.seconds, 0, 'f', 2)
                    .arg(*report.traffic.seconds, 0, 'f', 3);
    else
        text += QStringLiteral(" (the recording gives no times)");
    say(text + u'\n');
}

void describeForm(const FilterForm& form, const TrafficReport* traffic, quint64 setSize)
{
    if (form.identifierList) {
        say(QStringLiteral("Form: COB-ID list, %1 identifiers\n").arg(form.identifiers.size()));
        for (const quint32 id : form.identifiers)
            say(QStringLiteral("Identifier: %1\n").arg(hex8(id)));
        say(QStringLiteral("Extra identifiers: 0\n"));
    } else {
        const PatternFit& fit = form.fit;
        say(QStringLiteral("Form: mask patterns, %1 patterns\n").arg(fit.patterns.size()));
        for (const IdPattern& pattern : fit.patterns) {
            const QString text = idPatternText(pattern);
            say(QStringLiteral("Pattern: %1 (%2)\n").arg(text, patternIdMaskText(text)));
        }
        say(QStringLiteral("Extra identifiers: %1\n")
                .arg(fit.byFrames ? QString::number(fit.extras) : countAndBound(fit.extras, fit)));
        if (fit.patterns.size() == 1 && fit.extras == 0)
            say(QStringLiteral("Note: one pattern holds this set\n"));
        const QString broad = broadPatternsWarning(fit.patterns, setSize);
        if (!broad.isEmpty())
            warn(broad);
    }
    if (traffic)
        describeTraffic(form, *traffic);
}

// The list refusal of the windows says nothing of the limit; the command line names it and the
// command that fits a larger set.
QString listFullRefusal(const QString& typed, const QString& folder)
{
    QString count;
    try {
        count =
            QString::number(termCount(parseIdTerms(typed, IdWidth::Extended), IdWidth::Extended));
    } catch (const Error&) {
        count = QStringLiteral("more");
    }
    return QStringLiteral("%1: a COB-ID list holds at most %2 identifiers and this set has %3; "
                          "fit it into patterns with: quillner-cli filter fit --ids '%4' "
                          "--apply %5")
        .arg(QString::fromLatin1(kAllFilterInUse))
        .arg(kCobIdListMax)
        .arg(count, typed.simplified(), folder);
}

// filter set
int runSet(const cli::CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("filter set takes one PROJECT_DIR"));
    const QStringList choices{QStringLiteral("show"), QStringLiteral("hide"),
                              QStringLiteral("list"), QStringLiteral("patterns")};
    QString chosen;
    for (const QString& choice : choices) {
        if (!line.isSet(qPrintable(choice)))
            continue;
        if (!chosen.isEmpty())
            line.usageError(
                QStringLiteral("filter set takes one of --show, --hide, --list, --patterns"));
        chosen = choice;
    }
    if (chosen.isEmpty())
        line.usageError(QStringLiteral("filter set needs --show, --hide, --list or --patterns"));
    if (line.isSet("negative") && chosen != QStringLiteral("list"))
        line.usageError(QStringLiteral("--negative goes with --list"));

    const AppPaths paths = project(line.arguments()[0]);
    const ProjectEdit edit(paths.ProjectDir);
    const bool typeB = canTypeB(paths);
    const bool forA = chosen == QStringLiteral("show") || chosen == QStringLiteral("hide");
    if (forA == typeB)
        throw Error(QStringLiteral("--%1 applies to a CAN %2 project; this one is CAN %3")
                        .arg(chosen, forA ? QStringLiteral("2.0A") : QStringLiteral("2.0B"),
                             typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A")));
    const QString text = line.value(qPrintable(chosen));
    if (forA) {
        const QList<IdRange> ranges = parseIdSet(text, IdWidth::Standard);
        // An edit of no identifier would rewrite the filter as it is and call that done.
        if (ranges.isEmpty())
            line.usageError(QStringLiteral("--%1 holds no identifier").arg(chosen));
        Filter20A filter = edit.read(paths.Filter20APath, filter20ADocument());
        setVisibility(filter, ranges, chosen == QStringLiteral("show"));
        saveAndTell20A(edit, paths, filter);
        return kExitSuccess;
    }
    Filter20B filter = edit.read(paths.Filter20BPath, filter20BDocument());
    const bool allowAll = line.isSet("allow-all");
    const bool positive = !line.isSet("negative");
    if (chosen == QStringLiteral("list")) {
        try {
            setCobIdList(filter, text, positive, allowAll);
        } catch (const Error& error) {
            if (error.message() != QLatin1StringView(kAllFilterInUse))
                throw;
            throw Error(listFullRefusal(text, line.argument(0)));
        }
    } else
        setPatternList(filter, text);
    cli::stopOnProblems(refuseOpenGateway(filter, allowAll).problems);
    saveAndTell20B(edit, paths, filter);
    return kExitSuccess;
}

int maxPatterns(const cli::CommandLine& line)
{
    if (!line.isSet("max-patterns"))
        return kPatternListMax;
    bool ok = false;
    const QString text = line.value("max-patterns");
    const int count = text.toInt(&ok);
    if (!ok || count < 1 || count > kPatternListMax)
        line.usageError(QStringLiteral("--max-patterns takes a number from 1 to %1, not '%2'")
                            .arg(kPatternListMax)
                            .arg(text));
    return count;
}

// How many threads read a large candump log: --threads, else two where there are two cores.
TallyThreads tallyThreads(const cli::CommandLine& line)
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

// Saves a chosen form in a 2.0B project.
void applyForm(const QString& folder, const FilterForm& form)
{
    const AppPaths paths = project(folder);
    const ProjectEdit edit(paths.ProjectDir);
    if (!canTypeB(paths))
        throw Error(QStringLiteral("The identifiers are 29-bit; %1 is a CAN 2.0A project")
                        .arg(paths.ProjectDir));
    const Filter20B settings = edit.read(paths.Filter20BPath, filter20BDocument());
    saveAndTell20B(edit, paths, filter20BOfForm(form, settings));
}

// What --partial makes of a recording that ends inside a line or an object.
CutShort cutShortOf(const cli::CommandLine& line)
{
    return line.isSet("partial") ? CutShort::Read : CutShort::Refused;
}

// filter fit
int runFit(const cli::CommandLine& line)
{
    if (!line.arguments().isEmpty())
        line.usageError(QStringLiteral("filter fit takes no argument besides its options"));
    const bool inline_ = line.isSet("ids");
    if (inline_ == line.isSet("ids-file"))
        line.usageError(QStringLiteral("filter fit needs one of --ids and --ids-file"));
    // "-" is standard input, kept in a temporary file for the bounded reader.
    std::optional<cli::InputFile> file;
    if (!inline_)
        file.emplace(line.value("ids-file"));
    const QString text = inline_ ? line.value("ids") : readIdentifierFile(file->path());
    // An id:mask stays one pattern however many identifiers it passes.
    const IdPatternSet set =
        termPatternSet(parseIdTerms(text, IdWidth::Extended), IdWidth::Extended);
    // A fit of nothing would write a filter of nothing; an empty file is no set of identifiers.
    if (set.count == 0) {
        if (inline_)
            line.usageError(QStringLiteral("--ids holds no identifier to fit"));
        throw Error(QStringLiteral("%1 holds no identifier to fit").arg(file->displayName()));
    }
    std::optional<TrafficReport> report;
    std::optional<ExtraTraffic> extra;
    if (line.isSet("partial") && !line.isSet("log"))
        line.usageError(QStringLiteral("--partial is for a recording given with --log"));
    if (line.isSet("log")) {
        const QString log = line.value("log");
        report = TrafficReport{QFileInfo(log).fileName(),
                               readRecordedTraffic(absoluteNativePath(log), cutShortOf(line))};
        extra.emplace(report->traffic, set);
    }
    const FilterForm form = chooseFilterForm(set, maxPatterns(line), extra ? &*extra : nullptr);
    describeForm(form, report ? &*report : nullptr, set.count);
    if (line.isSet("apply"))
        applyForm(line.value("apply"), form);
    return kExitSuccess;
}

void writeRaw(QByteArrayView line)
{
    if (cli::isQuiet())
        return;
    std::fwrite(line.data(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

// filter test
int runTest(const cli::CommandLine& line)
{
    if (line.arguments().size() < 2)
        line.usageError(QStringLiteral("filter test takes PROJECT_DIR and at least one LOG"));
    const bool json = line.isSet("json");
    const bool onlyBlocked = line.isSet("blocked");
    const bool onlyPassed = line.isSet("passed");
    if (int(json) + int(onlyBlocked) + int(onlyPassed) > 1)
        line.usageError(QStringLiteral("filter test takes one of --json, --blocked, --passed"));
    const AppPaths paths = project(line.arguments()[0]);
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    // Frames judged by a bank of zeros would say nothing of the device: as for compile, an
    // unreadable document stops the test unless --lenient.
    if (!cli::acceptCompile(compiled, cli::lenientOf(line),
                            QStringLiteral("no frame was judged (--lenient judges by a bank with "
                                           "zeros for what was not read)")))
        return cli::kExitFailure;
    const FrameFilter filter(compiled.value);

    const bool printFrames = onlyBlocked || onlyPassed;
    const TallyThreads threads = tallyThreads(line);
    FilterTally tally;
    for (const QString& log : line.arguments().mid(1)) {
        // Frames read from standard input may come from a live capture: each goes out at once.
        const bool live = log == QStringLiteral("-");
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
        // Without frames to print, the lines are judged as they are read.
        const QString path = live ? log : absoluteNativePath(log);
        const LogReading reading =
            printFrames ? readCanLog(path, visitor, cutShortOf(line))
                        : tallyRecording(path, filter, tally, cutShortOf(line), threads);
        if (reading.cutShortAt >= 0)
            warn(cutShortText(reading) + QStringLiteral("; those are counted"));
        tally.addReading(reading);
        warnAll(reading.unreadable);
        if (reading.unreadableCount > reading.unreadable.size())
            warn(QStringLiteral("%1: %2 unreadable lines in all")
                     .arg(reading.name)
                     .arg(reading.unreadableCount));
    }
    std::fflush(stdout);
    if (json)
        say(QString::fromUtf8(QJsonDocument(filterTallyJson(tally)).toJson()));
    else if (!printFrames)
        say(filterTallyText(tally));
    return kExitSuccess;
}

// filter export
int runExport(const cli::CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("filter export takes one PROJECT_DIR"));
    const std::optional<FilterNotation> notation = filterNotationNamed(line.value("as"));
    if (!notation)
        line.usageError(
            QStringLiteral("--as takes %1, not '%2'").arg(filterNotationNames(), line.value("as")));
    const std::optional<ConfigurationDescription> configuration =
        cli::describeProjectForCommand(project(line.argument(0)), cli::lenientOf(line));
    if (!configuration)
        return cli::kExitFailure;
    say(exportFilter(configuration->bank, *notation));
    return kExitSuccess;
}

// filter import-dbc
int runImportDbc(const cli::CommandLine& line)
{
    if (line.arguments().size() != 2)
        line.usageError(QStringLiteral("filter import-dbc takes PROJECT_DIR and FILE.dbc"));
    const AppPaths paths = project(line.arguments()[0]);
    const cli::InputFile dbc(line.arguments()[1]);
    const QString fileName =
        dbc.isStandardInput() ? dbc.displayName() : QFileInfo(dbc.path()).fileName();
    const Result<QList<DbcMessage>> read = readDbcMessages(dbc.path());
    warnAll(read.problems);

    const ProjectEdit edit(paths.ProjectDir);
    const FrameFormat format = readFrameFormat(paths.PargenPath);
    const DbcSelection selection =
        selectDbcMessages(read.value, line.value("messages"), format, fileName);
    for (const QString& skipped : selection.skipped)
        say(QStringLiteral("Skipped: %1\n").arg(skipped));
    const bool allowAll = line.isSet("allow-all");
    refuseEmptyDbcSelection(selection, format, fileName, allowAll);
    if (format == FrameFormat::Standard) {
        // The whole filter is replaced, but a document that cannot be read is still not written
        // over.
        Filter20A filter = edit.read(paths.Filter20APath, filter20ADocument());
        filter.IdVisible.fill(0);
        setVisibility(filter, rangesOf(selection.identifiers), true);
        saveAndTell20A(edit, paths, filter);
        return kExitSuccess;
    }
    const Filter20B settings = edit.read(paths.Filter20BPath, filter20BDocument());
    const FilterForm form = chooseFilterForm(selection.identifiers, kPatternListMax);
    describeForm(form, nullptr, quint64(selection.identifiers.size()));
    saveAndTell20B(edit, paths, filter20BOfForm(form, settings));
    return kExitSuccess;
}

} // namespace

namespace {

using cli::OptionSpec;
using cli::Takes;

const OptionSpec kPartialOption{
    "partial", Takes::Nothing, "",
    "Read a recording cut short to its last whole frame, warning\nwhere it ends."};

const char* const kSetNotation = R"(
A SET is written as 0x100-0x1FF, 0x7DF 1024 (numbers as typed: decimal, or
hexadecimal after 0x, $ or x), 0x600:0x7F0 (id:mask, both hexadecimal as
candump writes them) or 0x600~0x7F0 (the identifiers the pair does not pass).
)";

} // namespace

const std::vector<cli::CommandSpec>& filterCommands()
{
    static const QByteArray setDescription =
        QByteArray(R"(Edits the project's filter as the filter windows do: for CAN 2.0A makes the
identifiers of SET visible or hidden; for CAN 2.0B makes SET the COB-ID list
(positive, or negative with --negative) or the patterns the mask list. The frame
format is the one the device gets from pargen.xml. An empty list lets every
extended frame through: it is written only with --allow-all.
)") + kSetNotation;
    static const std::vector<cli::CommandSpec> commands{
        {"filter set",
         "filter set PROJECT_DIR (--show SET | --hide SET | --list SET [--negative] | "
         "--patterns P,...) [--allow-all]",
         "Edit the project's CAN filter as the filter windows do.",
         setDescription.constData(),
         {{"show", Takes::Text, "SET", "CAN 2.0A: make the identifiers of SET visible."},
          {"hide", Takes::Text, "SET", "CAN 2.0A: make the identifiers of SET hidden."},
          {"list", Takes::Text, "SET", "CAN 2.0B: make SET the COB-ID list (at most 63)."},
          {"negative", Takes::Nothing, "", "With --list: the listed identifiers are blocked."},
          {"patterns", Takes::Text, "P,...",
           "CAN 2.0B: the patterns (29 characters of 1, 0, x, or id:mask)\nbecome the mask list "
           "(at most 10)."},
          {"allow-all", Takes::Nothing, "",
           "Write an empty 2.0B list, which lets every extended frame\nthrough."}},
         R"(Example:
  quillner-cli filter set PROJECTS/Alpha --hide 0x600-0x6FF
)",
         {Takes::Folder},
         false,
         runSet},
        {"filter fit",
         "filter fit (--ids SET | --ids-file FILE) [--max-patterns N] [--log LOG [--partial]] "
         "[--apply DIR]",
         "Choose the 2.0B list or patterns for a set of 29-bit identifiers.",
         R"(Chooses the 2.0B filter for 29-bit identifiers: the list when it holds them
(63), else at most N (10) patterns; prints it with the number of extra
identifiers passed and the least any N patterns could pass ("optimal" when it
is reached). With --log the patterns let the fewest frames of the recording
through that the set did not ask for, and tell how many per second; --apply
saves the filter in the project folder DIR.
)",
         {{"ids", Takes::Text, "SET", "The identifiers, written as a SET."},
          {"ids-file", Takes::File, "FILE", "The identifiers, from a file."},
          {"max-patterns", Takes::Text, "N", "At most N patterns (1 to 10)."},
          {"log", Takes::File, "LOG", "Weigh each identifier by its frames in the recording LOG."},
          kPartialOption,
          {"apply", Takes::Folder, "DIR", "Save the chosen filter in the CAN 2.0B project DIR."}},
         R"(Example:
  quillner-cli filter fit --ids 0x18FF0000-0x18FF00FF --max-patterns 4
)",
         {},
         false,
         runFit},
        {"filter test",
         "filter test PROJECT_DIR LOG... [--json | --blocked | --passed] [--partial] "
         "[--threads N] [--lenient]",
         "Tell which frames of recordings the project's filter passes.",
         R"(Tells for each frame of the recordings whether the device receives it with the
project's compiled bank: per identifier and in total. A LOG is a candump log or
screen output, a Vector ASC or BLF file or a PEAK TRC file, gzip-compressed or
not, told by its content; - is standard input. Remote frames are blocked while
can.rtr is off, CAN FD frames are never received, and error frames are counted
on their own. A recording that ends inside a line or an object (a logger that
lost power) is refused, telling where, unless --partial.
)",
         {{"json", Takes::Nothing, "", "Print the tally as one JSON object."},
          {"blocked", Takes::Nothing, "",
           "Print only the blocked frames, in the log's own format."},
          {"passed", Takes::Nothing, "",
           "Print only the passed frames, in the log's own format (BLF\nframes as candump log "
           "lines)."},
          kPartialOption,
          {"threads", Takes::Text, "N",
           "Read a large uncompressed candump log with N threads (1 or 2;\n2 where there are two "
           "cores)."},
          cli::kLenientOption,
          cli::kStrictOption},
         R"(Example:
  quillner-cli filter test PROJECTS/Alpha bus.log --blocked
)",
         {Takes::Folder, Takes::File},
         true,
         runTest},
        {"filter export",
         "filter export PROJECT_DIR --as candump|socketcan|python-can|json [--lenient]",
         "Write the device's receive filter in another CAN tool's notation.",
         R"help(Compiles the project in memory (writing nothing) and writes its receive filter
so that another tool receives exactly the frames the device does: candump's
filter list (candump "can0,$(quillner-cli filter export P --as candump)"), a
struct can_filter array in C for a CAN_RAW socket, python-can's can_filters,
or the SocketCAN words in JSON. Every filter names the frame format;
    while
can.rtr is off every filter asks for data frames only (python-can cannot, and
says so in a comment). A filter that passes no frame cannot be told to candump
or python-can, which would then receive everything.
)help",
         {{"as", Takes::Text, "NOTATION", "candump, socketcan, python-can or json."},
          cli::kLenientOption,
          cli::kStrictOption},
         R"help(Example:
  candump "can0,$(quillner-cli filter export PROJECTS/Alpha --as candump)"
)help",
         {Takes::Folder},
         false,
         runExport},
        {"filter import-dbc",
         "filter import-dbc PROJECT_DIR FILE.dbc [--messages NAME,...] [--allow-all]",
         "Make the identifiers of a DBC file's messages the filter.",
         R"(Makes the identifiers of the DBC file's messages the filter: visible for
2.0A, the list or fitted patterns for 2.0B. Messages of the other identifier
form are listed as skipped; a DBC that gives the project no identifier is
refused unless --allow-all.
)",
         {{"messages", Takes::Text, "NAME,...", "Only these messages, separated by commas."},
          {"allow-all", Takes::Nothing, "",
           "Write the filter even when the DBC gives no identifier of the\nproject's frame "
           "format."}},
         R"(Example:
  quillner-cli filter import-dbc PROJECTS/Truck engine.dbc --messages EEC1,CCVS
)",
         {Takes::Folder, Takes::File},
         false,
         runImportDbc},
    }; // namespace quillner
    return commands;
}

} // namespace quillner
