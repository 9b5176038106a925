#pragma once

#include "core/app/csv_table.h"
#include "core/app/problems.h"
#include "core/firmware/srec_merge.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace quillner {

// A batch file: one project per row, named by its "name" column, with settings by name
// (serial.baud, can.format, ...) and filters in the filter tools' notation (filter.show,
// filter.hide for CAN 2.0A; filter.list, filter.negative, filter.patterns for 2.0B). A blank cell
// keeps what a new project has.
struct BatchTable
{
    QString displayName; // the file as messages name it: "batch.csv"
    QStringList columns;
    QList<CsvRecord> rows;
};

// Every column a batch file may have.
QStringList batchColumnNames();

// Reads the batch file. Throws when it cannot be read or its header is no batch header (no
// "name" column, a column twice, a column that is neither a setting nor a filter): nothing is
// built then. Rows at fault are kept, to be reported each on its own.
BatchTable readBatchTable(const QString& path, const QString& displayName);

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

// Builds each row into outFolder/NAME as an update of a new project with the row's settings
// does: the documents, bin/bank1.bin and bin/bankg.c, the verified New_SX51804.sx and its
// manifest.json. Rows are built at the same time on several threads; the results come in row
// order whatever the timing. A row is built in a hidden folder beside its place, which takes the
// row's name only once complete: a failed row leaves no folder. An existing project folder of
// that name is replaced; any other file or folder of that name fails the row.
QList<BatchRowResult> buildBatch(const BatchTable& table, const BatchOptions& options);

} // namespace quillner
