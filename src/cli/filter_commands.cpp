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
#include "core/filters/filter_safety.h"
#include "core/filters/mask_pattern.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/device_update.h"

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
    const ProjectEdit edit(paths.ProjectDir);
    const bool typeB = canTypeB(paths);
    const bool forA = chosen == QStringLiteral("show") || chosen == QStringLiteral("hide");
    if (forA == typeB)
        throw Error(QStringLiteral("--%1 applies to a CAN %2 project; this one is CAN %3")
                        .arg(chosen, forA ? QStringLiteral("2.0A") : QStringLiteral("2.0B"),
                             typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A")));
    const QString text = parser.value(chosen);
    if (forA) {
        Filter20A filter = edit.read(paths.Filter20APath, filter20ADocument());
        setVisibility(filter, parseIdSet(text, IdWidth::Standard),
                      chosen == QStringLiteral("show"));
        saveAndTell20A(edit, paths, filter);
        return kExitSuccess;
    }
    Filter20B filter = edit.read(paths.Filter20BPath, filter20BDocument());
    const bool allowAll = parser.isSet(QStringLiteral("allow-all"));
    const bool positive = !parser.isSet(QStringLiteral("negative"));
    if (chosen == QStringLiteral("list"))
        setCobIdList(filter, text, positive, allowAll);
    else
        setPatternList(filter, text);
    refuseOpenGateway(filter, allowAll);
    saveAndTell20B(edit, paths, filter);
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
    const ProjectEdit edit(paths.ProjectDir);
    if (!canTypeB(paths))
        throw Error(QStringLiteral("The identifiers are 29-bit; %1 is a CAN 2.0A project")
                        .arg(paths.ProjectDir));
    const Filter20B settings = edit.read(paths.Filter20BPath, filter20BDocument());
    saveAndTell20B(edit, paths, filter20BOfForm(form, settings));
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
    const QString fileName = QFileInfo(positional[1]).fileName();
    const Partial<QList<DbcMessage>> read = readDbcMessages(absoluteNativePath(positional[1]));
    warnAll(read.problems);

    const ProjectEdit edit(paths.ProjectDir);
    const FrameFormat format = readFrameFormat(paths.PargenPath);
    const DbcSelection selection =
        selectDbcMessages(read.value, parser.value(QStringLiteral("messages")), format, fileName);
    for (const QString& skipped : selection.skipped)
        say(QStringLiteral("Skipped: %1\n").arg(skipped));
    const bool allowAll = parser.isSet(QStringLiteral("allow-all"));
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
    describeForm(form);
    saveAndTell20B(edit, paths, filter20BOfForm(form, settings));
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
        {"set", runSet, {"show", "hide", "list", "negative", "patterns", "allow-all"}},
        {"fit", runFit, {"ids", "ids-file", "max-patterns", "apply"}},
        {"test", runTest, {"json", "blocked", "passed"}},
        {"import-dbc", runImportDbc, {"messages", "allow-all"}},
    };
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QStringList valued{"show",     "hide",         "list",  "patterns", "ids",
                             "ids-file", "max-patterns", "apply", "messages"};
    for (const QString& name : valued)
        parser.addOption(QCommandLineOption(name, {}, QStringLiteral("VALUE")));
    for (const char* name : {"negative", "json", "blocked", "passed", "allow-all"})
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
                                       | --patterns P,...) [--allow-all]
      Edit the project's filter as the filter windows do: for CAN 2.0A make the
      identifiers of SET visible or hidden; for CAN 2.0B make SET the COB-ID list
      (positive, or negative with --negative) or the patterns the mask list. An
      empty list lets every extended frame through: only with --allow-all.
  quillner-cli filter fit (--ids SET | --ids-file FILE) [--max-patterns N] [--apply DIR]
      Choose the 2.0B filter for 29-bit identifiers: the list when it holds them
      (63), else at most N (10) patterns; print it with the number of extra
      identifiers passed; --apply saves it in the project folder DIR.
  quillner-cli filter test PROJECT_DIR LOG... [--json | --blocked | --passed]
      Tell for each frame of candump or Vector ASC logs whether the project's
      compiled filter passes it: per identifier and in total; --blocked or
      --passed print only those frames, in the log's own format.
  quillner-cli filter import-dbc PROJECT_DIR FILE.dbc [--messages NAME,...] [--allow-all]
      Make the identifiers of the DBC file's messages the filter: visible for
      2.0A, the list or fitted patterns for 2.0B. Messages of the other
      identifier form are listed as skipped; a DBC that gives the project no
      identifier is refused unless --allow-all.

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
