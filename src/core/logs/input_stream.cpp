#include "core/logs/input_stream.h"

#include "core/app/file_io.h"

#include <QDir>
#include <QFileInfo>

#include <zlib.h>

#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillner {

namespace {

constexpr qsizetype kGzipPiece = 256 << 10;
// The least a buffer takes: twice the longest line, so that one is always seen whole.
constexpr qsizetype kMinimumBytes = 128 << 10;
// The most one read brings into a buffer: read at its start again and again, a buffer is still in
// the processor's cache when its lines are read, and the kernel copies into it faster.
constexpr qint64 kMostReadBytes = 256 << 10;

class FileStream : public ByteStream
{
public:
    explicit FileStream(std::unique_ptr<QFile> file) : m_file(std::move(file)) {}

    qint64 sizeHint() const override { return m_file->isSequential() ? -1 : m_file->size(); }

    qint64 read(char* data, qint64 size) override
    {
        if (!m_problems.isEmpty())
            return 0;
#ifdef Q_OS_UNIX
        // One read of the descriptor: QFile would wait until the whole size came, and a pipe
        // from a live capture brings a few lines at a time.
        qint64 read = -1;
        do {
            read = ::read(m_file->handle(), data, size_t(size));
        } while (read < 0 && errno == EINTR);
        if (read < 0)
            return failed(QString::fromLocal8Bit(std::strerror(errno)));
        return read;
#else
        const qint64 read = m_file->read(data, size);
        if (read < 0)
            return failed(m_file->errorString());
        return read;
#endif
    }

private:
    // The stream ends where it could not be read.
    qint64 failed(const QString& reason)
    {
        m_problems = {{{},
                       {},
                       QStringLiteral("Cannot read \"%1\". %2")
                           .arg(QDir::toNativeSeparators(m_file->fileName()), reason)}};
        return 0;
    }

    std::unique_ptr<QFile> m_file;
};

// Whether the open descriptor or the path is something that ends and can be streamed: a regular
// file or a pipe (a socket, for standard input handed over by a service).
#ifdef Q_OS_UNIX
bool isStreamable(const struct stat& status)
{
    return S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
}
#endif

class GzipStream : public ByteStream
{
public:
    GzipStream(std::unique_ptr<ByteStream> stream, QString name)
        : m_stream(std::move(stream)), m_name(std::move(name)),
          m_input(kGzipPiece, Qt::Uninitialized)
    {
        std::memset(&m_zip, 0, sizeof m_zip);
        // 16 + 15: a gzip header and trailer around a deflate stream of any window.
        if (inflateInit2(&m_zip, 16 + MAX_WBITS) != Z_OK)
            fail(QStringLiteral("cannot start gunzip"));
    }
    ~GzipStream() override { inflateEnd(&m_zip); }

    bool endedEarly() const override { return m_endedEarly; }
    const Problems& problems() const override
    {
        return m_problems.isEmpty() ? m_stream->problems() : m_problems;
    }

    qint64 read(char* data, qint64 size) override
    {
        m_zip.next_out = reinterpret_cast<Bytef*>(data);
        m_zip.avail_out = uInt(std::min<qint64>(size, 1 << 30));
        while (m_zip.avail_out > 0 && !m_done) {
            if (m_zip.avail_in == 0) {
                const qint64 read = m_stream->read(m_input.data(), m_input.size());
                if (read == 0) {
                    // A recording cut short is read to its last whole line or object.
                    m_endedEarly = m_inMember;
                    m_done = true;
                    break;
                }
                m_zip.next_in = reinterpret_cast<Bytef*>(m_input.data());
                m_zip.avail_in = uInt(read);
            }
            m_inMember = true;
            const int status = inflate(&m_zip, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                // Another member may follow, as "cat a.gz b.gz" makes one.
                m_inMember = false;
                ++m_members;
                inflateReset(&m_zip);
            } else if (status != Z_OK && status != Z_BUF_ERROR) {
                // What follows a complete member and is no member (zero padding) ends the data,
                // as gunzip takes it.
                if (m_members > 0 && m_zip.total_out == 0) {
                    m_done = true;
                    break;
                }
                fail(QStringLiteral("not valid gzip data (%1)")
                         .arg(QString::fromLatin1(m_zip.msg ? m_zip.msg : "")));
                break;
            }
            if (m_zip.avail_out < uInt(size) && m_zip.avail_in == 0)
                break; // give what there is: a pipe may take a while to bring more
        }
        return size - qint64(m_zip.avail_out);
    }

private:
    // The data end here, with the problem naming the recording.
    void fail(const QString& text)
    {
        m_problems = {{m_name, {}, text}};
        m_done = true;
    }

    std::unique_ptr<ByteStream> m_stream;
    QString m_name;
    QByteArray m_input;
    z_stream m_zip;
    int m_members = 0;
    bool m_inMember = false;
    bool m_done = false;
    bool m_endedEarly = false;
};

} // namespace

QString recordingName(const QString& path)
{
    return path == QStringLiteral("-") ? QStringLiteral("standard input")
                                       : QFileInfo(path).fileName();
}

namespace {

using OpenedStream = Result<std::unique_ptr<ByteStream>>;

OpenedStream notOpened(const QString& text)
{
    return OpenedStream::failure({{{}, {}, text}});
}

} // namespace

OpenedStream openRecordingAt(const QString& path, qint64 position)
{
    auto file = std::make_unique<QFile>(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return notOpened(cannotOpenFileMessage(shown, file->errorString()));
    if (file->isSequential() || !file->seek(position))
        return notOpened(cannotReadFileMessage(shown, file->errorString()));
    return {std::make_unique<FileStream>(std::move(file)), {}, {}};
}

OpenedStream openRecording(const QString& path)
{
    auto file = std::make_unique<QFile>();
    if (path == QStringLiteral("-")) {
#ifdef Q_OS_UNIX
        struct stat status;
        if (fstat(0, &status) == 0 && !isStreamable(status))
            return notOpened(QStringLiteral("standard input is a terminal or a device, not a "
                                            "recording: give a file, or pipe a recording into it"));
#endif
        if (!file->open(0, QIODevice::ReadOnly | QIODevice::Unbuffered))
            return notOpened(
                QStringLiteral("Cannot read standard input. %1").arg(file->errorString()));
        return {std::make_unique<FileStream>(std::move(file)), {}, {}};
    }
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (info.isDir())
        return notOpened(QStringLiteral("\"%1\" is a folder, not a recording").arg(shown));
#ifdef Q_OS_UNIX
    struct stat status;
    if (info.exists() && stat(QFile::encodeName(path).constData(), &status) == 0 &&
        !isStreamable(status))
        return notOpened(QStringLiteral("\"%1\" is neither a regular file nor a pipe: a device "
                                        "is never read as a recording")
                             .arg(shown));
#endif
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return notOpened(cannotOpenFileMessage(shown, file->errorString()));
    return {std::make_unique<FileStream>(std::move(file)), {}, {}};
}

StreamBuffer::StreamBuffer(std::unique_ptr<ByteStream> stream, qsizetype capacity)
    : m_stream(std::move(stream)), m_capacity(capacity)
{
}

qsizetype StreamBuffer::fill(qsizetype count)
{
    count = std::min(count, m_capacity);
    if (available() >= count || m_ended)
        return available();
    const qsizetype kept = available();
    if (m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(kept));
        m_start = 0;
        m_end = kept;
    }
    if (m_buffer.size() < count || m_buffer.isEmpty()) {
        // A file's own size, a line's room, or as much as a stream may bring at once.
        const qint64 hint = m_stream->sizeHint();
        qsizetype size = hint >= 0 ? qsizetype(std::min<qint64>(hint + 1, m_capacity)) : m_capacity;
        size = std::max({size, count, std::min<qsizetype>(2 * m_buffer.size(), m_capacity),
                         std::min<qsizetype>(kMinimumBytes, m_capacity)});
        m_buffer.resize(size);
    }
    while (available() < count) {
        qint64 room = std::min<qint64>(m_buffer.size() - m_end, kMostReadBytes);
        if (m_endPosition >= 0)
            room = std::min(room, m_endPosition - m_position - available());
        const qint64 read = room > 0 ? m_stream->read(m_buffer.data() + m_end, room) : 0;
        if (read == 0) {
            m_ended = true;
            break;
        }
        m_end += read;
    }
    return available();
}

void StreamBuffer::endAt(qint64 position)
{
    Q_ASSERT(position >= m_position);
    m_endPosition = position;
    m_end = std::min<qsizetype>(m_end, m_start + qsizetype(position - m_position));
    m_ended = m_ended || available() == position - m_position;
}

qint64 StreamBuffer::read(char* data, qint64 size)
{
    if (available() > 0) {
        const qsizetype taken = qsizetype(std::min<qint64>(size, available()));
        std::memcpy(data, this->data(), size_t(taken));
        consume(taken);
        return taken;
    }
    if (m_ended)
        return 0;
    const qint64 read = m_stream->read(data, size);
    m_position += read;
    if (read == 0)
        m_ended = true;
    return read;
}

bool isGzip(const char* data, qsizetype size)
{
    return size >= 2 && quint8(data[0]) == 0x1F && quint8(data[1]) == 0x8B;
}

std::unique_ptr<ByteStream> gunzipStream(std::unique_ptr<ByteStream> stream, const QString& name)
{
    return std::make_unique<GzipStream>(std::move(stream), name);
}

} // namespace quillner
