#include "report_command.h"

#include "configuration_output.h"

#include "core/app/file_io.h"
#include "core/filters/dbc_reader.h"
#include "core/firmware/configuration_report.h"
#include "core/firmware/recording_test.h"

#include <QCommandLineParser>
#include <QDir>

namespace quillner::cli {

namespace {

[[noreturn]] void reportUsageError(const QString& text)
{
    cli::usageError(text, QStringLiteral("report"));
}

int runReport(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption log(QStringLiteral("log"), {}, QStringLiteral("FILE"));
    const QCommandLineOption dbc(QStringLiteral("dbc"), {}, QStringLiteral("FILE"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, {},
                                    QStringLiteral("FILE"));
    parser.addOptions({log, dbc, output});
    if (!parser.parse(QStringList{QStringLiteral("quillner-cli")} + arguments))
        reportUsageError(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        reportUsageError(QStringLiteral("report takes one PROJECT_DIR"));
    if (parser.value(output).isEmpty())
        reportUsageError(QStringLiteral("report needs -o REPORT.html"));

    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(requireProject(positional[1]), false);
    if (!configuration)
        return kExitFailure;
    ConfigurationReport report{*configuration, {}, {}, {}};
    if (parser.isSet(dbc)) {
        const Partial<QList<DbcMessage>> messages =
            readDbcMessages(absoluteNativePath(parser.value(dbc)));
        warnAll(messages.problems);
        report.messageNames = MessageNames(messages.value);
    }
    // Each recording on its own, as `filter test PROJECT_DIR LOG` counts it.
    for (const QString& recording : parser.values(log)) {
        const RecordingTest test =
            testRecording(configuration->bank, absoluteNativePath(recording));
        warnAll(test.unreadable);
        report.recordings.append({test.name, test.tally});
    }
    const QString path = absoluteNativePath(parser.value(output));
    saveConfigurationReport(path, report);
    const qsizetype tested = report.recordings.size();
    say(QStringLiteral("Written: %1 (%2 recording%3 tested)\n")
            .arg(QDir::toNativeSeparators(path))
            .arg(tested)
            .arg(tested == 1 ? QString() : QStringLiteral("s")));
    return kExitSuccess;
}

} // namespace

const CommandSpec& reportCommand()
{
    static const CommandSpec spec{
        "report", "report PROJECT_DIR [--log FILE]... [--dbc FILE] -o REPORT.html",
        "Write the configuration and recordings tested against it as one HTML page.",
        R"(Usage: quillner-cli report PROJECT_DIR [--log FILE]... [--dbc FILE] -o REPORT.html

Compiles the project in memory, writing nothing in it, and writes one HTML page
that needs nothing else (inline CSS and SVG, no script, nothing fetched): the
settings in units, the problems, the receive filter (the 2048 identifiers as a
map for CAN 2.0A; the list, or the patterns with how many identifiers each
passes and all together, for CAN 2.0B) and, for each recording, the shares of
frames passed and blocked and a table of its identifiers. Every number is the
one 'show --json' and 'filter test PROJECT_DIR FILE --json' print. A document
that cannot be read stops the command, as for show.

Options:
  --log FILE        A candump or Vector ASC recording to test; may be given
                    again for more recordings, each told apart.
  --dbc FILE        Name the recordings' identifiers after the DBC file's
                    messages.
  -o, --output FILE The page to write (replaced in one step).

Example:
  quillner-cli report PROJECTS/Demo --log candump.log --dbc engine.dbc -o demo.html
)",
        runReport};
    return spec;
}

} // namespace quillner::cli
