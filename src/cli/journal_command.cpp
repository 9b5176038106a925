// journal show: the attempts of a production station's journal file, or of the database that
// the stations of a line share.

#include "journal_command.h"

#include "core/app/file_io.h"
#include "core/production/flash_journal.h"
#include "core/production/journal_database.h"

namespace quillner::cli {

namespace {

// "2024-05-02T09:30:12.345Z station east-2: row 4 Row002 (serial SN-1002) on COM1: flashed in
// 41.3 s", with why it failed after a failure.
QString recordText(const FlashRecord& record)
{
    QString text = record.started.toUTC().toString(Qt::ISODateWithMs) + u' ';
    if (!record.station.isEmpty())
        text += QStringLiteral("station %1: ").arg(record.station);
    text += QStringLiteral("row %1 %2").arg(record.row).arg(record.name);
    if (!record.serial.isEmpty())
        text += QStringLiteral(" (serial %1)").arg(record.serial);
    if (record.port >= 0)
        text += QStringLiteral(" on %1").arg(portText(record.port));
    text += QStringLiteral(": %1").arg(flashOutcomeName(record.outcome));
    if (record.outcome != FlashRecord::Outcome::NotBuilt)
        text += QStringLiteral(" in %1 s").arg(double(record.milliseconds) / 1000.0, 0, 'f', 1);
    if (!record.error.isEmpty())
        text += QStringLiteral(": ") + record.error.simplified();
    return text + u'\n';
}

int runJournalShow(const CommandLine& line)
{
    if (!line.arguments().isEmpty())
        line.usageError(QStringLiteral("journal show takes no arguments; the journal is given "
                                       "with --journal"));
    if (!line.isSet("journal"))
        line.usageError(QStringLiteral("journal show needs --journal URL|FILE"));
    const QString journal = line.value("journal");
    const JournalFilter filter{line.value("name"), line.value("serial")};
    QList<FlashRecord> records;
    if (isJournalDatabaseAddress(journal)) {
        const Result<JournalDatabase> database = parseJournalDatabase(journal);
        if (!database.whole()) {
            // An address that is none is a request the command does not take.
            Problems refused = database.problems;
            for (Problem& problem : refused)
                problem.kind = ProblemKind::Usage;
            return stoppedBy(refused, line.command());
        }
        const Result<QList<FlashRecord>> read = readJournalDatabase(database.value, filter);
        if (!read.whole())
            return stoppedBy(read.problems);
        records = read.value;
    } else {
        const Result<QList<FlashRecord>> read = readFlashJournal(absoluteNativePath(journal));
        stopOnProblems(read.problems);
        for (const FlashRecord& record : read.value) {
            if (filter.matches(record))
                records.append(record);
        }
    }
    const bool json = line.isSet("json");
    for (const FlashRecord& record : records)
        say(json ? QString::fromUtf8(flashRecordLine(record)) : recordText(record));
    return kExitSuccess;
}

} // namespace

const CommandSpec& journalShowCommand()
{
    static const CommandSpec spec{
        "journal show",
        "journal show --journal URL|FILE [--name NAME] [--serial SERIAL] [--json]",
        "Print the flashing attempts of a station's journal or of a line's database.",
        R"(Prints the attempts kept in a journal, in the order they were written: the
journal.jsonl of a station's output folder, or the PostgreSQL database that
the stations of a line share (batch --journal URL --station NAME). A line
each: when it started, the station (on a line), the row, the device, the port,
how it ended and in how long, and why it failed. With --json a line is one
JSON object with the fields of journal.jsonl, and on a line "station" and
"table" (the SHA-256 of the table's content).
)",
        {{"journal", Takes::File, "URL|FILE",
          "The journal: postgresql://USER@HOST:PORT/DB (a password from\nPGPASSWORD or "
          "~/.pgpass), or a journal.jsonl file."},
         {"name", Takes::Text, "NAME", "Only the attempts of the row of this name."},
         {"serial", Takes::Text, "SERIAL",
          "Only the attempts of the device of this serial number."},
         {"json", Takes::Nothing, "", "One JSON object a line."}},
        R"(Exit status: 0 the journal was read (whether it holds attempts or not); 1 it
cannot be read or reached, or a line of the file is no record; 2 a usage error.

Example:
  quillner-cli journal show --journal postgresql://line@db.plant:5432/line \
      --serial SN-1002
  quillner-cli journal show --journal PROJECTS/Plant/journal.jsonl --json
)",
        {},
        false,
        runJournalShow};
    return spec;
}

} // namespace quillner::cli
