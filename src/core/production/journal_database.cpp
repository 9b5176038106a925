#include "core/production/journal_database.h"

#include "core/app/error.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

namespace quillner {

namespace {

// The transaction-scoped advisory lock under which the tables are made, so that stations
// starting together do not make them twice.
constexpr qint64 kSchemaLock = 0x51554c4e53434831; // "QULNSCH1"

// The tables of version 1. A claim is a row of a table being flashed by one station ("flashing",
// with the run that holds it and a lease it renews), or settled ("flashed", "failed") with when.
constexpr auto kTables = R"sql(
CREATE TABLE quillner_row_claims (
    table_sha256 text NOT NULL,
    row bigint NOT NULL,
    name text NOT NULL,
    serial text,
    state text NOT NULL CHECK (state IN ('flashing', 'flashed', 'failed')),
    station text NOT NULL,
    run_key bigint NOT NULL,
    lease_until timestamptz NOT NULL,
    settled_at timestamptz,
    PRIMARY KEY (table_sha256, row));
CREATE TABLE quillner_attempts (
    id bigserial PRIMARY KEY,
    table_sha256 text NOT NULL,
    station text NOT NULL,
    row bigint NOT NULL,
    name text NOT NULL,
    serial text,
    port integer,
    master_sha256 text,
    bank_sha256 text,
    merged_sha256 text,
    tool_version text NOT NULL,
    outcome text NOT NULL,
    exit_status integer,
    last_line text,
    error text,
    started timestamptz NOT NULL,
    milliseconds bigint NOT NULL,
    UNIQUE (table_sha256, station, row, started));
CREATE INDEX quillner_attempts_device ON quillner_attempts (name, serial);
)sql";

QVariant textOrNull(const QString& text)
{
    return text.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text);
}

QVariant digestOrNull(const QByteArray& digest)
{
    return textOrNull(QString::fromLatin1(digest));
}

FlashRecord attemptOfQuery(const QSqlQuery& query)
{
    FlashRecord record;
    record.table = query.value(0).toString().toLatin1();
    record.station = query.value(1).toString();
    record.row = query.value(2).toLongLong();
    record.name = query.value(3).toString();
    record.serial = query.value(4).toString();
    record.port = query.value(5).isNull() ? -1 : query.value(5).toInt();
    record.masterSha256 = query.value(6).toString().toLatin1();
    record.bankSha256 = query.value(7).toString().toLatin1();
    record.mergedSha256 = query.value(8).toString().toLatin1();
    record.toolVersion = query.value(9).toString();
    const QString outcome = query.value(10).toString();
    for (const FlashRecord::Outcome each :
         {FlashRecord::Outcome::Flashed, FlashRecord::Outcome::Failed,
          FlashRecord::Outcome::TimedOut, FlashRecord::Outcome::NotBuilt}) {
        if (flashOutcomeName(each) == outcome)
            record.outcome = each;
    }
    if (!query.value(11).isNull())
        record.exitStatus = query.value(11).toInt();
    record.lastLine = query.value(12).toString();
    record.error = query.value(13).toString();
    record.started = query.value(14).toDateTime().toUTC();
    record.milliseconds = query.value(15).toLongLong();
    return record;
}

} // namespace

QString JournalDatabase::displayName() const
{
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(name);
}

bool isJournalDatabaseAddress(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://")) ||
           text.startsWith(QLatin1String("postgres://"));
}

Result<JournalDatabase> parseJournalDatabase(const QString& text)
{
    const auto fault = [](const QString& why) {
        return Result<JournalDatabase>::failure(
            {{{},
              {},
              QStringLiteral("%1; a journal database is written "
                             "postgresql://USER@HOST:PORT/DATABASE")
                  .arg(why)}});
    };
    if (!isJournalDatabaseAddress(text))
        return fault(QStringLiteral("not a PostgreSQL address"));
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return fault(QStringLiteral("the address cannot be read"));
    JournalDatabase database;
    database.user = url.userName(QUrl::FullyDecoded);
    database.password = url.password(QUrl::FullyDecoded);
    database.host = url.host(QUrl::FullyDecoded);
    database.port = url.port(5432);
    database.name = url.path(QUrl::FullyDecoded).mid(1);
    if (database.user.isEmpty())
        return fault(QStringLiteral("the address names no user"));
    if (database.host.isEmpty())
        return fault(QStringLiteral("the address names no host"));
    if (database.name.isEmpty() || database.name.contains(u'/'))
        return fault(QStringLiteral("the address names no database"));
    if (url.hasQuery() || url.hasFragment())
        return fault(QStringLiteral("the address has more than user, host, port and database"));
    return {database, {}, {}};
}

JournalConnection::JournalConnection(const JournalDatabase& database) : m_database(database)
{
    static QAtomicInteger<quint64> connections;
    m_connectionName = QStringLiteral("quillner-journal-%1").arg(connections.fetchAndAddOrdered(1));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    if (!db.isValid())
        throw Error(faultMessage(QStringLiteral("Qt SQL's PostgreSQL driver (QPSQL) is not "
                                                "installed; on Debian it is libqt6sql6-psql")));
    db.setUserName(database.user);
    db.setPassword(database.password);
    db.setHostName(database.host);
    db.setPort(database.port);
    db.setDatabaseName(database.name);
    // A server that went away is noticed within seconds rather than hours.
    db.setConnectOptions(
        QStringLiteral("connect_timeout=10;keepalives=1;keepalives_idle=10;keepalives_interval=5;"
                       "keepalives_count=3;application_name=quillner"));
    if (!db.open())
        throw Error(faultMessage(db.lastError().text()));
}

JournalConnection::~JournalConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase JournalConnection::handle() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

QString JournalConnection::faultMessage(const QString& said) const
{
    return QStringLiteral("The journal database %1 cannot be used: %2")
        .arg(m_database.displayName(), said.simplified());
}

QSqlQuery JournalConnection::prepare(const QString& statement) const
{
    QSqlQuery query(handle());
    if (!query.prepare(statement))
        throw Error(faultMessage(query.lastError().text()));
    return query;
}

void JournalConnection::run(QSqlQuery& query) const
{
    if (!query.exec())
        throw Error(faultMessage(query.lastError().text()));
}

QSqlQuery JournalConnection::run(const QString& statement) const
{
    QSqlQuery query(handle());
    if (!query.exec(statement))
        throw Error(faultMessage(query.lastError().text()));
    return query;
}

void JournalConnection::begin() const
{
    run(QStringLiteral("BEGIN"));
}

void JournalConnection::commit() const
{
    run(QStringLiteral("COMMIT"));
}

void JournalConnection::rollback() const
{
    QSqlQuery query(handle());
    query.exec(QStringLiteral("ROLLBACK"));
}

void JournalConnection::prepareTables() const
{
    begin();
    try {
        run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock));
        run(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS quillner_schema_version (version integer NOT NULL)"));
        QSqlQuery version = run(QStringLiteral("SELECT max(version) FROM quillner_schema_version"));
        const QVariant found = version.next() ? version.value(0) : QVariant();
        if (found.isNull()) {
            for (const QString& statement : QString::fromLatin1(kTables).split(u';')) {
                if (!statement.trimmed().isEmpty())
                    run(statement);
            }
            run(QStringLiteral("INSERT INTO quillner_schema_version (version) VALUES (%1)")
                    .arg(kJournalSchemaVersion));
        } else if (found.toInt() > kJournalSchemaVersion) {
            throw Error(faultMessage(
                QStringLiteral("its tables are of version %1, made by a later Quillner; this one "
                               "knows version %2")
                    .arg(found.toInt())
                    .arg(kJournalSchemaVersion)));
        }
        commit();
    } catch (const Error&) {
        rollback();
        throw;
    }
}

bool JournalConnection::hasTables() const
{
    QSqlQuery query = run(QStringLiteral("SELECT to_regclass('quillner_attempts') IS NOT NULL"));
    return query.next() && query.value(0).toBool();
}

void insertAttempt(const JournalConnection& connection, const FlashRecord& record)
{
    QSqlQuery query = connection.prepare(QStringLiteral(
        "INSERT INTO quillner_attempts (table_sha256, station, row, name, serial, port, "
        "master_sha256, bank_sha256, merged_sha256, tool_version, outcome, exit_status, "
        "last_line, error, started, milliseconds) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?) ON CONFLICT DO NOTHING"));
    query.addBindValue(QString::fromLatin1(record.table));
    query.addBindValue(record.station);
    query.addBindValue(record.row);
    query.addBindValue(record.name);
    query.addBindValue(textOrNull(record.serial));
    query.addBindValue(record.port < 0 ? QVariant(QMetaType(QMetaType::Int)) : record.port);
    query.addBindValue(digestOrNull(record.masterSha256));
    query.addBindValue(digestOrNull(record.bankSha256));
    query.addBindValue(digestOrNull(record.mergedSha256));
    query.addBindValue(record.toolVersion);
    query.addBindValue(flashOutcomeName(record.outcome));
    query.addBindValue(record.exitStatus ? QVariant(*record.exitStatus)
                                         : QVariant(QMetaType(QMetaType::Int)));
    query.addBindValue(textOrNull(record.lastLine));
    query.addBindValue(textOrNull(record.error));
    query.addBindValue(record.started.toUTC());
    query.addBindValue(record.milliseconds);
    connection.run(query);
}

bool JournalFilter::matches(const FlashRecord& record) const
{
    return (name.isEmpty() || record.name == name) && (serial.isEmpty() || record.serial == serial);
}

Result<QList<FlashRecord>> readJournalDatabase(const JournalDatabase& database,
                                               const JournalFilter& filter)
{
    try {
        const JournalConnection connection(database);
        if (!connection.hasTables())
            return {};
        QString where;
        QStringList values;
        for (const auto& [column, value] : {std::pair(QStringLiteral("name"), filter.name),
                                            std::pair(QStringLiteral("serial"), filter.serial)}) {
            if (value.isEmpty())
                continue;
            where += (where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) +
                     column + QStringLiteral(" = ?");
            values.append(value);
        }
        QSqlQuery query = connection.prepare(
            QStringLiteral("SELECT table_sha256, station, row, name, serial, port, master_sha256, "
                           "bank_sha256, merged_sha256, tool_version, outcome, exit_status, "
                           "last_line, error, started, milliseconds FROM quillner_attempts%1 "
                           "ORDER BY id")
                .arg(where));
        for (const QString& value : values)
            query.addBindValue(value);
        query.setForwardOnly(true);
        connection.run(query);
        QList<FlashRecord> records;
        while (query.next())
            records.append(attemptOfQuery(query));
        return {records, {}, {}};
    } catch (const Error& error) {
        return Result<QList<FlashRecord>>::failure({{{}, {}, error.message()}});
    }
}

} // namespace quillner
