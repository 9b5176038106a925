// describe and diff: a configuration told line by line, and two configurations compared.

#include "describe_commands.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/bank/canonical_text.h"
#include "core/bank/configuration_description.h"
#include "core/bank/configuration_diff.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace quillner::cli {

namespace {

// The file as it is written, in blocks, after what was said of it.
void copyFileToOutput(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(cannotOpenFileMessage(path, file.errorString()));
    std::fflush(stdout);
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 read; (read = file.read(block.data(), block.size())) > 0;)
        std::fwrite(block.constData(), 1, size_t(read), stdout);
    std::fflush(stdout);
}

int runDescribe(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("describe takes one FILE"));
    const InputFile input(line.argument(0));
    const CanonicalText description = canonicalText(input.path());
    say(description.text());
    if (description.verbatim && !isQuiet())
        copyFileToOutput(input.path());
    return description.unreadable ? kExitFailure : kExitSuccess;
}

// A side that cannot be read, or whose documents cannot, ends the command with the usage
// status: a comparison that could not be made is neither "same" nor "different". Its problems,
// usage ones, are told here, each named by its side.
Result<ConfigurationBank> loadSide(const QString& given, const QString& side)
{
    const auto tell = [&](const QString& kind, const QString& text) {
        complain(kind, QStringLiteral("%1 (%2): %3").arg(side, given, text));
    };
    Result<ConfigurationDescription> read;
    try {
        const InputFile input(given);
        read = loadConfiguration(input.path());
    } catch (const Error& error) {
        read.problems = {{{}, {}, error.message()}};
    }
    // The side cannot be compared: that is no request diff can carry out.
    const auto refused = [](Problems problems) {
        for (Problem& problem : problems)
            problem.kind = ProblemKind::Usage;
        return Result<ConfigurationBank>::failure(std::move(problems));
    };
    if (!read.whole()) {
        tell(QStringLiteral("error"), problemLines(read.problems).join(u'\n'));
        return refused(read.problems);
    }
    const ConfigurationDescription& loaded = read.value;
    for (const Problem& problem : loaded.problems) {
        tell(loaded.unreadable.contains(problem) ? QStringLiteral("error")
                                                 : QStringLiteral("warning"),
             problem.toString());
    }
    if (!loaded.unreadable.isEmpty())
        return refused(loaded.unreadable);
    return {loaded.bank, {}, {}};
}

int runDiff(const CommandLine& line)
{
    const bool json = line.isSet("json");
    const QStringList& sides = line.arguments();
    if (sides.size() != 2)
        line.usageError(QStringLiteral("diff takes two configurations, A and B"));
    const Result<ConfigurationBank> a = loadSide(sides[0], QStringLiteral("A"));
    if (!a.whole())
        return kExitUsage;
    const Result<ConfigurationBank> b = loadSide(sides[1], QStringLiteral("B"));
    if (!b.whole())
        return kExitUsage;
    const ConfigurationDiff diff = compareConfigurations(a.value, b.value);
    if (json)
        say(QString::fromUtf8(QJsonDocument(configurationDiffJson(diff)).toJson()));
    else
        say(configurationDiffText(diff));
    return diff.same() ? kExitSuccess : kExitFailure;
}

} // namespace

const CommandSpec& describeCommand()
{
    static const CommandSpec spec{
        "describe",
        "describe FILE",
        "Tell a project document, bank or firmware one fact a line (git textconv).",
        R"(Tells FILE one fact a line in a fixed order: a project document (pargen.xml,
Filter20A.xml, Filter20B.xml, var.xml), a 16384-byte bank image or an S-record
firmware (its bank 1). The kind is recognised by the content, never by the
name, and the name is not printed, so the same content always gives the same
text: git can compare the documents of a project through it. "-" reads
standard input. What cannot be read is told on a "problem:" line after what
could be. A file that is none of these kinds, or cannot be read as one, and a
document holding merge conflict markers are told in a first line and then
shown as they are written, so that git's diff never fails on them. The exit
status is 0 unless the file cannot be read at all (missing, not a regular
file).
)",
        {},
        R"(Example:
  quillner-cli describe PROJECTS/Alpha/Filter20A.xml
  printf '%s diff=quillner\n' pargen.xml Filter20A.xml Filter20B.xml var.xml \
      '*.sx' '**/bin/*.bin' >> .gitattributes
  git config diff.quillner.textconv "quillner-cli describe"
)",
        {Takes::File},
        false,
        runDescribe};
    return spec;
}

const CommandSpec& diffCommand()
{
    static const CommandSpec spec{
        "diff",
        "diff A B [--json]",
        "Compare two projects, banks or firmwares as the device sees them.",
        R"(Compares two configurations as the device sees them. Each of A and B is a
project folder (compiled in memory; nothing is written), a bank file or a
firmware (its bank 1). Prints each setting that differs with both values, and
the filter's differences: its kind or type, the identifiers only one side
passes (2.0A) or lists (2.0B), the patterns only one side holds.

Exit status: 0 the same configuration; 1 they differ; 2 a usage error, or a
side that cannot be read (a file that is no bank, a project whose documents
cannot be read, an erased bank). The compile's warnings go to standard error.
)",
        {{"json", Takes::Nothing, "",
          R"(Print {"schema": 1, "same", "settings", "filter"} instead.)"}},
        R"(Example:
  quillner-cli diff PROJECTS/Alpha PROJECTS/Alpha/New_SX51804.sx
)",
        {Takes::FileOrDir, Takes::FileOrDir},
        false,
        runDiff};
    return spec;
}

} // namespace quillner::cli
