#include "core/app/atomic_file.h"

#include "core/app/file_io.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillner {

namespace {

// Tries at names taken by files of other writers before giving up.
constexpr int kNameAttempts = 100;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The six letters or digits that make the file beside unique.
QString uniqueSuffix()
{
    static constexpr char kDigits[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix(6, Qt::Uninitialized);
    for (QChar& c : suffix)
        c = QLatin1Char(kDigits[QRandomGenerator::global()->bounded(int(sizeof kDigits) - 1)]);
    return suffix;
}

mode_t modeOf(QFileDevice::Permissions permissions)
{
    // Qt's owner, group and other bits stand 12, 4 and 0 bits up, three to a class.
    const auto bits = uint(permissions);
    return mode_t(((bits >> 12) & 07) << 6 | ((bits >> 4) & 07) << 3 | (bits & 07));
}

ssize_t systemWrite(int descriptor, const void* data, size_t length)
{
    return ::write(descriptor, data, length);
}

int systemSync(int descriptor)
{
    return ::fsync(descriptor);
}

// The new name is on the disk once the folder that holds it is.
int syncFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int descriptor = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return -1;
    const int synced = ::fsync(descriptor);
    ::close(descriptor);
    return synced;
}

} // namespace

AtomicFile::AtomicFile(QString path, Options options) : m_path(std::move(path)), m_options(options)
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

Result<Done> AtomicFile::failure(const QString& cause)
{
    discard();
    setErrorString(cause);
    return Result<Done>::failure({Problem{{}, {}, cannotCreateFileMessage(m_path, cause)}});
}

void AtomicFile::discard()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    if (!m_asidePath.isEmpty())
        ::unlink(QFile::encodeName(m_asidePath).constData());
    m_asidePath.clear();
    QIODevice::close();
}

Result<Done> AtomicFile::create()
{
    discard();
    m_writeFault.clear();
    // A secret starts private and gets its permissions before its first byte; any other file
    // gets what the system gives a new one.
    const mode_t mode = m_options.permissions ? mode_t(0600) : mode_t(0666);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString aside = m_path + u'.' + uniqueSuffix();
        const int descriptor =
            ::open(QFile::encodeName(aside).constData(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
        if (descriptor < 0 && errno == EEXIST)
            continue;
        if (descriptor < 0)
            return failure(systemReason(errno));
        m_descriptor = descriptor;
        m_asidePath = aside;
        if (m_options.permissions && ::fchmod(descriptor, modeOf(*m_options.permissions)) != 0)
            return failure(systemReason(errno));
        QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        return {};
    }
    return failure(systemReason(EEXIST));
}

qint64 AtomicFile::readData(char*, qint64)
{
    return -1;
}

qint64 AtomicFile::writeData(const char* data, qint64 length)
{
    if (!m_writeFault.isEmpty() || m_descriptor < 0)
        return -1;
    const auto write = m_options.write ? m_options.write : systemWrite;
    qint64 written = 0;
    while (written < length) {
        const ssize_t part = write(m_descriptor, data + written, size_t(length - written));
        if (part < 0 && errno == EINTR)
            continue;
        if (part <= 0) {
            // A write that takes nothing and tells no reason would be tried for ever.
            m_writeFault = systemReason(part < 0 ? errno : ENOSPC);
            setErrorString(m_writeFault);
            return -1;
        }
        written += part;
    }
    return written;
}

Result<Done> AtomicFile::commit()
{
    if (m_descriptor < 0)
        return failure(m_writeFault.isEmpty() ? systemReason(EBADF) : m_writeFault);
    if (!m_writeFault.isEmpty())
        return failure(m_writeFault);
    const bool synced = m_options.durability == Durability::Synced;
    const auto sync = m_options.sync ? m_options.sync : systemSync;
    if (synced && sync(m_descriptor) != 0)
        return failure(systemReason(errno));
    const int descriptor = m_descriptor;
    m_descriptor = -1;
    // A failed close may be the first word of a failed write on a network file system.
    if (::close(descriptor) != 0)
        return failure(systemReason(errno));
    if (::rename(QFile::encodeName(m_asidePath).constData(),
                 QFile::encodeName(m_path).constData()) != 0)
        return failure(systemReason(errno));
    m_asidePath.clear();
    QIODevice::close();
    if (synced && syncFolderOf(m_path) != 0)
        return Result<Done>::failure(
            {Problem{{}, {}, cannotCreateFileMessage(m_path, systemReason(errno))}});
    return {};
}

} // namespace quillner
