#pragma once

#include "core/app/result.h"
#include "core/production/batch_table.h"
#include "core/production/flash_journal.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>

namespace quillner {

// Whose a row of the table is to flash, as a station asks before its port takes the row.
struct RowClaim
{
    enum class Answer {
        Granted, // this station flashes it now
        Settled, // another station flashed it, or failed it while this run was under way
        Held,    // another station that is still at work is flashing it: asked again later
    };
    Answer answer = Answer::Granted;
    QString station; // the station that settled or holds it
    bool flashed = false;
};

// Where a station keeps its attempts and learns which rows are its to flash: a journal file of
// its own (a station alone), or a database that the stations of a production line share.
// A journal that cannot be written or reached answers with a problem naming it.
class StationJournal
{
public:
    virtual ~StationJournal() = default;

    // The journal as messages name it: its file, or the database's address without password.
    virtual QString displayName() const = 0;
    // The records of the rows it holds as flashed, which the batch skips.
    virtual Result<QList<FlashRecord>> flashedBefore() = 0;
    // Asked before the row is built and flashed.
    virtual Result<RowClaim> claim(qint64 row, const QString& name, const QString& serial) = 0;
    // The attempt at a row (a claimed row flashed or failed, or a row not built), kept before the
    // port takes its next row.
    virtual Result<Done> append(const FlashRecord& record) = 0;
    // How long a port waits before it asks again for a row another station holds: at the end of a
    // table a station that waits for another's last rows ends this much after them at most.
    virtual std::chrono::milliseconds heldRowWait() const { return std::chrono::milliseconds(200); }
};

// Which journal a flashing batch keeps.
struct JournalChoice
{
    QString
        database;    // postgresql://USER@HOST:PORT/DB shared by a line; empty for OUT/journal.jsonl
    QString station; // this station's name on the line
};

// The identity of a table's content, the same on every station that reads a copy of it: the
// SHA-256 of its columns and rows.
QByteArray batchTableIdentity(const BatchTable& table);

// Opens the batch's journal: journalPath alone, or the database with journalPath as the
// station's own copy of what it did. With resume, the file journal's flashed rows are skipped;
// a line's journal skips the rows flashed on the line whatever resume says. A problem when it
// cannot be opened or reached.
Result<std::unique_ptr<StationJournal>> openStationJournal(const JournalChoice& choice,
                                                           const QString& journalPath,
                                                           const BatchTable& table, bool resume);

} // namespace quillner
