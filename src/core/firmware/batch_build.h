#pragma once

#include "core/firmware/batch_table.h"
#include "core/firmware/srec_merge.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace quillner {

struct BatchOptions
{
    QString outFolder;                            // receives one project folder per row
    std::shared_ptr<const MasterFirmware> master; // read once for the whole batch
    int jobs = 0;                                 // rows built at once; 0 for one per core
};

// What became of one row.
struct BatchRowResult
{
    qint64 line = 0;
    QString name;
    QString folder;       // the project folder, once built
    QStringList failures; // why the row was not built: "batch.csv:4:3: serial.baud: ..."
    QStringList warnings; // what the compile of a built row told
    QString summary;      // how its merge ended: "New_SX51804.sx: bank 1 inserted (outcome 1)"

    bool built() const { return failures.isEmpty(); }
};

struct BatchReport
{
    QStringList notes;          // what a killed batch had left, and what became of it
    QList<BatchRowResult> rows; // in row order
};

// Builds each row into outFolder/NAME as an update of a new project with the row's settings
// does: the documents, bin/bank1.bin and bin/bankg.c, the verified New_SX51804.sx and its
// manifest.json. Rows are built at the same time on several threads; the results come in row
// order whatever the timing. The output folder is the batch's alone while it runs (BatchOutput:
// another batch into it is refused as busy), and a row is built aside and takes its place only
// once complete (RowFolder).
BatchReport buildBatch(const BatchTable& table, const BatchOptions& options);

} // namespace quillner
