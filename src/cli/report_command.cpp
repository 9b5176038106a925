#include "report_command.h"

#include "cli_support.h"
#include "configuration_output.h"

#include "core/analysis/configuration_report.h"
#include "core/analysis/recording_test.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/filters/dbc_reader.h"

#include <QDir>

namespace quillner::cli {

namespace {

int runReport(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("report takes one PROJECT_DIR"));
    if (line.value("output").isEmpty())
        line.usageError(QStringLiteral("report needs -o REPORT.html"));

    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(requireProject(line.argument(0)), false);
    if (!configuration)
        return kExitFailure;
    ConfigurationReport report{*configuration, {}, {}, {}};
    if (line.isSet("dbc")) {
        const Result<QList<DbcMessage>> messages =
            readDbcMessages(absoluteNativePath(line.value("dbc")));
        warnAll(messages.warnings);
        report.messageNames = MessageNames(wholeValue(messages));
    }
    // Each recording on its own, as `filter test PROJECT_DIR LOG` counts it.
    for (const QString& recording : line.values("log")) {
        const Result<RecordingTest> test =
            testRecording(configuration->bank, absoluteNativePath(recording));
        stopOnProblems(test.problems);
        warnAll(test.value.unreadable);
        report.recordings.append({test.value.name, test.value.tally});
    }
    const QString path = absoluteNativePath(line.value("output"));
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
        "report",
        "report PROJECT_DIR [--log FILE]... [--dbc FILE] -o REPORT.html",
        "Write the configuration and recordings tested against it as one HTML page.",
        R"(Compiles the project in memory, writing nothing in it, and writes one HTML page
that needs nothing else (inline CSS and SVG, no script, nothing fetched): the
settings in units, the problems, the receive filter (the 2048 identifiers as a
map for CAN 2.0A; the list, or the patterns with how many identifiers each
passes and all together, for CAN 2.0B) and, for each recording, the shares of
frames passed and blocked and a table of its identifiers. Every number is the
one 'show --json' and 'filter test PROJECT_DIR FILE --json' print. A document
that cannot be read stops the command, as for show.
)",
        {{"log", Takes::File, "FILE",
          "A recording to test (every format filter test reads); may be\ngiven again for more "
          "recordings, each told apart."},
         {"dbc", Takes::File, "FILE",
          "Name the recordings' identifiers after the DBC file's\nmessages."},
         {"output", Takes::File, "FILE", "The page to write (replaced in one step).", "o"}},
        R"(Example:
  quillner-cli report PROJECTS/Demo --log candump.log --dbc engine.dbc -o demo.html
)",
        {Takes::Folder},
        false,
        runReport};
    return spec;
}

} // namespace quillner::cli
