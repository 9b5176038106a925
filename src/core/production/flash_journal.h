#pragma once

#include "core/app/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class QFile;

namespace quillner {

// The journal of a production run, journal.jsonl in the batch's output folder: one JSON object
// a line for each attempt to flash a device, appended and flushed to the disk before the port
// that made it starts its next, so that a batch killed at any moment leaves every finished
// attempt whole. It is never rewritten: a later run appends to it.
inline constexpr auto kFlashJournalName = "journal.jsonl";

// One attempt: a row flashed on a port, or a row that could not be built and so not flashed.
struct FlashRecord
{
    enum class Outcome {
        Flashed,  // the flashing tool exited with status 0
        Failed,   // it failed, crashed or could not be started, or the row was not flashed
        TimedOut, // it ran longer than the timeout and was ended
        NotBuilt, // the row's firmware was not built: nothing went to the device
    };

    qint64 row = 0; // the row's line in the table, as messages name it
    QString name;
    QString serial; // empty when the table gives none
    int port = -1;  // 0 (COM1) to 7 (COM8); -1 when nothing was flashed
    QByteArray masterSha256;
    QByteArray bankSha256; // empty when the row was not built
    QByteArray mergedSha256;
    QString toolVersion;
    Outcome outcome = Outcome::Failed;
    std::optional<int> exitStatus; // the flashing tool's; none when it did not exit by itself
    QString lastLine;              // the last line it printed
    QString error;                 // why the row was not built or not flashed
    QDateTime started;             // UTC
    qint64 milliseconds = 0;
    // On a line of stations sharing a journal database: the station that made the attempt and
    // the identity of the table it worked (batchTableIdentity); empty for a station alone.
    QString station;
    QByteArray table;

    bool flashed() const { return outcome == Outcome::Flashed; }
};

// "flashed", "failed", "timed out", "not built": the record's "outcome".
QString flashOutcomeName(FlashRecord::Outcome outcome);

// The record as one line of the journal, ending in a line feed.
QByteArray flashRecordLine(const FlashRecord& record);

// Reads the journal's records in order; none when there is no journal. A last line that is not
// whole (the batch was killed while writing it) is no record. A problem when another line is no
// record, naming it: the journal was changed, and a run that trusts it might flash a device twice.
Result<QList<FlashRecord>> readFlashJournal(const QString& path);

// The journal, open to append to from several threads.
class FlashJournal
{
public:
    // Opens or makes the journal. A last line that a killed batch left unfinished is cut, so
    // that every line is a record. A problem when it cannot be opened.
    static Result<std::unique_ptr<FlashJournal>> open(const QString& path);
    ~FlashJournal();

    FlashJournal(const FlashJournal&) = delete;
    FlashJournal& operator=(const FlashJournal&) = delete;

    const QString& path() const { return m_path; }

    // Appends the record in one write and returns once it is on the disk; a problem when it
    // cannot be written.
    Result<Done> append(const FlashRecord& record);

private:
    FlashJournal(const QString& path, std::unique_ptr<QFile> file);

    QString m_path;
    std::mutex m_mutex;
    std::unique_ptr<QFile> m_file;
};

} // namespace quillner
