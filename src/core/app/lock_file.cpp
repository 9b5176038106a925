#include "core/app/lock_file.h"

#include "core/app/file_io.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <limits>
#include <optional>
#include <thread>

namespace quillner {

namespace {

// How often a lock that a running owner holds is tried again while waiting for it.
constexpr std::chrono::milliseconds kRetryInterval{50};
// An owner is a few short lines; more is no owner this program wrote.
constexpr qsizetype kMostOwnerBytes = 1024;

#ifdef Q_OS_UNIX

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a device");
}

// The owner a lock file names, when it names one this program can read.
struct LockOwner
{
    qint64 processId = 0;
    QString program;
    QString host;

    bool ofThisHost() const { return host.isEmpty() || host == QSysInfo::machineHostName(); }
    QString text() const
    {
        return QStringLiteral("process %1 (%2 on %3)")
            .arg(processId)
            .arg(program.isEmpty() ? QStringLiteral("a program") : program,
                 host.isEmpty() ? QSysInfo::machineHostName() : host);
    }
};

std::optional<LockOwner> ownerOf(int descriptor)
{
    QByteArray bytes(kMostOwnerBytes, '\0');
    const ssize_t read = ::pread(descriptor, bytes.data(), size_t(bytes.size()), 0);
    if (read <= 0)
        return std::nullopt;
    bytes.truncate(read);
    const QList<QByteArray> lines = bytes.split('\n');
    bool number = false;
    const qint64 processId = lines.value(0).toLongLong(&number);
    if (!number || processId <= 0 || processId > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    return LockOwner{processId, QString::fromUtf8(lines.value(1)).trimmed(),
                     QString::fromUtf8(lines.value(2)).trimmed()};
}

// A process of this host that no longer runs, or a process id that is now this process's own
// (a killed owner's id given again): neither holds the lock.
bool gone(const LockOwner& owner)
{
    if (!owner.ofThisHost())
        return false;
    if (owner.processId == ::getpid())
        return true;
    return ::kill(pid_t(owner.processId), 0) != 0 && errno == ESRCH;
}

bool sameFile(int descriptor, const QByteArray& nativePath)
{
    struct stat opened
    {
    };
    struct stat named
    {
    };
    return ::fstat(descriptor, &opened) == 0 && ::lstat(nativePath.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool namesThisProcess(const QByteArray& nativePath)
{
    const int descriptor =
        ::open(nativePath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return false;
    struct stat status
    {
    };
    const std::optional<LockOwner> owner =
        ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) ? ownerOf(descriptor)
                                                                     : std::nullopt;
    ::close(descriptor);
    return owner && owner->ofThisHost() && owner->processId == ::getpid();
}

QByteArray ownerBytes()
{
    return QByteArray::number(qint64(::getpid())) + '\n' +
           QCoreApplication::applicationName().toUtf8() + '\n' +
           QSysInfo::machineHostName().toUtf8() + '\n';
}

#endif

Result<Done> refused(const QString& text)
{
    return Result<Done>::failure({Problem{{}, {}, text}});
}

Result<int> noDescriptor(const QString& reason)
{
    return Result<int>::failure({Problem{{}, {}, reason}});
}

QString removeSafelyAdvice(const QString& path)
{
    return QStringLiteral("remove %1 once no Quillner is working in its folder").arg(path);
}

} // namespace

Result<int> openLockDescriptor(const QString& path)
{
#ifdef Q_OS_UNIX
    const QByteArray nativePath = QFile::encodeName(path);
    const int descriptor =
        ::open(nativePath.constData(),
               O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (descriptor < 0) {
        const int error = errno;
        struct stat status
        {
        };
        if (::lstat(nativePath.constData(), &status) == 0 && !S_ISREG(status.st_mode))
            return noDescriptor(kindOf(status.st_mode));
        return noDescriptor(QString::fromLocal8Bit(std::strerror(error)));
    }
    struct stat status
    {
    };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return noDescriptor(kindOf(status.st_mode));
    }
    return {descriptor, {}, {}};
#else
    Q_UNUSED(path);
    return noDescriptor(QStringLiteral("no lock files here"));
#endif
}

LockFile::LockFile(QString path) : m_path(std::move(path)) {}

LockFile::~LockFile()
{
    release();
}

bool LockFile::held() const
{
    return m_descriptor >= 0 || (m_portable && m_portable->isLocked());
}

Result<Done> LockFile::take(std::chrono::milliseconds wait, const QString& busyMessage)
{
    if (held())
        return {};
#ifdef Q_OS_UNIX
    const QByteArray nativePath = QFile::encodeName(m_path);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const Result<int> opened = openLockDescriptor(m_path);
        if (!opened.whole()) {
            const QString& reason = opened.problems.first().text;
            struct stat status
            {
            };
            if (::lstat(nativePath.constData(), &status) == 0 && !S_ISREG(status.st_mode))
                return refused(busyMessage + QStringLiteral("\n%1 is %2, not a lock file; %3")
                                                 .arg(m_path, reason, removeSafelyAdvice(m_path)));
            return refused(cannotCreateFileMessage(m_path, reason));
        }
        const int descriptor = opened.value;
        QString taken;
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            const std::optional<LockOwner> owner = ownerOf(descriptor);
            taken = QStringLiteral("%1 is held by %2; it is let go when that process ends")
                        .arg(m_path, owner ? owner->text() : QStringLiteral("a running process"));
        } else if (!sameFile(descriptor, nativePath)) {
            // Its owner removed it while this one was opened: the next one made is the lock.
            ::close(descriptor);
            continue;
        } else if (const std::optional<LockOwner> owner = ownerOf(descriptor);
                   !owner || gone(*owner)) {
            if (::ftruncate(descriptor, 0) != 0) {
                const QString cause = QString::fromLocal8Bit(std::strerror(errno));
                ::close(descriptor);
                return refused(cannotCreateFileMessage(m_path, cause));
            }
            const QByteArray owned = ownerBytes();
            if (::pwrite(descriptor, owned.constData(), size_t(owned.size()), 0) !=
                ssize_t(owned.size())) {
                const QString cause = QString::fromLocal8Bit(std::strerror(errno));
                ::unlink(nativePath.constData());
                ::close(descriptor);
                return refused(cannotCreateFileMessage(m_path, cause));
            }
            m_descriptor = descriptor;
            return {};
        } else {
            // Nobody holds it, yet it names an owner that may still be at work: one of another
            // host sharing the folder, or one that runs without holding it.
            ::close(descriptor);
            return refused(busyMessage + QStringLiteral("\n%1 names %2, which %3; %4")
                                             .arg(m_path, owner->text(),
                                                  owner->ofThisHost()
                                                      ? QStringLiteral("still runs")
                                                      : QStringLiteral("this host cannot see"),
                                                  removeSafelyAdvice(m_path)));
        }
        ::close(descriptor);
        if (clock.elapsed() >= wait.count())
            return refused(busyMessage + u'\n' + taken);
        std::this_thread::sleep_for(kRetryInterval);
    }
#else
    m_portable = std::make_unique<QLockFile>(m_path);
    m_portable->setStaleLockTime(std::chrono::milliseconds::zero());
    if (m_portable->tryLock(wait))
        return {};
    if (m_portable->error() == QLockFile::LockFailedError)
        return refused(busyMessage + QStringLiteral("\n%1 is held by another process; %2")
                                         .arg(m_path, removeSafelyAdvice(m_path)));
    return refused(cannotCreateFileMessage(m_path, QStringLiteral("The lock file cannot be made")));
#endif
}

void LockFile::release()
{
#ifdef Q_OS_UNIX
    if (m_descriptor < 0)
        return;
    // Removed while still held: whoever opened it meanwhile finds it gone once it gets the flock,
    // and makes the next one. Only the file taken goes, or another lock of this process's that a
    // swap of two folders moved into its place (each lock then names the other's file).
    const QByteArray nativePath = QFile::encodeName(m_path);
    if (sameFile(m_descriptor, nativePath) || namesThisProcess(nativePath))
        ::unlink(nativePath.constData());
    ::close(m_descriptor);
    m_descriptor = -1;
#else
    if (m_portable)
        m_portable->unlock();
#endif
}

} // namespace quillner
