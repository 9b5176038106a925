#include "core/production/line_journal.h"

#include "core/app/error.h"

#include <QRandomGenerator>
#include <QSqlQuery>
#include <QVariant>

namespace quillner {

namespace {

// The advisory locks that hold a station's name on the line while its connection lives (the
// second key is the name's hash).
constexpr int kStationLockClass = 0x51554c4e; // "QULN"

QString stateOf(const FlashRecord& record)
{
    return record.flashed() ? QStringLiteral("flashed") : QStringLiteral("failed");
}

} // namespace

LineJournal::LineJournal(const JournalDatabase& database, const QString& station,
                         const QByteArray& table, std::unique_ptr<FlashJournal> local)
    : m_database(database), m_station(station), m_table(table),
      // Positive, so that the server's bigint holds it as it is.
      m_runKey(qint64(QRandomGenerator::system()->generate64() >> 1)), m_local(std::move(local))
{
    m_thread = std::thread([this] { serve(); });
}

Result<std::unique_ptr<StationJournal>> LineJournal::open(const JournalDatabase& database,
                                                          const QString& station,
                                                          const QByteArray& table,
                                                          const QString& localJournalPath)
{
    using Opened = Result<std::unique_ptr<StationJournal>>;
    Result<std::unique_ptr<FlashJournal>> file = FlashJournal::open(localJournalPath);
    if (!file.whole())
        return Opened::failure(file.problems);
    // What this station did for this table while the database was away.
    const Result<QList<FlashRecord>> local = readFlashJournal(localJournalPath);
    if (!local.whole())
        return Opened::failure(local.problems);
    std::unique_ptr<LineJournal> journal(
        new LineJournal(database, station, table, std::move(file.value)));
    const Result<Done> started = journal->onConnection(
        [&](const JournalConnection& connection) { journal->start(connection, local.value); });
    // Not started, it ends its connection's thread as it goes.
    if (!started.whole())
        return Opened::failure(started.problems);
    return {std::move(journal), {}, {}};
}

LineJournal::~LineJournal()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

Result<Done> LineJournal::onConnection(Work work)
{
    std::future<void> done;
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({std::move(work), {}});
        done = m_jobs.back().done.get_future();
    }
    m_changed.notify_all();
    try {
        done.get();
    } catch (const Error& error) {
        // What the server or Qt SQL refused, as the connection's thread caught it.
        return Result<Done>::failure({Problem{{}, {}, error.message()}});
    }
    return {};
}

void LineJournal::serve()
{
    std::unique_ptr<JournalConnection> connection;
    try {
        connection = std::make_unique<JournalConnection>(m_database);
    } catch (...) {
        m_fault = std::current_exception();
    }
    auto renewal = std::chrono::steady_clock::now() + kRenewal;
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_until(lock, renewal, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty() && m_stopping)
            break;
        if (m_jobs.empty()) {
            lock.unlock();
            renewal = std::chrono::steady_clock::now() + kRenewal;
            if (m_fault)
                continue;
            try {
                renewLeases(*connection);
            } catch (...) {
                m_fault = std::current_exception();
            }
            continue;
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        if (m_fault) {
            job.done.set_exception(m_fault);
            continue;
        }
        try {
            job.work(*connection);
            job.done.set_value();
        } catch (...) {
            // A failed statement may leave a transaction open; the connection is not trusted
            // any more either way.
            m_fault = std::current_exception();
            connection->rollback();
            job.done.set_exception(m_fault);
        }
    }
    // Ending the connection lets the server drop this run's locks: its claims that are not
    // settled are free for the line at once.
    connection.reset();
}

void LineJournal::start(const JournalConnection& connection, const QList<FlashRecord>& local)
{
    connection.prepareTables();
    QSqlQuery station = connection.prepare(
        QStringLiteral("SELECT pg_try_advisory_lock(%1, hashtext(?))").arg(kStationLockClass));
    station.addBindValue(m_station);
    connection.run(station);
    if (!station.next() || !station.value(0).toBool())
        throw Error(QStringLiteral("Station %1 is at work on %2 already: each station of a line "
                                   "has a name of its own")
                        .arg(m_station, m_database.displayName()));
    QSqlQuery now = connection.run(QStringLiteral("SELECT now()::text"));
    if (now.next())
        m_runStarted = now.value(0).toString();

    for (const FlashRecord& record : local) {
        if (record.station != m_station || record.table != m_table)
            continue;
        connection.begin();
        insertAttempt(connection, record);
        if (record.flashed()) {
            QSqlQuery settle = connection.prepare(QStringLiteral(
                "INSERT INTO quillner_row_claims (table_sha256, row, name, serial, state, "
                "station, run_key, lease_until, settled_at) VALUES (?, ?, ?, ?, 'flashed', ?, ?, "
                "now(), now()) ON CONFLICT (table_sha256, row) DO UPDATE SET state = 'flashed', "
                "station = EXCLUDED.station, run_key = EXCLUDED.run_key, settled_at = now() "
                "WHERE quillner_row_claims.state <> 'flashed'"));
            for (const QVariant& value :
                 {QVariant(QString::fromLatin1(m_table)), QVariant(record.row),
                  QVariant(record.name), QVariant(record.serial), QVariant(m_station),
                  QVariant(m_runKey)})
                settle.addBindValue(value);
            connection.run(settle);
        }
        connection.commit();
    }
}

void LineJournal::renewLeases(const JournalConnection& connection) const
{
    QSqlQuery renew = connection.prepare(
        QStringLiteral("UPDATE quillner_row_claims SET lease_until = now() + ? * interval '1 "
                       "second' WHERE run_key = ? AND state = 'flashing'"));
    renew.addBindValue(qint64(kLease.count()));
    renew.addBindValue(m_runKey);
    connection.run(renew);
}

Result<QList<FlashRecord>> LineJournal::flashedBefore()
{
    QList<FlashRecord> records;
    const Result<Done> read = onConnection([&](const JournalConnection& connection) {
        QSqlQuery query = connection.prepare(
            QStringLiteral("SELECT row, name, serial, station FROM quillner_row_claims WHERE "
                           "table_sha256 = ? AND state = 'flashed' ORDER BY row"));
        query.addBindValue(QString::fromLatin1(m_table));
        connection.run(query);
        while (query.next()) {
            FlashRecord record;
            record.row = query.value(0).toLongLong();
            record.name = query.value(1).toString();
            record.serial = query.value(2).toString();
            record.station = query.value(3).toString();
            record.table = m_table;
            record.outcome = FlashRecord::Outcome::Flashed;
            records.append(record);
        }
    });
    return {records, read.problems, {}};
}

Result<RowClaim> LineJournal::claim(qint64 row, const QString& name, const QString& serial)
{
    RowClaim claim;
    const Result<Done> asked = onConnection([&](const JournalConnection& connection) {
        claim = takeClaim(connection, row, name, serial);
    });
    return {claim, asked.problems, {}};
}

RowClaim LineJournal::takeClaim(const JournalConnection& connection, qint64 row,
                                const QString& name, const QString& serial) const
{
    const QString table = QString::fromLatin1(m_table);
    const qint64 lease = kLease.count();
    QSqlQuery fresh = connection.prepare(QStringLiteral(
        "INSERT INTO quillner_row_claims (table_sha256, row, name, serial, state, station, "
        "run_key, lease_until) VALUES (?, ?, ?, ?, 'flashing', ?, ?, now() + ? * interval '1 "
        "second') ON CONFLICT DO NOTHING"));
    for (const QVariant& value : {QVariant(table), QVariant(row), QVariant(name), QVariant(serial),
                                  QVariant(m_station), QVariant(m_runKey), QVariant(lease)})
        fresh.addBindValue(value);
    connection.run(fresh);
    if (fresh.numRowsAffected() == 1)
        return {RowClaim::Answer::Granted, m_station, false};

    connection.begin();
    // A claim another station is deciding on at this moment is skipped, not waited for.
    QSqlQuery held = connection.prepare(
        QStringLiteral("SELECT state, station, lease_until < now(), settled_at < CAST(? AS "
                       "timestamptz) FROM quillner_row_claims WHERE table_sha256 = ? AND row = ? "
                       "FOR UPDATE SKIP LOCKED"));
    held.addBindValue(m_runStarted);
    held.addBindValue(table);
    held.addBindValue(row);
    connection.run(held);
    if (!held.next()) {
        connection.commit();
        return {RowClaim::Answer::Held, {}, false};
    }
    const QString state = held.value(0).toString();
    const QString holder = held.value(1).toString();
    const bool expired = held.value(2).toBool();
    const bool settledBeforeThisRun = held.value(3).toBool();
    RowClaim answer{RowClaim::Answer::Granted, m_station, false};
    if (state == QLatin1String("flashed"))
        answer = {RowClaim::Answer::Settled, holder, true};
    // A row that failed is tried again by a run that began after it failed, as --resume does
    // for a station alone.
    else if (state == QLatin1String("failed") && !settledBeforeThisRun)
        answer = {RowClaim::Answer::Settled, holder, false};
    // Only this station knows whether a device it was flashing when it stopped was finished: it
    // sent its own journal's records before it asked, so its claim of an earlier run is its to
    // take back (its name is its alone while it works). Another station waits for the lease.
    else if (state == QLatin1String("flashing") && holder != m_station && !expired)
        answer = {RowClaim::Answer::Held, holder, false};
    if (answer.answer == RowClaim::Answer::Granted) {
        QSqlQuery take = connection.prepare(QStringLiteral(
            "UPDATE quillner_row_claims SET state = 'flashing', station = ?, run_key = ?, "
            "lease_until = now() + ? * interval '1 second', settled_at = NULL WHERE "
            "table_sha256 = ? AND row = ?"));
        for (const QVariant& value : {QVariant(m_station), QVariant(m_runKey), QVariant(lease),
                                      QVariant(table), QVariant(row)})
            take.addBindValue(value);
        connection.run(take);
    }
    connection.commit();
    return answer;
}

Result<Done> LineJournal::append(const FlashRecord& attempt)
{
    FlashRecord record = attempt;
    record.station = m_station;
    record.table = m_table;
    // On the station's disk first: a database that went away loses nothing.
    if (const Result<Done> kept = m_local->append(record); !kept.whole())
        return kept;
    return onConnection([&](const JournalConnection& connection) {
        connection.begin();
        insertAttempt(connection, record);
        // A row not built after its claim is settled as failed, as one whose flashing failed.
        {
            QSqlQuery settle = connection.prepare(QStringLiteral(
                "UPDATE quillner_row_claims SET state = ?, settled_at = now(), lease_until = "
                "now() WHERE table_sha256 = ? AND row = ? AND run_key = ?"));
            for (const QVariant& value :
                 {QVariant(stateOf(record)), QVariant(QString::fromLatin1(m_table)),
                  QVariant(record.row), QVariant(m_runKey)})
                settle.addBindValue(value);
            connection.run(settle);
        }
        connection.commit();
    });
}

} // namespace quillner
