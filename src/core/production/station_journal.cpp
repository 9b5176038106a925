#include "core/production/station_journal.h"

#include "core/app/error.h"
#include "core/app/sha256.h"
#include "core/production/line_journal.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace quillner {

namespace {

// A station alone: its journal file, every row its own. The journal is read before it is
// opened, so that one that was changed is refused as it is.
class FileStationJournal final : public StationJournal
{
public:
    FileStationJournal(QList<FlashRecord> flashed, std::unique_ptr<FlashJournal> journal)
        : m_flashed(std::move(flashed)), m_journal(std::move(journal))
    {
    }

    QString displayName() const override { return m_journal->path(); }
    Result<QList<FlashRecord>> flashedBefore() override { return {m_flashed, {}, {}}; }
    Result<RowClaim> claim(qint64, const QString&, const QString&) override { return {}; }
    Result<Done> append(const FlashRecord& record) override { return m_journal->append(record); }

private:
    QList<FlashRecord> m_flashed;
    std::unique_ptr<FlashJournal> m_journal;
};

// The journal file's successful records; none when the batch does not resume.
Result<QList<FlashRecord>> flashedRecords(const QString& path, bool resume)
{
    if (!resume)
        return {};
    Result<QList<FlashRecord>> read = readFlashJournal(path);
    read.value.removeIf([](const FlashRecord& record) { return !record.flashed(); });
    return read;
}

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

Result<std::unique_ptr<StationJournal>> openStationJournal(const JournalChoice& choice,
                                                           const QString& journalPath,
                                                           const BatchTable& table, bool resume)
{
    using Opened = Result<std::unique_ptr<StationJournal>>;
    if (choice.database.isEmpty()) {
        const Result<QList<FlashRecord>> flashed = flashedRecords(journalPath, resume);
        if (!flashed.whole())
            return Opened::failure(flashed.problems);
        Result<std::unique_ptr<FlashJournal>> file = FlashJournal::open(journalPath);
        if (!file.whole())
            return Opened::failure(file.problems);
        return {std::make_unique<FileStationJournal>(flashed.value, std::move(file.value)), {}, {}};
    }
    const Result<JournalDatabase> database = parseJournalDatabase(choice.database);
    if (!database.whole())
        return Opened::failure(database.problems);
    if (choice.station.isEmpty())
        return Opened::failure(
            {Problem{{},
                     {},
                     QStringLiteral("A station that shares the journal %1 needs a name of its own")
                         .arg(database.value.displayName()),
                     ProblemKind::Usage}});
    return LineJournal::open(database.value, choice.station, batchTableIdentity(table),
                             journalPath);
}

} // namespace quillner
