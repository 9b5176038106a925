#include "filter_command_runs.h"

#include "bus_commands.h"
#include "cli_support.h"
#include "configuration_output.h"

#include "core/app/counted_noun.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/device/identifier_text.h"
#include "core/documents/general_parameters.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/filter_safety.h"
#include "core/filters/mask_pattern.h"
#include "core/filters/stored_entries.h"
#include "core/logs/recorded_traffic.h"
#include "core/update/device_update.h"

#include <QFileInfo>

#include <optional>

namespace quillner::cli::filter {

namespace {

void warn(const QString& text)
{
    complain(QStringLiteral("warning"), text);
}

// The frame format as the device gets it, which also chooses the filter window.
bool canTypeB(const AppPaths& paths)
{
    return readFrameFormat(paths.PargenPath) == FrameFormat::Extended;
}

// Every filter writer edits under the project's lock and never writes over a document that
// cannot be read.
void saveAndTell20A(const ProjectEdit& edit, const AppPaths& paths, const Filter20A& filter)
{
    edit.write(paths.Filter20APath, filter20ADocument(), filter);
    say(QStringLiteral("Written: %1 (%2)\n")
            .arg(paths.Filter20APath, visibleCountText(visibleCount(filter))));
    say(storedEntriesText(filter) + u'\n');
}

// A 2.0B filter that lets every extended frame through is written only when asked for, whoever
// made it: typed, fitted or read from a DBC file.
void saveAndTell20B(const ProjectEdit& edit, const AppPaths& paths, const Filter20B& filter,
                    bool allowAll)
{
    stopOnProblems(refuseOpenGateway(filter, allowAll).problems);
    edit.write(paths.Filter20BPath, filter20BDocument(), filter);
    say(QStringLiteral("Written: %1 (%2)\n")
            .arg(paths.Filter20BPath,
                 filter.cobIdFilter ? QStringLiteral("COB-ID list, %1, type %2")
                                          .arg(counted(filter.cobIds.size(), "identifier"))
                                          .arg(filter.typePositive ? QStringLiteral("positive")
                                                                   : QStringLiteral("negative"))
                                    : counted(filter.patterns.size(), "pattern")));
    say(storedEntriesText(filter) + u'\n');
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
    QString text =
        QStringLiteral("Extra frames: %1 of the %2 in %3")
            .arg(form.identifierList ? QStringLiteral("0 (optimal)")
                                     : countAndBound(extra, form.fit),
                 counted(qint64(report.traffic.frames), "extended frame"), report.logName);
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
        say(QStringLiteral("Form: COB-ID list, %1\n")
                .arg(counted(form.identifiers.size(), "identifier")));
        for (const quint32 id : form.identifiers)
            say(QStringLiteral("Identifier: %1\n").arg(identifierText(id, true)));
        say(QStringLiteral("Extra identifiers: 0\n"));
    } else {
        const PatternFit& fit = form.fit;
        say(QStringLiteral("Form: mask patterns, %1\n")
                .arg(counted(fit.patterns.size(), "pattern")));
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
    const Result<QList<IdTerm>> terms = parseIdTerms(typed, IdWidth::Extended);
    const Result<quint64> counted = terms.whole() ? termCount(terms.value, IdWidth::Extended)
                                                  : Result<quint64>::failure(terms.problems);
    const QString count = counted.whole() ? QString::number(counted.value) : QStringLiteral("more");
    return QStringLiteral("%1: a COB-ID list holds at most %2 identifiers and this set has %3; "
                          "fit it into patterns with: quillner-cli filter fit --ids '%4' "
                          "--apply %5")
        .arg(QString::fromLatin1(kAllFilterInUse))
        .arg(kCobIdListMax)
        .arg(count, typed.simplified(), folder);
}

int maxPatterns(const CommandLine& line)
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

// Saves a chosen form in a 2.0B project.
void applyForm(const QString& folder, const FilterForm& form, bool allowAll)
{
    const AppPaths paths = requireProject(folder);
    const ProjectEdit edit(paths.ProjectDir);
    if (!canTypeB(paths))
        throw Error(QStringLiteral("The identifiers are 29-bit; %1 is a CAN 2.0A project")
                        .arg(paths.ProjectDir));
    const Filter20B settings = edit.read(paths.Filter20BPath, filter20BDocument());
    saveAndTell20B(edit, paths, filter20BOfForm(form, settings), allowAll);
}

} // namespace

// filter set
int runSet(const CommandLine& line)
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

    const AppPaths paths = requireProject(line.arguments()[0]);
    const ProjectEdit edit(paths.ProjectDir);
    const bool typeB = canTypeB(paths);
    const bool forA = chosen == QStringLiteral("show") || chosen == QStringLiteral("hide");
    if (forA == typeB)
        throw Error(QStringLiteral("--%1 applies to a CAN %2 project; this one is CAN %3")
                        .arg(chosen, forA ? QStringLiteral("2.0A") : QStringLiteral("2.0B"),
                             typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A")));
    const QString text = line.value(qPrintable(chosen));
    if (forA) {
        const QList<IdRange> ranges = wholeValue(parseIdSet(text, IdWidth::Standard));
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
        const Result<ListAddition> listed = setCobIdList(filter, text, positive);
        if (listed.value.full)
            throw Error(listFullRefusal(text, line.argument(0)));
        stopOnProblems(listed.problems);
    } else
        stopOnProblems(setPatternList(filter, text).problems);
    saveAndTell20B(edit, paths, filter, allowAll);
    return kExitSuccess;
}

// filter fit
int runFit(const CommandLine& line)
{
    if (!line.arguments().isEmpty())
        line.usageError(QStringLiteral("filter fit takes no argument besides its options"));
    const bool inline_ = line.isSet("ids");
    if (inline_ == line.isSet("ids-file"))
        line.usageError(QStringLiteral("filter fit needs one of --ids and --ids-file"));
    if (line.isSet("allow-all") && !line.isSet("apply"))
        line.usageError(QStringLiteral("--allow-all needs --apply"));
    // "-" is standard input, kept in a temporary file for the bounded reader.
    std::optional<InputFile> file;
    if (!inline_)
        file.emplace(line.value("ids-file"));
    const QString text = inline_ ? line.value("ids") : wholeValue(readIdentifierFile(file->path()));
    // An id:mask stays one pattern however many identifiers it passes.
    const IdPatternSet set = wholeValue(
        termPatternSet(wholeValue(parseIdTerms(text, IdWidth::Extended)), IdWidth::Extended));
    // A fit of nothing would write a filter of nothing; an empty file is no set of identifiers.
    if (set.count == 0) {
        if (inline_)
            line.usageError(QStringLiteral("--ids holds no identifier to fit"));
        throw Error(QStringLiteral("%1 holds no identifier to fit").arg(file->displayName()));
    }
    std::optional<TrafficReport> report;
    std::optional<ExtraTraffic> extra;
    const std::optional<BusRequest> bus = busRequestOf(line);
    if (bus && line.isSet("log"))
        line.usageError(QStringLiteral("filter fit takes one of --log and --bus"));
    if (line.isSet("partial") && !line.isSet("log"))
        line.usageError(QStringLiteral("--partial is for a recording given with --log"));
    if (line.isSet("log")) {
        const QString log = line.value("log");
        const Result<RecordedTraffic> traffic =
            readRecordedTraffic(absoluteNativePath(log), cutShortOf(line));
        stopOnProblems(traffic.problems);
        report = TrafficReport{QFileInfo(log).fileName(), traffic.value};
    } else if (bus) {
        const Result<RecordedTraffic> heard = heardTraffic(*bus);
        stopOnProblems(heard.problems);
        report = TrafficReport{bus->bus.text(), heard.value};
    }
    if (report)
        extra.emplace(report->traffic, set);
    const FilterForm form = chooseFilterForm(set, maxPatterns(line), extra ? &*extra : nullptr);
    describeForm(form, report ? &*report : nullptr, set.count);
    if (line.isSet("apply"))
        applyForm(line.value("apply"), form, line.isSet("allow-all"));
    return kExitSuccess;
}

// filter import-dbc
int runImportDbc(const CommandLine& line)
{
    if (line.arguments().size() != 2)
        line.usageError(QStringLiteral("filter import-dbc takes PROJECT_DIR and FILE.dbc"));
    const AppPaths paths = requireProject(line.arguments()[0]);
    const InputFile dbc(line.arguments()[1]);
    const QString fileName =
        dbc.isStandardInput() ? dbc.displayName() : QFileInfo(dbc.path()).fileName();
    const Result<QList<DbcMessage>> read = readDbcMessages(dbc.path());
    warnAll(read.warnings);
    const QList<DbcMessage> messages = wholeValue(read);

    const ProjectEdit edit(paths.ProjectDir);
    const FrameFormat format = readFrameFormat(paths.PargenPath);
    const DbcSelection selection =
        wholeValue(selectDbcMessages(messages, line.value("messages"), format, fileName));
    for (const QString& skipped : selection.skipped)
        say(QStringLiteral("Skipped: %1\n").arg(skipped));
    const bool allowAll = line.isSet("allow-all");
    wholeValue(refuseEmptyDbcSelection(selection, format, fileName, allowAll));
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
    saveAndTell20B(edit, paths, filter20BOfForm(form, settings), allowAll);
    return kExitSuccess;
}

} // namespace quillner::cli::filter
