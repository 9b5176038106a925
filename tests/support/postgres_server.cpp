#include "support/postgres_server.h"

#include "core/app/error.h"
#include "core/production/journal_database.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillner::testing {

namespace {

constexpr int kWaitMs = 120000; // a safety net for a server that never answers, not a measure

// A port of 127.0.0.1 that nobody listens on at this moment.
int freePort()
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(socket);
    return port;
}

QString serverPrograms()
{
    const QString debian = QStringLiteral("/usr/lib/postgresql/15/bin");
    if (QFileInfo(debian + QStringLiteral("/initdb")).isExecutable())
        return debian;
    const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
    return initdb.isEmpty() ? QString() : QFileInfo(initdb).absolutePath();
}

} // namespace

PostgresServer::PostgresServer(const QString& folder)
    : m_folder(QDir(folder).filePath(QStringLiteral("pg"))), m_bin(serverPrograms())
{
    if (m_bin.isEmpty()) {
        m_failure = QStringLiteral("PostgreSQL 15's initdb is not installed (scripts/setup "
                                   "installs postgresql-15)");
        return;
    }
    QDir().mkpath(m_folder + QStringLiteral("/socket"));
    // The server refuses to run as root: a user of no privilege owns the cluster.
    if (::geteuid() == 0) {
        m_switchUser = true;
        const passwd* account = ::getpwnam("postgres");
        if (!account) {
            QProcess::execute(QStringLiteral("useradd"),
                              {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                               QStringLiteral("quillner-test-pg")});
            account = ::getpwnam("quillner-test-pg");
        }
        if (!account) {
            m_failure = QStringLiteral("no unprivileged user to own the PostgreSQL cluster");
            return;
        }
        m_uid = account->pw_uid;
        m_gid = account->pw_gid;
        // It reaches its folder through the test's, which only its owner may enter otherwise.
        ::chmod(QFile::encodeName(folder).constData(), 0711);
        for (const QString& path : {m_folder, m_folder + QStringLiteral("/socket")})
            ::chown(QFile::encodeName(path).constData(), m_uid, m_gid);
    }
    runAsOwner(m_bin + QStringLiteral("/initdb"),
               {QStringLiteral("-D"), m_folder + QStringLiteral("/data"), QStringLiteral("-U"),
                QString::fromLatin1(kUser), QStringLiteral("--auth=trust"),
                QStringLiteral("--encoding=UTF8"), QStringLiteral("--no-sync")});
}

PostgresServer::~PostgresServer()
{
    stop();
}

void PostgresServer::prepareProcess(QProcess& process) const
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_folder);
    const bool switchUser = m_switchUser;
    const uint uid = m_uid;
    const uint gid = m_gid;
    process.setChildProcessModifier([switchUser, uid, gid] {
        if (switchUser &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        // A test that dies takes its server along (immediate shutdown).
        ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
    });
}

bool PostgresServer::runAsOwner(const QString& program, const QStringList& arguments)
{
    QProcess process;
    prepareProcess(process);
    process.start(program, arguments);
    if (!process.waitForFinished(kWaitMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_failure =
            QStringLiteral("%1 failed: %2")
                .arg(QFileInfo(program).fileName(), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool PostgresServer::start()
{
    if (!m_failure.isEmpty())
        return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (m_port == 0 || attempt > 0)
            m_port = freePort();
        m_server = std::make_unique<QProcess>();
        prepareProcess(*m_server);
        m_server->start(m_bin + QStringLiteral("/postgres"),
                        {QStringLiteral("-D"), m_folder + QStringLiteral("/data"),
                         QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-k"),
                         m_folder + QStringLiteral("/socket"), QStringLiteral("-c"),
                         QStringLiteral("listen_addresses=127.0.0.1"), QStringLiteral("-c"),
                         QStringLiteral("fsync=off"), QStringLiteral("-c"),
                         QStringLiteral("logging_collector=off"), QStringLiteral("-c"),
                         QStringLiteral("max_connections=60")});
        QByteArray log;
        while (!log.contains("ready to accept connections")) {
            if (!m_server->waitForReadyRead(kWaitMs))
                break;
            log += m_server->readAll();
        }
        if (log.contains("ready to accept connections"))
            return true;
        m_server->waitForFinished(kWaitMs);
        log += m_server->readAll();
        m_server.reset();
        m_failure = QStringLiteral("postgres did not start: ") + QString::fromLocal8Bit(log);
        if (!log.contains("Address already in use"))
            return false;
    }
    return false;
}

void PostgresServer::stop()
{
    if (!m_server)
        return;
    if (m_server->state() != QProcess::NotRunning) {
        ::kill(pid_t(m_server->processId()), SIGINT);
        m_server->waitForFinished(kWaitMs);
    }
    m_server.reset();
}

QString PostgresServer::address(const QString& database, const QString& password) const
{
    return QStringLiteral("postgresql://%1%2@127.0.0.1:%3/%4")
        .arg(QString::fromLatin1(kUser), password.isEmpty() ? QString() : u':' + password)
        .arg(m_port)
        .arg(database);
}

bool PostgresServer::createDatabase(const QString& database)
{
    try {
        const JournalConnection connection({QString::fromLatin1(kUser),
                                            {},
                                            QStringLiteral("127.0.0.1"),
                                            m_port,
                                            QStringLiteral("postgres")});
        connection.run(QStringLiteral("CREATE DATABASE \"%1\"").arg(database));
        return true;
    } catch (const Error& error) {
        m_failure = error.message();
        return false;
    }
}

} // namespace quillner::testing
