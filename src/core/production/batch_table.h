#pragma once

#include "core/app/csv_table.h"
#include "core/app/result.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillner {

// A batch file: one project per row, named by its "name" column, with the device's serial number
// in a "serial" column when the table has one, settings by name
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

// Whether the table has a filter column. Without one no row gives a filter, and each project
// keeps a new project's (none): said once for the table (noFilterNote), not by each row's compile.
bool givesFilters(const BatchTable& table);
QString noFilterNote(const BatchTable& table);

// Reads the batch file. A usage problem when it cannot be read or its header is no batch header
// (no "name" column, a column twice, a column that is neither a setting nor a filter): nothing
// is built then. Rows at fault are kept, to be reported each on its own.
Result<BatchTable> readBatchTable(const QString& path, const QString& displayName);

// What one row asks for, read before anything of it is written.
struct RowRequest
{
    qint64 line = 0;
    QString name;
    QString serial; // the device's serial number; empty without one
    GeneralParameters parameters;
    std::optional<Filter20A> filter20A;
    std::optional<Filter20B> filter20B;
};

// How many rows bear each name, letter case aside (two rows of one name would build one folder),
// and each serial number (two rows of one would flash one device twice).
struct RowCounts
{
    QHash<QString, int> names;
    QHash<QString, int> serials;
};
RowCounts rowCounts(const BatchTable& table);

// Reads the row's cells into request; returns why the row cannot be built ("batch.csv:4:2:
// serial.baud: ..."), empty when it can. Its shape, name and serial number are checked first,
// then its values. A 2.0B filter that lets every extended frame through is refused unless
// allowOpenGateway, as every writer of a filter refuses it.
QStringList readBatchRow(const BatchTable& table, const CsvRecord& record, const RowCounts& counts,
                         RowRequest& request, bool allowOpenGateway = false);

} // namespace quillner
