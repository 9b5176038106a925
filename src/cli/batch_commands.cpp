// quillner-cli batch: projects made, compiled and merged from the rows of a CSV table, and with
// --flash written into one device each on the ports of a production station.

#include "batch_commands.h"

#include "cli_support.h"
#include "core/app/app_paths.h"
#include "core/app/counted_noun.h"
#include "core/app/error.h"
#include "core/app/project_layout.h"
#include "core/firmware/manifest_signature.h"
#include "core/production/batch_build.h"
#include "core/production/journal_database.h"
#include "core/update/device_update.h"
#include "core/update/flasher_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <map>

namespace quillner::cli {

namespace {

const QString kCommand = QStringLiteral("batch");

struct BatchArguments
{
    QString table;
    QString master;
    QString out;
    int jobs = 0;
    std::optional<BatchFlashing> flashing;
    JournalChoice journal;
    bool resume = false;
};

QList<int> portsOf(const CommandLine& line)
{
    QList<int> ports;
    for (const QString& item : line.value("ports").split(u',')) {
        const int port = portIndexOf(item.trimmed(), "--ports", line);
        if (ports.contains(port))
            line.usageError(QStringLiteral("--ports names port %1 twice").arg(port));
        ports.append(port);
    }
    return ports;
}

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
    if (line.isSet("flash") != line.isSet("ports"))
        line.usageError(line.isSet("flash") ? QStringLiteral("--flash needs --ports N,...")
                                            : QStringLiteral("--ports needs --flash"));
    for (const char* option : {"timeout", "resume", "journal"}) {
        if (line.isSet(option) && !line.isSet("flash"))
            line.usageError(QStringLiteral("--%1 needs --flash").arg(QLatin1StringView(option)));
    }
    if (line.isSet("flash"))
        parsed.flashing = BatchFlashing{portsOf(line), timeoutOf(line), [](const QString& text) {
                                            complain(QStringLiteral("note"), text);
                                        }};
    parsed.resume = line.isSet("resume");
    parsed.journal = {line.value("journal"), line.value("station")};
    if (line.isSet("journal") && !isJournalDatabaseAddress(parsed.journal.database))
        line.usageError(QStringLiteral("--journal names the database a line shares "
                                       "(postgresql://USER@HOST:PORT/DB); a station alone keeps "
                                       "OUT/journal.jsonl"));
    if (line.isSet("journal")) {
        const Result<JournalDatabase> database = parseJournalDatabase(parsed.journal.database);
        if (!database.whole())
            line.usageError(problemLines(database.problems).join(u'\n'));
    }
    if (line.isSet("journal") != line.isSet("station"))
        line.usageError(line.isSet("journal")
                            ? QStringLiteral("--journal needs --station NAME, this station's name")
                            : QStringLiteral("--station needs --journal"));
    return parsed;
}

QString deviceName(const BatchRowResult& row)
{
    return row.serial.isEmpty() ? row.name
                                : QStringLiteral("%1 (serial %2)").arg(row.name, row.serial);
}

// What the flashing tool said, as update --wait tells it.
QString verdictText(const FlashRecord& record)
{
    FlasherVerdict verdict;
    verdict.outcome = record.outcome == FlashRecord::Outcome::Flashed
                          ? FlasherVerdict::Outcome::Succeeded
                          : FlasherVerdict::Outcome::Failed;
    verdict.exitCode = record.exitStatus.value_or(-1);
    verdict.lastLine = record.lastLine;
    verdict.milliseconds = record.milliseconds;
    return flasherVerdictText(verdict);
}

// One row whole, in the order it went: its compile's warnings, what was built (a merge that
// was verified), then whether it was flashed or why it failed.
void tellRow(const BatchTable& table, const BatchRowResult& row, bool flashing)
{
    for (const QString& warning : row.warnings)
        complain(QStringLiteral("warning"), QStringLiteral("%1:%2: %3: %4")
                                                .arg(table.displayName)
                                                .arg(row.line)
                                                .arg(row.name, warning));
    if (row.flash == BatchRowResult::Flash::FlashedBefore) {
        say(QStringLiteral("Skipped: %1: flashed before, as the journal tells\n")
                .arg(deviceName(row)));
        return;
    }
    if (row.flash == BatchRowResult::Flash::Elsewhere) {
        say(QStringLiteral("Skipped: %1: %2 on station %3\n")
                .arg(deviceName(row),
                     row.claim.flashed ? QStringLiteral("flashed") : QStringLiteral("failed"),
                     row.claim.station));
        return;
    }
    if (row.built())
        say(QStringLiteral("Built: %1 (%2)\n").arg(row.folder, row.summary));
    if (flashing && row.attempt.flashed())
        say(QStringLiteral("Flashed: %1 on %2 in %3 s: %4\n")
                .arg(deviceName(row), cli::portText(row.attempt.port))
                .arg(double(row.attempt.milliseconds) / 1000.0, 0, 'f', 1)
                .arg(verdictText(row.attempt)));
    for (const QString& failure : row.failures)
        complain(QStringLiteral("error"), failure);
}

// Rows end in the order their builds and devices finish; each is told once every row above it
// in the table has been, so that the output reads as the table does.
class RowsInTableOrder
{
public:
    RowsInTableOrder(const BatchTable& table, bool flashing) : m_table(table), m_flashing(flashing)
    {
    }

    void ended(const BatchRowResult& row)
    {
        m_waiting.insert(row.line, row);
        while (m_next < m_table.rows.size()) {
            const auto found = m_waiting.constFind(m_table.rows[m_next].line);
            if (found == m_waiting.cend())
                return;
            tellRow(m_table, *found, m_flashing);
            m_waiting.erase(found);
            ++m_next;
        }
    }

private:
    const BatchTable& m_table;
    bool m_flashing;
    QHash<qint64, BatchRowResult> m_waiting; // by the row's line
    qsizetype m_next = 0;
};

// Flashed, failed and skipped rows, in all and per port.
void tellSummary(const QList<BatchRowResult>& rows, const BatchFlashing& flashing, bool line)
{
    int flashed = 0;
    int failed = 0;
    int skipped = 0;
    int elsewhere = 0;
    std::map<int, std::pair<int, int>> perPort; // flashed, failed
    for (const int port : flashing.ports)
        perPort[port] = {0, 0};
    for (const BatchRowResult& row : rows) {
        if (row.flash == BatchRowResult::Flash::FlashedBefore) {
            ++skipped;
            continue;
        }
        if (row.flash == BatchRowResult::Flash::Elsewhere) {
            ++elsewhere;
            continue;
        }
        if (row.failed())
            ++failed;
        else
            ++flashed;
        if (row.flash == BatchRowResult::Flash::Attempted && row.attempt.port >= 0)
            ++(row.attempt.flashed() ? perPort[row.attempt.port].first
                                     : perPort[row.attempt.port].second);
    }
    say(QStringLiteral("Summary: %1 flashed, %2 failed, %3 skipped (flashed before)%4 of %5\n")
            .arg(flashed)
            .arg(failed)
            .arg(skipped)
            .arg(line ? QStringLiteral(", %1 on other stations").arg(elsewhere) : QString())
            .arg(counted(rows.size(), "row")));
    for (const auto& [port, counts] : perPort)
        say(QStringLiteral("%1: %2 flashed, %3 failed\n")
                .arg(cli::portText(port))
                .arg(counts.first)
                .arg(counts.second));
}

int runBatch(const CommandLine& line)
{
    const BatchArguments parsed = parseArguments(line);
    const Result<BatchTable> read = readBatchTable(absoluteNativePath(parsed.table), parsed.table);
    if (!read.whole())
        usageError(problemLines(read.problems).join(u'\n'), kCommand);
    const BatchTable& table = read.value;

    const QString firmwareName = QString::fromLatin1(kDefaultFirmwareName);
    const QString firmwarePath = joinPath(absoluteNativePath(parsed.master), firmwareName);
    if (!QFileInfo(firmwarePath).isFile())
        return stoppedBy(firmwareNotFoundMessage(firmwareName, firmwarePath));
    BatchOptions options;
    options.master = readMasterFirmware(firmwarePath);
    if (!options.master->faults.isEmpty())
        return stoppedBy(options.master->faults);
    options.outFolder = absoluteNativePath(parsed.out);
    options.jobs = parsed.jobs;
    options.flashing = parsed.flashing;
    options.resume = parsed.resume;
    options.allowOpenGateway = line.isSet("allow-all");
    options.journal = parsed.journal;
    if (line.isSet("sign"))
        options.signingKey = valueOrStop(readSigningKey(absoluteNativePath(line.value("sign"))));
    // The flashing tool lies beside this program, else in the data folder, as for update.
    options.toolPaths.ExeDir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    options.toolPaths.DataDir =
        chooseDataFolder(options.toolPaths.ExeDir, line.value("home"), standardDataFolder());
    if (!givesFilters(table))
        complain(QStringLiteral("note"), noFilterNote(table));
    // A production run tells each row as soon as the rows above it are told; a build alone tells
    // its rows in order once all are built.
    RowsInTableOrder inOrder(table, true);
    if (options.flashing)
        options.rowEnded = [&inOrder](const BatchRowResult& row) { inOrder.ended(row); };

    const Result<BatchReport> batch = buildBatch(table, options);
    stopOnProblems(batch.problems);
    const BatchReport& report = batch.value;
    for (const QString& note : report.notes)
        complain(QStringLiteral("note"), note);
    const QList<BatchRowResult>& results = report.rows;
    const bool anyFailed = std::any_of(results.cbegin(), results.cend(),
                                       [](const BatchRowResult& row) { return row.failed(); });
    if (options.flashing) {
        tellSummary(results, *options.flashing, !options.journal.database.isEmpty());
        if (!report.journalFault.isEmpty()) {
            complain(QStringLiteral("error"),
                     QStringLiteral("the station stopped: %1").arg(report.journalFault));
            return kExitFailure;
        }
        return anyFailed ? kExitFailure : kExitSuccess;
    }
    int built = 0;
    for (const BatchRowResult& row : results) {
        tellRow(table, row, false);
        built += row.built() ? 1 : 0;
    }
    say(QStringLiteral("%1 of %2 built\n").arg(built).arg(counted(results.size(), "project")));
    return anyFailed ? kExitFailure : kExitSuccess;
}

} // namespace

const CommandSpec& batchCommand()
{
    static const CommandSpec spec{
        "batch",
        "batch FILE.csv --master DIR --out DIR [--jobs N] [--sign SECRET_KEY] [--flash --ports "
        "N,... [--timeout SECONDS] [--resume] [--journal URL --station NAME]] [--allow-all] "
        "[--home DIR]",
        "Build, merge and flash one new project for each row of a CSV table.",
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
  serial           the device's serial number, each once (journal, signature)
A SET is written as in 'quillner-cli filter set': 0x100-0x1FF, 0x7DF,
0x600:0x7F0. Fields holding commas are quoted ("0x100, 0x200"). A blank cell
keeps what a new project has.

A row with a bad value is told with its line and column and is not built (it
leaves no folder); the other rows are built all the same. An existing project
folder of a row's name is replaced when it holds nothing but what a batch
writes and has not changed while the row was built (under its project lock);
otherwise the row fails and the folder is left as it is. One batch at a time
writes into OUT; the next run finishes or rolls back what a killed one left.

With --flash each row, once built and verified, is flashed on the next free
port of --ports: one device per port at a time, the ports at the same time,
Morvex.exe waited for. Each attempt is appended to OUT/journal.jsonl, one JSON
object a line, and is on the disk before its port starts the next:
  row              the row's line in FILE.csv
  name, serial     the project and the device's serial number (or null)
  port             0 (COM1) to 7 (COM8); null when the row was not built
  masterSha256 bankSha256 mergedSha256
                   SHA-256 of SX51804.sx, bin/bank1.bin and New_SX51804.sx
  toolVersion      this program's version
  outcome          "flashed", "failed", "timed out" or "not built"
  exitStatus       Morvex.exe's exit status (null when it did not exit)
  lastLine         the last line it printed (or null)
  error            why the row was not built or not flashed (or null)
  started          the attempt's start, UTC: 2024-05-02T09:30:12.345Z
  milliseconds     how long it took
A summary ends the run: flashed, failed and skipped rows, and per port.

Several stations of a production line (each its own ports and OUT) work one
table with --journal postgresql://USER@HOST:PORT/DB --station NAME. A port
claims its row in the database before it flashes it, so that each row is
flashed once over the line; a row another station flashed, or failed while
this run was under way, is skipped here, and one it is flashing is asked for
again until it is settled. A claim has a lease that its station renews while
it works: the row of a station that was killed or lost the database is taken
back by its next run (--resume) at once, by another station once the lease
(60 s) has run out. A row that failed is tried again by a later run. Every
attempt is kept in the database with the station's name (see 'quillner-cli
journal show'), and in OUT/journal.jsonl first: a station that loses the
database stops with an error naming it, and sends what the database missed
when it starts again. Its tables are made on first use (docs/formats.md).
)",
        {{"master", Takes::Folder, "DIR", "The folder holding SX51804.sx."},
         {"out", Takes::Folder, "DIR",
          "The folder that receives the project folders; made if missing."},
         {"jobs", Takes::Text, "N", "Build at most N rows at once; by default one per processor."},
         {"sign", Takes::File, "SECRET_KEY",
          "Sign each row's manifest.json (manifest.json.minisig); the\ntrusted comment names the "
          "row, its serial number and the merged\nfile's SHA-256."},
         {"flash", Takes::Nothing, "",
          "Flash each built row with Morvex.exe (beside this program, else\nin the data folder) "
          "on a port of --ports; needs --ports."},
         {"ports", Takes::Text, "N,...",
          "The serial ports to flash on, indexes 0 (COM1) to 7 (COM8),\nseparated by commas: "
          "0,1,2,3."},
         {"timeout", Takes::Text, "SECONDS",
          "With --flash: end Morvex.exe when it runs longer on a device."},
         {"resume", Takes::Nothing, "",
          "With --flash: skip the rows that the journal has flashed (its\nname and serial); keep "
          "a row's firmware built before when the\nrow, the firmware and this program are the "
          "same."},
         {"journal", Takes::Text, "URL",
          "With --flash: share the journal of a production line, the\nPostgreSQL database "
          "postgresql://USER@HOST:PORT/DB (a password\nfrom PGPASSWORD or ~/.pgpass); needs "
          "--station."},
         {"station", Takes::Text, "NAME",
          "With --journal: this station's name on the line, one of its own."},
         {"allow-all", Takes::Nothing, "",
          "Build a row whose 2.0B filter lets every extended frame through\n(all-x patterns, 0:0); "
          "without it such a row fails."},
         kHomeOption},
        R"(Exit status: 0 every row built (and flashed); 1 a row was not built or not
flashed, or a failure (OUT busy with another batch, the journal database lost);
2 a usage error, such as a missing option or a table whose header cannot be
read.

Example:
  quillner-cli batch lines.csv --master /srv/firmware --out PROJECTS/Plant
  quillner-cli batch lines.csv --master /srv/firmware --out PROJECTS/Plant \
      --flash --ports 0,1,2,3 --timeout 120 --resume
  quillner-cli batch lines.csv --master /srv/firmware --out PROJECTS/Plant \
      --flash --ports 0,1,2,3 --journal postgresql://line@db.plant:5432/line \
      --station east-2
)",
        {Takes::File},
        false,
        runBatch};
    return spec;
}

} // namespace quillner::cli
