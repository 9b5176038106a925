#include "core/production/station_journal.h"

#include "core/app/error.h"
#include "core/app/sha256.h"
#include "core/production/line_journal.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace quillner {

namespace {

// The journal's successful records; none when the batch does not resume.
QList<FlashRecord> flashedRecords(const QString& path, bool resume)
{
    QList<FlashRecord> flashed;
    if (!resume)
        return flashed;
    for (const FlashRecord& record : readFlashJournal(path)) {
        if (record.flashed())
            flashed.append(record);
    }
    return flashed;
}

// A station alone: its journal file, every row its own. The journal is read before it is
// opened, so that one that was changed is refused as it is.
class FileStationJournal final : public StationJournal
{
public:
    FileStationJournal(const QString& path, bool resume)
        : m_flashed(flashedRecords(path, resume)), m_journal(path)
    {
    }

    QString displayName() const override { return m_journal.path(); }
    QList<FlashRecord> flashedBefore() override { return m_flashed; }
    RowClaim claim(qint64, const QString&, const QString&) override { return {}; }
    void append(const FlashRecord& record) override { m_journal.append(record); }

private:
    QList<FlashRecord> m_flashed;
    FlashJournal m_journal;
};

} // namespace

QByteArray batchTableIdentity(const BatchTable& table)
{
    // Line ends, quoting and a byte-order mark aside, two copies of a table read alike.
    QJsonArray rows;
    rows.append(QJsonArray::fromStringList(table.columns));
    for (const CsvRecord& record : table.rows)
        rows.append(QJsonArray::fromStringList(record.fields));
    return sha256Hex(QJsonDocument(rows).toJson(QJsonDocument::Compact));
}

std::unique_ptr<StationJournal> openStationJournal(const JournalChoice& choice,
                                                   const QString& journalPath,
                                                   const BatchTable& table, bool resume)
{
    if (choice.database.isEmpty())
        return std::make_unique<FileStationJournal>(journalPath, resume);
    const Result<JournalDatabase> database = parseJournalDatabase(choice.database);
    if (!database.whole())
        throw Error(problemLines(database.problems).join(u'\n'));
    if (choice.station.isEmpty())
        throw Error(QStringLiteral("A station that shares the journal %1 needs a name of its own")
                        .arg(database.value.displayName()));
    return std::make_unique<LineJournal>(database.value, choice.station, batchTableIdentity(table),
                                         journalPath);
}

} // namespace quillner
