#include "core/production/batch_table.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/device/settings.h"
#include "core/filters/filter_edits.h"
#include "core/filters/filter_safety.h"
#include "core/filters/identifier_set.h"
#include "core/production/flash_journal.h"

#include <algorithm>

namespace quillner {

namespace {

const QString kNameColumn = QStringLiteral("name");
const QString kSerialColumn = QStringLiteral("serial");
const QString kShowColumn = QStringLiteral("filter.show");
const QString kHideColumn = QStringLiteral("filter.hide");
const QString kListColumn = QStringLiteral("filter.list");
const QString kNegativeColumn = QStringLiteral("filter.negative");
const QString kPatternsColumn = QStringLiteral("filter.patterns");

// A table is read whole; no production line has one near this size, and /dev/zero is refused.
constexpr qint64 kMostTableBytes = qint64(64) << 20;

QString cellPlace(const BatchTable& table, qint64 line, qsizetype column)
{
    return QStringLiteral("%1:%2:%3").arg(table.displayName).arg(line).arg(column + 1);
}

// Why a project name cannot be the name of one folder below the output folder; empty when it can.
QString folderNameFault(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("a project needs a name");
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QStringLiteral("'%1' is no folder name").arg(name);
    if (name.trimmed() != name)
        return QStringLiteral("'%1' begins or ends with a blank").arg(name);
    // Hidden names beside the projects are the batch's own, and so is its journal.
    if (name.startsWith(u'.'))
        return QStringLiteral("'%1' begins with a dot").arg(name);
    if (name.compare(QLatin1StringView(kFlashJournalName), Qt::CaseInsensitive) == 0)
        return QStringLiteral("'%1' is the name of the batch's journal").arg(name);
    for (const QChar c : name) {
        if (isSeparator(c))
            return QStringLiteral("'%1' holds a folder separator; a project is one folder")
                .arg(name);
        // Characters that some file systems refuse in a name.
        if (c.unicode() < 32 || QStringView(u"<>:\"|?*").contains(c))
            return QStringLiteral("'%1' holds '%2', which a folder name cannot hold")
                .arg(name, c.unicode() < 32
                               ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                               : QString(c));
    }
    return {};
}

class RowReader
{
public:
    RowReader(const BatchTable& table, const CsvRecord& record, QStringList& failures)
        : m_table(table), m_record(record), m_failures(failures)
    {
    }

    // Reads the row's cells; false when the row fails, its failures told.
    bool read(RowRequest& request, bool allowOpenGateway)
    {
        // Settings first, so that the filters know the frame format the row chose.
        for (qsizetype c = 0; c < m_table.columns.size(); ++c) {
            const QString value = cell(c);
            if (value.isEmpty())
                continue;
            if (const std::optional<Setting> setting = settingNamed(m_table.columns[c])) {
                attempt(c, [&] {
                    setSettingCode(request.parameters, *setting,
                                   wholeValue(settingCodeOfValue(*setting, value)));
                });
            }
        }
        if (!m_failures.isEmpty())
            return false;
        const bool typeB = request.parameters.canTypeB;
        const QString format = typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A");
        qsizetype listColumn = -1;
        for (qsizetype c = 0; c < m_table.columns.size(); ++c) {
            const QString& column = m_table.columns[c];
            const QString value = cell(c);
            if (value.isEmpty() || !column.startsWith(QStringLiteral("filter.")))
                continue;
            const bool forA = column == kShowColumn || column == kHideColumn;
            if (forA == typeB) {
                fail(c, QStringLiteral("%1 applies to a CAN %2 project; this one is CAN %3")
                            .arg(column, forA ? QStringLiteral("2.0A") : QStringLiteral("2.0B"),
                                 format));
                continue;
            }
            if (forA) {
                if (!request.filter20A)
                    request.filter20A = Filter20A{};
                attempt(c, [&] {
                    setVisibility(*request.filter20A,
                                  wholeValue(parseIdSet(value, IdWidth::Standard)),
                                  column == kShowColumn);
                });
                continue;
            }
            // The 2.0B filter is one list: identifiers, positive or negative, or patterns.
            if (listColumn >= 0) {
                fail(c, QStringLiteral("%1 and %2 exclude each other: the 2.0B filter is one list")
                            .arg(m_table.columns[listColumn], column));
                continue;
            }
            listColumn = c;
            request.filter20B = Filter20B{};
            attempt(c, [&] {
                if (column == kPatternsColumn)
                    wholeValue(setPatternList(*request.filter20B, value));
                else
                    wholeValue(setCobIdList(*request.filter20B, value, column == kListColumn));
            });
        }
        if (m_failures.isEmpty() && request.filter20B && !allowOpenGateway &&
            opensTheGateway(*request.filter20B)) {
            fail(listColumn, m_table.columns[listColumn] + QStringLiteral(": ") +
                                 openGatewayText(*request.filter20B) +
                                 QStringLiteral("; the row is not built (--allow-all builds it "
                                                "on purpose)"));
        }
        return m_failures.isEmpty();
    }

private:
    QString cell(qsizetype column) const { return m_record.fields.value(column).trimmed(); }

    void fail(qsizetype column, const QString& text)
    {
        m_failures.append(cellPlace(m_table, m_record.line, column) + QStringLiteral(": ") + text);
    }

    template <typename Step> void attempt(qsizetype column, Step step)
    {
        try {
            step();
        } catch (const Error& error) {
            const QString& key = m_table.columns[column];
            // The settings' own messages begin with the setting's name already.
            const QString text = error.message().startsWith(key + u':')
                                     ? error.message()
                                     : key + QStringLiteral(": ") + error.message();
            fail(column, text);
        }
    }

    const BatchTable& m_table;
    const CsvRecord& m_record;
    QStringList& m_failures;
};

// The failures a row meets before its cells are read: its shape and its name.
QStringList rowShapeFailures(const BatchTable& table, const CsvRecord& record,
                             const RowCounts& counts)
{
    const QString line = QStringLiteral("%1:%2").arg(table.displayName).arg(record.line);
    if (!record.fault.isEmpty())
        return {QStringLiteral("%1:%2: %3").arg(line).arg(record.faultColumn).arg(record.fault)};
    if (record.fields.size() != table.columns.size())
        return {QStringLiteral("%1: %2 fields; the header has %3")
                    .arg(line)
                    .arg(record.fields.size())
                    .arg(table.columns.size())};
    const qsizetype column = table.columns.indexOf(kNameColumn);
    const QString name = record.fields[column].trimmed();
    const QString where = cellPlace(table, record.line, column) + QStringLiteral(": name: ");
    if (const QString fault = folderNameFault(name); !fault.isEmpty())
        return {where + fault};
    if (counts.names.value(name.toCaseFolded()) > 1)
        return {where + QStringLiteral("'%1' names more than one row; each project needs a "
                                       "name of its own (letter case aside)")
                            .arg(name)};
    if (const qsizetype serialColumn = table.columns.indexOf(kSerialColumn); serialColumn >= 0) {
        const QString serial = record.fields[serialColumn].trimmed();
        if (!serial.isEmpty() && counts.serials.value(serial) > 1)
            return {cellPlace(table, record.line, serialColumn) +
                    QStringLiteral(": serial: '%1' is the serial number of more than one row; "
                                   "each device is flashed once")
                        .arg(serial)};
    }
    return {};
}

} // namespace

QStringList batchColumnNames()
{
    QStringList names{kNameColumn};
    for (const Setting setting : allSettings())
        names.append(settingName(setting));
    names << kShowColumn << kHideColumn << kListColumn << kNegativeColumn << kPatternsColumn
          << kSerialColumn;
    return names;
}

bool givesFilters(const BatchTable& table)
{
    return std::any_of(table.columns.cbegin(), table.columns.cend(), [](const QString& column) {
        return column == kShowColumn || column == kHideColumn || column == kListColumn ||
               column == kNegativeColumn || column == kPatternsColumn;
    });
}

QString noFilterNote(const BatchTable& table)
{
    return QStringLiteral("%1 has no filter column (%2, %3, %4, %5, %6): no filter was given, so "
                          "every device lets each frame of its frame format through")
        .arg(table.displayName, kShowColumn, kHideColumn, kListColumn, kNegativeColumn,
             kPatternsColumn);
}

Result<BatchTable> readBatchTable(const QString& path, const QString& displayName)
{
    // Whatever keeps the table from being read is the request's: the batch named a file that is
    // no batch table.
    const auto refused = [](const QString& text) {
        return Result<BatchTable>::failure({Problem{{}, {}, text, ProblemKind::Usage}});
    };
    BatchTable table;
    table.displayName = displayName;
    try {
        table.rows = readCsvRecords(
            readFileBytes(toNativeSeparators(path), FileSize::atMost(kMostTableBytes)));
    } catch (const Error& error) {
        return refused(error.message());
    }
    if (table.rows.isEmpty())
        return refused(QStringLiteral("%1: no header row; the first row names the columns, among "
                                      "them name")
                           .arg(displayName));
    const CsvRecord header = table.rows.takeFirst();
    if (!header.fault.isEmpty())
        return refused(QStringLiteral("%1:%2:%3: %4")
                           .arg(displayName)
                           .arg(header.line)
                           .arg(header.faultColumn)
                           .arg(header.fault));
    const QStringList known = batchColumnNames();
    for (qsizetype c = 0; c < header.fields.size(); ++c) {
        const QString column = header.fields[c].trimmed().toLower();
        const QString place =
            QStringLiteral("%1:%2:%3").arg(displayName).arg(header.line).arg(c + 1);
        if (!known.contains(column))
            return refused(QStringLiteral("%1: unknown column '%2'; the columns are %3")
                               .arg(place, header.fields[c], known.join(QStringLiteral(", "))));
        if (table.columns.contains(column))
            return refused(QStringLiteral("%1: column %2 is there twice").arg(place, column));
        table.columns.append(column);
    }
    if (!table.columns.contains(kNameColumn))
        return refused(QStringLiteral("%1:%2: no name column; each row names its project folder")
                           .arg(displayName)
                           .arg(header.line));
    // A table of nothing but its header builds nothing, which is no batch done.
    if (table.rows.isEmpty())
        return refused(QStringLiteral("%1: no rows below the header; each row names a project to "
                                      "build")
                           .arg(displayName));
    return {table, {}, {}};
}

RowCounts rowCounts(const BatchTable& table)
{
    RowCounts counts;
    const qsizetype nameColumn = table.columns.indexOf(kNameColumn);
    const qsizetype serialColumn = table.columns.indexOf(kSerialColumn);
    for (const CsvRecord& record : table.rows) {
        if (!record.fault.isEmpty() || record.fields.size() != table.columns.size())
            continue;
        ++counts.names[record.fields[nameColumn].trimmed().toCaseFolded()];
        if (serialColumn >= 0)
            ++counts.serials[record.fields[serialColumn].trimmed()];
    }
    return counts;
}

QStringList readBatchRow(const BatchTable& table, const CsvRecord& record, const RowCounts& counts,
                         RowRequest& request, bool allowOpenGateway)
{
    request.line = record.line;
    request.name = record.fields.value(table.columns.indexOf(kNameColumn)).trimmed();
    request.serial = record.fields.value(table.columns.indexOf(kSerialColumn)).trimmed();
    QStringList failures = rowShapeFailures(table, record, counts);
    if (failures.isEmpty())
        RowReader(table, record, failures).read(request, allowOpenGateway);
    return failures;
}

} // namespace quillner
