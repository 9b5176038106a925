#include "filter_commands.h"

#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/documents/general_parameters.h"
#include "core/filters/can_log.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/fit_traffic.h"
#include "core/filters/mask_pattern.h"
#include "core/firmware/configuration_bank.h"
#include "core/firmware/device_update.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>
#include <optional>

namespace quillner {

namespace {

constexpr int kExitSuccess = 0;

using cli::say;
using cli::warnAll;

[[noreturn]] void usageError(const QString& text)
{
    cli::usageError(text, QStringLiteral("filter"));
}

void warn(const QString& text)
{
    cli::complain(QStringLiteral("warning"), text);
}

AppPaths project(const QString& folder)
{
    return cli::requireProject(folder);
}

// The frame format as the main window reads it to choose the filter window.
bool canTypeB(const AppPaths& paths)
{
    return readCanTypeCode(paths.PargenPath) != 0;
}

// A document that cannot be read is not written over by an edit of part of it.
Filter20A readFilter20A(const AppPaths& paths)
{
    const Filter20ALoad loaded = loadFilter20A(paths.Filter20APath);
    if (!loaded.whole())
        throw Error(problemLines(loaded.problems).join(u'\n'));
    return loaded.value;
}

Filter20B readFilter20B(const AppPaths& paths)
{
    const Filter20BLoad loaded = loadFilter20B(paths.Filter20BPath);
    if (!loaded.whole())
        throw Error(problemLines(loaded.problems).join(u'\n'));
    return loaded.value;
}

QString hex8(quint32 id)
{
    return QStringLiteral("0x") + QString::number(id, 16).toUpper().rightJustified(8, u'0');
}

void saveAndTell20A(const AppPaths& paths, const Filter20A& filter)
{
    saveFilter20A(paths.Filter20APath, filter);
    say(QStringLiteral("Written: %1 (%2)\n")
            .arg(paths.Filter20APath, visibleCountText(visibleCount(filter))));
}

void saveAndTell20B(const AppPaths& paths, const Filter20B& filter)
{
    saveFilter20B(paths.Filter20BPath, filter);
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

void describeForm(const FilterForm& form, const TrafficReport* traffic)
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
int runSet(const QCommandLineParser& parser, const QStringList& positional)
{
    if (positional.size() != 1)
        usageError(QStringLiteral("filter set takes one PROJECT_DIR"));
    const QStringList choices{QStringLiteral("show"), QStringLiteral("hide"),
                              QStringLiteral("list"), QStringLiteral("patterns")};
    QString chosen;
    for (const QString& choice : choices) {
        if (!parser.isSet(choice))
            continue;
        if (!chosen.isEmpty())
            usageError(
                QStringLiteral("filter set takes one of --show, --hide, --list, --patterns"));
        chosen = choice;
    }
    if (chosen.isEmpty())
        usageError(QStringLiteral("filter set needs --show, --hide, --list or --patterns"));
    if (parser.isSet(QStringLiteral("negative")) && chosen != QStringLiteral("list"))
        usageError(QStringLiteral("--negative goes with --list"));

    const AppPaths paths = project(positional[0]);
    const bool typeB = canTypeB(paths);
    const bool forA = chosen == QStringLiteral("show") || chosen == QStringLiteral("hide");
    if (forA == typeB)
        throw Error(QStringLiteral("--%1 applies to a CAN %2 project; this one is CAN %3")
                        .arg(chosen, forA ? QStringLiteral("2.0A") : QStringLiteral("2.0B"),
                             typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A")));
    const QString text = parser.value(chosen);
    if (forA) {
        Filter20A filter = readFilter20A(paths);
        setVisibility(filter, parseIdSet(text, IdWidth::Standard),
                      chosen == QStringLiteral("show"));
        saveAndTell20A(paths, filter);
        return kExitSuccess;
    }
    Filter20B filter = readFilter20B(paths);
    if (chosen == QStringLiteral("list")) {
        try {
            setCobIdList(filter, text, !parser.isSet(QStringLiteral("negative")));
        } catch (const Error& error) {
            if (error.message() != QLatin1StringView(kAllFilterInUse))
                throw;
            throw Error(listFullRefusal(text, positional[0]));
        }
    } else
        setPatternList(filter, text);
    saveAndTell20B(paths, filter);
    return kExitSuccess;
}

int maxPatterns(const QCommandLineParser& parser)
{
    if (!parser.isSet(QStringLiteral("max-patterns")))
        return kPatternListMax;
    bool ok = false;
    const QString text = parser.value(QStringLiteral("max-patterns"));
    const int count = text.toInt(&ok);
    if (!ok || count < 1 || count > kPatternListMax)
        usageError(QStringLiteral("--max-patterns takes a number from 1 to %1, not '%2'")
                       .arg(kPatternListMax)
                       .arg(text));
    return count;
}

// Saves a chosen form in a 2.0B project.
void applyForm(const QString& folder, const FilterForm& form)
{
    const AppPaths paths = project(folder);
    if (!canTypeB(paths))
        throw Error(QStringLiteral("The identifiers are 29-bit; %1 is a CAN 2.0A project")
                        .arg(paths.ProjectDir));
    const Filter20BLoad loaded = loadFilter20B(paths.Filter20BPath);
    saveAndTell20B(paths, filter20BOfForm(form, loaded.value));
}

// filter fit
int runFit(const QCommandLineParser& parser, const QStringList& positional)
{
    if (!positional.isEmpty())
        usageError(QStringLiteral("filter fit takes no argument besides its options"));
    const bool inline_ = parser.isSet(QStringLiteral("ids"));
    if (inline_ == parser.isSet(QStringLiteral("ids-file")))
        usageError(QStringLiteral("filter fit needs one of --ids and --ids-file"));
    const QString text =
        inline_ ? parser.value(QStringLiteral("ids"))
                : readIdentifierFile(absoluteNativePath(parser.value(QStringLiteral("ids-file"))));
    // An id:mask stays one pattern however many identifiers it passes.
    const IdPatternSet set =
        termPatternSet(parseIdTerms(text, IdWidth::Extended), IdWidth::Extended);
    std::optional<TrafficReport> report;
    std::optional<ExtraTraffic> extra;
    if (parser.isSet(QStringLiteral("log"))) {
        const QString log = parser.value(QStringLiteral("log"));
        report =
            TrafficReport{QFileInfo(log).fileName(), readRecordedTraffic(absoluteNativePath(log))};
        extra.emplace(report->traffic, set);
    }
    const FilterForm form = chooseFilterForm(set, maxPatterns(parser), extra ? &*extra : nullptr);
    describeForm(form, report ? &*report : nullptr);
    if (parser.isSet(QStringLiteral("apply")))
        applyForm(parser.value(QStringLiteral("apply")), form);
    return kExitSuccess;
}

void writeRaw(QByteArrayView line)
{
    std::fwrite(line.data(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

// filter test
int runTest(const QCommandLineParser& parser, const QStringList& positional)
{
    if (positional.size() < 2)
        usageError(QStringLiteral("filter test takes PROJECT_DIR and at least one LOG"));
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool onlyBlocked = parser.isSet(QStringLiteral("blocked"));
    const bool onlyPassed = parser.isSet(QStringLiteral("passed"));
    if (int(json) + int(onlyBlocked) + int(onlyPassed) > 1)
        usageError(QStringLiteral("filter test takes one of --json, --blocked, --passed"));
    const AppPaths paths = project(positional[0]);
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    warnAll(compiled.unreadable);
    const FrameFilter filter(compiled.bank);

    const bool printFrames = onlyBlocked || onlyPassed;
    FilterTally tally;
    for (const QString& log : positional.mid(1)) {
        bool ascFile = false;
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) {
            const FrameVerdict verdict = filter.verdict(frame.id, frame.extended);
            tally.add(frame, verdict);
            if (printFrames && (verdict == FrameVerdict::Passed) == onlyPassed)
                writeRaw(frame.line);
        };
        // An ASC file keeps its header and its other events, so that it can be replayed.
        visitor.otherLine = [&](QByteArrayView line) {
            if (printFrames && ascFile)
                writeRaw(line);
        };
        visitor.formatKnown = [&](LogFormat format) { ascFile = format == LogFormat::VectorAsc; };
        const LogReading reading = readCanLog(absoluteNativePath(log), visitor);
        tally.unreadable += quint64(reading.unreadableCount);
        warnAll(reading.unreadable);
        if (reading.unreadableCount > reading.unreadable.size())
            warn(QStringLiteral("%1: %2 unreadable lines in all")
                     .arg(QFileInfo(log).fileName())
                     .arg(reading.unreadableCount));
    }
    std::fflush(stdout);
    if (json)
        say(QString::fromUtf8(QJsonDocument(filterTallyJson(tally)).toJson()));
    else if (!printFrames)
        say(filterTallyText(tally));
    return kExitSuccess;
}

// filter import-dbc
int runImportDbc(const QCommandLineParser& parser, const QStringList& positional)
{
    if (positional.size() != 2)
        usageError(QStringLiteral("filter import-dbc takes PROJECT_DIR and FILE.dbc"));
    const AppPaths paths = project(positional[0]);
    const Partial<QList<DbcMessage>> read = readDbcMessages(absoluteNativePath(positional[1]));
    warnAll(read.problems);
    QList<DbcMessage> messages = read.value;
    if (parser.isSet(QStringLiteral("messages"))) {
        QList<DbcMessage> chosen;
        for (const QString& name :
             parser.value(QStringLiteral("messages")).split(u',', Qt::SkipEmptyParts)) {
            const auto found = std::find_if(messages.begin(), messages.end(),
                                            [&](const DbcMessage& m) { return m.name == name; });
            if (found == messages.end())
                throw Error(QStringLiteral("No message named %1 in %2")
                                .arg(name, QFileInfo(positional[1]).fileName()));
            chosen.append(*found);
        }
        messages = chosen;
    }

    const bool typeB = canTypeB(paths);
    QList<quint32> ids;
    for (const DbcMessage& message : std::as_const(messages)) {
        if (message.extended == typeB) {
            ids.append(message.id);
            continue;
        }
        say(QStringLiteral("Skipped: %1 (%2 identifier %3 on a CAN %4 project)\n")
                .arg(message.name,
                     message.extended ? QStringLiteral("extended") : QStringLiteral("standard"),
                     message.extended
                         ? hex8(message.id)
                         : QStringLiteral("0x") + QString::number(message.id, 16).toUpper(),
                     typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A")));
    }
    if (!typeB) {
        Filter20A filter;
        filter.IdVisible.fill(0);
        setVisibility(filter, rangesOf([&] {
                          QList<quint32> sorted = ids;
                          std::sort(sorted.begin(), sorted.end());
                          return sorted;
                      }()),
                      true);
        saveAndTell20A(paths, filter);
        return kExitSuccess;
    }
    const FilterForm form = chooseFilterForm(ids, kPatternListMax);
    describeForm(form, nullptr);
    const Filter20BLoad loaded = loadFilter20B(paths.Filter20BPath);
    saveAndTell20B(paths, filter20BOfForm(form, loaded.value));
    return kExitSuccess;
}

struct FilterCommand
{
    const char* name;
    int (*run)(const QCommandLineParser&, const QStringList&);
    QStringList options;
};

} // namespace

namespace {

int runFilterCommand(const QStringList& arguments)
{
    const QList<FilterCommand> commands{
        {"set", runSet, {"show", "hide", "list", "negative", "patterns"}},
        {"fit", runFit, {"ids", "ids-file", "max-patterns", "apply", "log"}},
        {"test", runTest, {"json", "blocked", "passed"}},
        {"import-dbc", runImportDbc, {"messages"}},
    };
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QStringList valued{"show",     "hide",         "list",  "patterns", "ids",
                             "ids-file", "max-patterns", "apply", "messages", "log"};
    for (const QString& name : valued)
        parser.addOption(QCommandLineOption(name, {}, QStringLiteral("VALUE")));
    for (const char* name : {"negative", "json", "blocked", "passed"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    // The program's name comes first, then "filter".
    if (!parser.parse(QStringList{QStringLiteral("quillner-cli")} + arguments.mid(1)))
        usageError(parser.errorText());
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        usageError(QStringLiteral("filter needs set, fit, test or import-dbc"));
    const QString name = positional.takeFirst();
    for (const FilterCommand& command : commands) {
        if (name != QLatin1StringView(command.name))
            continue;
        for (const QString& option : parser.optionNames()) {
            if (!command.options.contains(option))
                usageError(QStringLiteral("--%1 does not apply to filter %2").arg(option, name));
        }
        return command.run(parser, positional);
    }
    usageError(QStringLiteral("unknown filter command '%1'").arg(name));
}

} // namespace

const cli::CommandSpec& filterCommand()
{
    static const cli::CommandSpec spec{
        "filter", "filter set|fit|test|import-dbc ...",
        "Edit, fit and test the project's CAN filter; take identifiers from a DBC file.",
        R"(Usage:
  quillner-cli filter set PROJECT_DIR (--show SET | --hide SET | --list SET [--negative]
                                       | --patterns P,...)
      Edit the project's filter as the filter windows do: for CAN 2.0A make the
      identifiers of SET visible or hidden; for CAN 2.0B make SET the COB-ID list
      (positive, or negative with --negative) or the patterns the mask list.
  quillner-cli filter fit (--ids SET | --ids-file FILE) [--max-patterns N] [--log LOG]
                          [--apply DIR]
      Choose the 2.0B filter for 29-bit identifiers: the list when it holds them
      (63), else at most N (10) patterns; print it with the number of extra
      identifiers passed and the least any N patterns could pass ("optimal" when
      it is reached). With --log the patterns let the fewest frames of the
      recording through that the set did not ask for, and tell how many per
      second; --apply saves the filter in the project folder DIR.
  quillner-cli filter test PROJECT_DIR LOG... [--json | --blocked | --passed]
      Tell for each frame of candump or Vector ASC logs whether the project's
      compiled filter passes it: per identifier and in total; --blocked or
      --passed print only those frames, in the log's own format.
  quillner-cli filter import-dbc PROJECT_DIR FILE.dbc [--messages NAME,...]
      Make the identifiers of the DBC file's messages the filter: visible for
      2.0A, the list or fitted patterns for 2.0B. Messages of the other
      identifier form are listed as skipped.

A SET is written as 0x100-0x1FF, 0x7DF 1024, 0x600:0x7F0 (id:mask) or
0x600~0x7F0 (the identifiers the pair does not pass); both numbers of a pair
are hexadecimal, as candump writes them: 600:7F0 is 0x600:0x7F0.

Examples:
  quillner-cli filter set PROJECTS/Alpha --hide 0x600-0x6FF
  quillner-cli filter fit --ids 0x18FF0000-0x18FF00FF --max-patterns 4
  quillner-cli filter test PROJECTS/Alpha bus.log --blocked
)",
        runFilterCommand};
    return spec;
}

} // namespace quillner
