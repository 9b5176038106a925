#include "filter_commands.h"

#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/documents/general_parameters.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/mask_pattern.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/device_update.h"
#include "core/logs/candump_reader.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>

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

// The frame format as the device gets it, which also chooses the filter window.
bool canTypeB(const AppPaths& paths)
{
    return readFrameFormat(paths.PargenPath) == FrameFormat::Extended;
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

void describeForm(const FilterForm& form)
{
    if (form.identifierList) {
        say(QStringLiteral("Form: COB-ID list, %1 identifiers\n").arg(form.identifiers.size()));
        for (const quint32 id : form.identifiers)
            say(QStringLiteral("Identifier: %1\n").arg(hex8(id)));
        say(QStringLiteral("Extra identifiers: 0\n"));
        return;
    }
    say(QStringLiteral("Form: mask patterns, %1 patterns\n").arg(form.fit.patterns.size()));
    for (const IdPattern& pattern : form.fit.patterns) {
        const QString text = idPatternText(pattern);
        say(QStringLiteral("Pattern: %1 (%2)\n").arg(text, patternIdMaskText(text)));
    }
    say(QStringLiteral("Extra identifiers: %1\n").arg(form.fit.extras));
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
    if (chosen == QStringLiteral("list"))
        setCobIdList(filter, text, !parser.isSet(QStringLiteral("negative")));
    else
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

// The typed set as identifiers; a set too large to fit is refused before it is built.
QList<quint32> identifiersOf(const QString& text)
{
    constexpr qsizetype kMostIdentifiers = 1 << 20;
    const QList<IdRange> ranges = parseIdSet(text, IdWidth::Extended);
    if (rangeCount(ranges) > quint64(kMostIdentifiers))
        throw Error(QStringLiteral("The set holds more than %1 identifiers").arg(kMostIdentifiers));
    QList<quint32> ids;
    for (const IdRange& range : ranges) {
        for (quint64 id = range.first; id <= range.last; ++id)
            ids.append(quint32(id));
    }
    return ids;
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
    QString text;
    if (inline_) {
        text = parser.value(QStringLiteral("ids"));
    } else {
        QFile file(absoluteNativePath(parser.value(QStringLiteral("ids-file"))));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(file.fileName(), file.errorString()));
        text = QString::fromUtf8(file.readAll());
    }
    const FilterForm form = chooseFilterForm(identifiersOf(text), maxPatterns(parser));
    describeForm(form);
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
    // Frames judged by a bank of zeros would say nothing of the device: as for compile, an
    // unreadable document stops the test unless --lenient.
    const bool goesOn = bankMayGoOn(compiled, parser.isSet(QStringLiteral("lenient")));
    for (const Problem& problem : compiled.unreadable)
        cli::complain(goesOn ? QStringLiteral("warning") : QStringLiteral("error"),
                      problem.toString());
    if (!goesOn) {
        cli::complain(QStringLiteral("error"),
                      QStringLiteral("the project's documents could not be read; no frame was "
                                     "judged (--lenient judges by a bank with zeros for what "
                                     "was not read)"));
        return cli::kExitFailure;
    }
    const FrameFilter filter(compiled.bank);

    const bool printFrames = onlyBlocked || onlyPassed;
    FilterTally tally;
    for (const QString& log : positional.mid(1)) {
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
        const LogReading reading = readCanLog(live ? log : absoluteNativePath(log), visitor);
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
    describeForm(form);
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
        {"fit", runFit, {"ids", "ids-file", "max-patterns", "apply"}},
        {"test", runTest, {"json", "blocked", "passed", "lenient"}},
        {"import-dbc", runImportDbc, {"messages"}},
    };
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QStringList valued{"show",     "hide",         "list",  "patterns", "ids",
                             "ids-file", "max-patterns", "apply", "messages"};
    for (const QString& name : valued)
        parser.addOption(QCommandLineOption(name, {}, QStringLiteral("VALUE")));
    for (const char* name : {"negative", "json", "blocked", "passed", "lenient"})
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
  quillner-cli filter fit (--ids SET | --ids-file FILE) [--max-patterns N] [--apply DIR]
      Choose the 2.0B filter for 29-bit identifiers: the list when it holds them
      (63), else at most N (10) patterns; print it with the number of extra
      identifiers passed; --apply saves it in the project folder DIR.
  quillner-cli filter test PROJECT_DIR LOG... [--json | --blocked | --passed]
                                              [--lenient]
      Tell for each frame of the recordings whether the device receives it with
      the project's compiled bank: per identifier and in total. A LOG is a
      candump log or screen output, a Vector ASC or BLF file or a PEAK TRC
      file, gzip-compressed or not, told by its content; - is standard input.
      --blocked or --passed print only those frames, in the log's own format
      (BLF frames as candump log lines); --lenient judges even when a project
      document cannot be read.
  quillner-cli filter import-dbc PROJECT_DIR FILE.dbc [--messages NAME,...]
      Make the identifiers of the DBC file's messages the filter: visible for
      2.0A, the list or fitted patterns for 2.0B. Messages of the other
      identifier form are listed as skipped.

A SET is written as 0x100-0x1FF, 0x7DF 1024, 0x600:0x7F0 (id:mask) or
0x600~0x7F0 (the identifiers the pair does not pass).

Examples:
  quillner-cli filter set PROJECTS/Alpha --hide 0x600-0x6FF
  quillner-cli filter fit --ids 0x18FF0000-0x18FF00FF --max-patterns 4
  quillner-cli filter test PROJECTS/Alpha bus.log --blocked
)",
        runFilterCommand};
    return spec;
}

} // namespace quillner
