// quillner-cli batch: projects made, compiled and merged from the rows of a CSV table.

#include "batch_commands.h"

#include "cli_support.h"
#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/firmware/batch_build.h"
#include "core/firmware/device_update.h"

#include <QFileInfo>

namespace quillner::cli {

namespace {

const QString kCommand = QStringLiteral("batch");

struct BatchArguments
{
    QString table;
    QString master;
    QString out;
    int jobs = 0;
};

BatchArguments parseArguments(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        usageError(QStringLiteral("batch takes one FILE.csv"), kCommand);
    BatchArguments parsed;
    parsed.table = line.argument(0);
    parsed.master = line.value("master");
    parsed.out = line.value("out");
    if (parsed.master.isEmpty())
        usageError(QStringLiteral("batch needs --master DIR, the folder holding SX51804.sx"),
                   kCommand);
    if (parsed.out.isEmpty())
        usageError(QStringLiteral("batch needs --out DIR, the folder that receives the projects"),
                   kCommand);
    if (line.isSet("jobs")) {
        bool ok = false;
        const QString text = line.value("jobs");
        parsed.jobs = text.toInt(&ok);
        if (!ok || text.trimmed() != text || parsed.jobs < 1)
            usageError(QStringLiteral("--jobs takes a number of 1 or more, not '%1'").arg(text),
                       kCommand);
    }
    return parsed;
}

int runBatch(const CommandLine& line)
{
    const BatchArguments parsed = parseArguments(line);
    BatchTable table;
    try {
        table = readBatchTable(absoluteNativePath(parsed.table), parsed.table);
    } catch (const Error& error) {
        usageError(error.message(), kCommand);
    }

    const QString firmwareName = QString::fromLatin1(kDefaultFirmwareName);
    const QString firmwarePath = joinPath(absoluteNativePath(parsed.master), firmwareName);
    if (!QFileInfo(firmwarePath).isFile())
        throw Error(firmwareNotFoundMessage(firmwareName, firmwarePath));
    BatchOptions options;
    options.master = readMasterFirmware(firmwarePath);
    if (!options.master->fault.isEmpty())
        throw Error(options.master->fault);
    options.outFolder = absoluteNativePath(parsed.out);
    options.jobs = parsed.jobs;

    const BatchReport report = buildBatch(table, options);
    for (const QString& note : report.notes)
        complain(QStringLiteral("note"), note);
    const QList<BatchRowResult>& results = report.rows;
    int built = 0;
    for (const BatchRowResult& row : results) {
        for (const QString& failure : row.failures)
            complain(QStringLiteral("error"), failure);
        if (!row.built())
            continue;
        ++built;
        for (const QString& warning : row.warnings)
            complain(QStringLiteral("warning"), QStringLiteral("%1:%2: %3: %4")
                                                    .arg(table.displayName)
                                                    .arg(row.line)
                                                    .arg(row.name, warning));
        say(QStringLiteral("Built: %1 (%2)\n").arg(row.folder, row.summary));
    }
    say(QStringLiteral("%1 of %2 projects built\n").arg(built).arg(results.size()));
    return built == results.size() ? kExitSuccess : kExitFailure;
}

} // namespace

const CommandSpec& batchCommand()
{
    static const CommandSpec spec{
        "batch",
        "batch FILE.csv --master DIR --out DIR [--jobs N]",
        "Build and merge one new project for each row of a CSV table.",
        R"(Makes one project for each row of FILE.csv in OUT/NAME, as "New project" makes
it, with the row's settings and filter; compiles it into bin/bank1.bin and
bin/bankg.c, merges its bank into the firmware as New_SX51804.sx, checks the
merged file and writes manifest.json beside it. The firmware is read once for
the whole table; the rows are built at the same time, and told in their order.

The first row names the columns; "name" is needed, the others may be left out:
  name             the project's folder: one folder name, each once
  serial.baud serial.parity can.format can.baud can.rtr
                   the general parameters, in units (115200, even, 2.0B, 250,
                   on), as 'quillner-cli help' lists their values
  filter.show filter.hide
                   CAN 2.0A: identifiers made visible or hidden (a SET)
  filter.list filter.negative
                   CAN 2.0B: the COB-ID list, positive or negative (a SET)
  filter.patterns  CAN 2.0B: patterns or id:mask pairs, separated by commas
A SET is written as in 'quillner-cli filter set': 0x100-0x1FF, 0x7DF,
0x600:0x7F0. Fields holding commas are quoted ("0x100, 0x200"). A blank cell
keeps what a new project has.

A row with a bad value is told with its line and column and is not built (it
leaves no folder); the other rows are built all the same. An existing project
folder of a row's name is replaced.
)",
        {{"master", Takes::Folder, "DIR", "The folder holding SX51804.sx."},
         {"out", Takes::Folder, "DIR",
          "The folder that receives the project folders; made if missing."},
         {"jobs", Takes::Text, "N", "Build at most N rows at once; by default one per processor."}},
        R"(Exit status: 0 every row built; 1 a row was not built, or a failure; 2 a usage
error, such as a missing option or a table whose header cannot be read.

Example:
  quillner-cli batch lines.csv --master /srv/firmware --out PROJECTS/Plant
)",
        {Takes::File},
        false,
        runBatch};
    return spec;
}

} // namespace quillner::cli
