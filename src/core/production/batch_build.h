#pragma once

#include "core/app/app_paths.h"
#include "core/app/signing.h"
#include "core/firmware/srec_merge.h"
#include "core/production/batch_flash.h"
#include "core/production/batch_table.h"
#include "core/production/flash_journal.h"
#include "core/production/station_journal.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace quillner {

struct BatchRowResult;

struct BatchOptions
{
    QString outFolder;                            // receives one project folder per row
    std::shared_ptr<const MasterFirmware> master; // read once for the whole batch
    int jobs = 0;                                 // rows built at once; 0 for one per core
    // Each built row flashed on a free port (FlashStation), every attempt kept in the journal,
    // OUT/journal.jsonl.
    std::optional<BatchFlashing> flashing;
    // With flashing: the journal is OUT/journal.jsonl, or a database that the stations of a
    // production line share, each working the same table.
    JournalChoice journal;
    // Where the flashing tool is looked for: ExeDir, then DataDir.
    AppPaths toolPaths;
    // With flashing: a row that the journal has flashed (a successful record of its name and
    // serial number) is skipped, and a row's firmware built before is kept when the row, the
    // firmware it was merged into and this tool are the same.
    bool resume = false;
    // Builds a row whose 2.0B filter lets every extended frame through; without it such a row
    // fails, as every writer of a filter refuses one unless asked.
    bool allowOpenGateway = false;
    // Signs each row's manifest (manifest.json.minisig), naming the row and its serial number.
    std::optional<SigningKey> signingKey;
    // Called as each row ends, from the batch's threads, one row at a time.
    std::function<void(const BatchRowResult& row)> rowEnded;
};

// What became of one row.
struct BatchRowResult
{
    enum class Flash {
        NotAsked,
        FlashedBefore, // skipped: the journal holds a successful attempt (resume)
        Attempted,     // the attempt's record is in the journal
        Elsewhere,     // another station of the line settled it (claim)
    };

    qint64 line = 0;
    QString name;
    QString serial;
    QString folder; // the project folder, once built
    // Why the row failed: it was not built ("batch.csv:4:3: serial.baud: ..."), or not flashed.
    QStringList failures;
    QStringList warnings; // what the compile of a built row told
    QString summary;      // how its merge ended: "New_SX51804.sx: bank 1 inserted (outcome 1)"
    bool kept = false;    // its firmware was built before from the same inputs (resume)
    Flash flash = Flash::NotAsked;
    FlashRecord attempt; // with Flash::Attempted
    RowClaim claim;      // with Flash::Elsewhere: which station flashed or failed it

    bool built() const { return !folder.isEmpty(); }
    bool failed() const { return !failures.isEmpty(); }
};

struct BatchReport
{
    QStringList notes;          // what a killed batch had left, and what became of it
    QList<BatchRowResult> rows; // in row order
    // Why the station stopped flashing: its journal could not be written or reached. Empty when
    // it did not stop.
    QString journalFault;
};

// Builds each row into outFolder/NAME as an update of a new project with the row's settings
// does: the documents, bin/bank1.bin and bin/bankg.c, the verified New_SX51804.sx and its
// manifest.json; with flashing, then flashes it. Rows are built at the same time on several
// threads; the results come in row order whatever the timing. The output folder is the batch's
// alone while it runs (BatchOutput: another batch into it is refused as busy), and a row is built
// aside and takes its place only once complete (RowFolder). A problem, before any row is built,
// when the output folder or the journal cannot be used, or the flashing tool is missing.
Result<BatchReport> buildBatch(const BatchTable& table, const BatchOptions& options);

} // namespace quillner
