#pragma once

#include "core/production/journal_database.h"
#include "core/production/station_journal.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace quillner {

// The journal of a station on a production line: a PostgreSQL database that every station of
// the line works one table through. A port claims a row in the database before it flashes it;
// the claim holds a lease that the station renews while it works. So a row is flashed once over
// the line: the row of a station that stopped in its middle (killed, or cut off from the
// database) is taken back by that station's next run at once, and by another station only once
// its lease ran out.
//
// Every attempt goes first to the station's own journal file (OUT/journal.jsonl), then to the
// database; what the database missed while it was away is sent when the station starts again,
// before it claims a row.
class LineJournal final : public StationJournal
{
public:
    // How long a claim holds without renewal, and how often it is renewed.
    static constexpr std::chrono::seconds kLease{60};
    static constexpr std::chrono::seconds kRenewal{15};

    // Connects, makes the tables on first use, takes the station's name on the line (refused
    // when another batch of that name is at work on it) and sends what the station's own journal
    // holds that the database does not. A problem, naming the database, when any of it fails.
    static Result<std::unique_ptr<StationJournal>> open(const JournalDatabase& database,
                                                        const QString& station,
                                                        const QByteArray& table,
                                                        const QString& localJournalPath);
    ~LineJournal() override;

    QString displayName() const override { return m_database.displayName(); }
    Result<QList<FlashRecord>> flashedBefore() override;
    Result<RowClaim> claim(qint64 row, const QString& name, const QString& serial) override;
    Result<Done> append(const FlashRecord& record) override;

private:
    // Starts the connection's thread.
    LineJournal(const JournalDatabase& database, const QString& station, const QByteArray& table,
                std::unique_ptr<FlashJournal> local);

    using Work = std::function<void(const JournalConnection& connection)>;
    struct Job
    {
        Work work;
        std::promise<void> done;
    };

    // Runs the work on the connection's thread (Qt SQL uses a connection on the thread that made
    // it alone) and waits for it; a problem with what the database said when it failed.
    Result<Done> onConnection(Work work);
    void serve();
    void start(const JournalConnection& connection, const QList<FlashRecord>& local);
    void renewLeases(const JournalConnection& connection) const;
    RowClaim takeClaim(const JournalConnection& connection, qint64 row, const QString& name,
                       const QString& serial) const;

    JournalDatabase m_database;
    QString m_station;
    QByteArray m_table;
    qint64 m_runKey = 0;
    QString m_runStarted; // the server's time as the run began, in its own words
    std::unique_ptr<FlashJournal> m_local;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::exception_ptr m_fault; // once the connection failed, every later use fails with it
    std::thread m_thread;
};

} // namespace quillner
