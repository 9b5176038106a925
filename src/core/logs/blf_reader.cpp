#include "core/logs/blf_reader.h"

#include "core/logs/blf_objects.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>

namespace quillner {

namespace {

using namespace blf;

constexpr quint32 kLogContainer = 10;
constexpr qsizetype kContainerFields = 16; // compression method, reserved, unpacked size
constexpr qsizetype kMaxFileHeaderBytes = 1 << 20;
constexpr qsizetype kUnpackedPiece = 128 << 10;
// Writers fill containers with 128 KiB; a container that declares more than this is unpacked a
// piece at a time.
constexpr qint64 kMaxWholeContainer = 16 << 20;

QString byteText(qint64 offset)
{
    return QStringLiteral("byte %1").arg(offset);
}

class BlfFile
{
public:
    BlfFile(StreamBuffer& input, const LogVisitor& visitor, LogReading& reading)
        : m_input(input), m_reading(reading), m_objects(visitor, reading)
    {
        std::memset(&m_zip, 0, sizeof m_zip);
        if (inflateInit(&m_zip) != Z_OK)
            m_problems = {{reading.name, {}, QStringLiteral("cannot start zlib")}};
    }
    ~BlfFile()
    {
        inflateEnd(&m_zip);
        if (m_decompressor)
            libdeflate_free_decompressor(m_decompressor);
    }

    Result<Done> read()
    {
        if (m_problems.isEmpty())
            readObjects();
        // The stream that could not be read first: what the reading made of its end follows.
        if (!m_input.problems().isEmpty())
            return Result<Done>::failure(m_input.problems());
        if (!m_problems.isEmpty())
            return Result<Done>::failure(m_problems);
        return Result<Done>::failure(m_objects.problems()); // whole when it holds none
    }

private:
    // Whether the reading ends before the file's end: an object is damaged, or the visitor
    // stopped it.
    bool ended() const { return !m_problems.isEmpty() || m_objects.ended(); }

    void readObjects()
    {
        if (m_input.fill(8) < 8)
            return cutShort();
        const quint32 headerBytes = u32(m_input.data() + 4);
        if (headerBytes < 8 || headerBytes > kMaxFileHeaderBytes)
            return fail(0, QStringLiteral("a file header of %1 bytes").arg(headerBytes));
        if (!pass(headerBytes))
            return cutShort();
        for (;;) {
            int zeros = 0;
            while (zeros < kMaxPadding && m_input.fill(1) > 0 && *m_input.data() == 0) {
                m_input.consume(1);
                ++zeros;
            }
            const qint64 at = m_input.position();
            const qsizetype available = m_input.fill(kBaseHeaderBytes + kContainerFields);
            if (available == 0)
                break;
            if (available < kBaseHeaderBytes)
                return cutShort();
            const char* p = m_input.data();
            if (std::memcmp(p, "LOBJ", 4) != 0)
                return fail(at, QStringLiteral("no object begins here"));
            const ObjectHeader header{u16(p + 4), u16(p + 6), u32(p + 8), u32(p + 12)};
            if (header.size < kBaseHeaderBytes)
                return fail(at,
                            QStringLiteral("its size (%1 bytes) is smaller than an object header")
                                .arg(header.size));
            if (header.type != kLogContainer) {
                // Objects outside containers are no frames of any writer known.
                if (!pass(header.size))
                    return cutShort();
                continue;
            }
            // The container's fields follow its base header, whatever its header size says, as
            // every reader of the format takes them.
            constexpr qsizetype kContainerHead = kBaseHeaderBytes + kContainerFields;
            if (header.size < kContainerHead)
                return fail(at, QStringLiteral("a log container of %1 bytes is too small for its "
                                               "fields")
                                    .arg(header.size));
            if (m_input.fill(kContainerHead) < kContainerHead)
                return cutShort();
            const char* fields = m_input.data() + kBaseHeaderBytes;
            const quint16 method = u16(fields);
            const quint32 unpackedSize = u32(fields + 8);
            const qint64 data = qint64(header.size) - kContainerHead;
            m_input.consume(kContainerHead);
            ++m_containers;
            m_objects.startContainer(at);
            bool whole = true;
            if (method == 0)
                whole = passStored(data);
            else if (method == 2)
                whole = inflateContainer(data, unpackedSize, at);
            else
                return fail(at, QStringLiteral("compression method %1 is not known").arg(method));
            if (ended())
                return;
            if (!whole)
                return cutShort();
        }
        m_objects.finish();
    }

    // Ends the reading at the object that begins at byte at.
    void fail(qint64 at, const QString& text)
    {
        m_problems = {{m_reading.name, byteText(at), text}};
    }

    // The file ended inside an object: the frames before it are read, the object is not.
    void cutShort()
    {
        m_input.fill(m_input.capacity());
        m_reading.cutShortAt = m_input.position() + m_input.available();
    }

    // Passes over count bytes; false when the file ends before.
    bool pass(qint64 count)
    {
        while (count > 0) {
            const qsizetype available =
                m_input.fill(qsizetype(std::min<qint64>(count, m_input.capacity())));
            if (available == 0)
                return false;
            const qsizetype taken = qsizetype(std::min<qint64>(count, available));
            m_input.consume(taken);
            count -= taken;
        }
        return true;
    }

    // A stored container's objects; false when the file ends before its end.
    bool passStored(qint64 count)
    {
        while (count > 0) {
            const qsizetype available =
                m_input.fill(qsizetype(std::min<qint64>(count, m_input.capacity())));
            if (available == 0)
                return false;
            const qsizetype taken = qsizetype(std::min<qint64>(count, available));
            m_objects.feed(m_input.data(), taken);
            if (m_objects.ended())
                return true;
            m_input.consume(taken);
            count -= taken;
        }
        return true;
    }

    // Unpacks the container's zlib data to the size it declares and no further: more is an
    // error naming the container, told before one byte past that size is made, so a small file
    // cannot make gigabytes. Whole when they and what they unpack to fit the memory kept for it
    // (libdeflate, twice as fast as zlib), else a piece at a time.
    // False when the file ends inside the container: what its data unpack to up to there is
    // read. True as well when the reading ends inside it.
    bool inflateContainer(qint64 count, qint64 unpackedSize, qint64 at)
    {
        if (count <= m_input.capacity() && unpackedSize <= kMaxWholeContainer &&
            m_input.fill(qsizetype(count)) >= count) {
            inflateWhole(count, unpackedSize, at);
            return true;
        }
        return inflatePieces(count, unpackedSize, at);
    }

    void failUnpackedSize(qint64 unpackedSize, qint64 at)
    {
        fail(at, QStringLiteral("log container %1 unpacks to more than the %2 bytes it declares")
                     .arg(m_containers)
                     .arg(unpackedSize));
    }

    void inflateWhole(qint64 count, qint64 unpackedSize, qint64 at)
    {
        if (!m_decompressor)
            m_decompressor = libdeflate_alloc_decompressor();
        if (m_whole.size() < std::max<qint64>(unpackedSize, 1))
            m_whole.resize(qsizetype(std::max<qint64>(unpackedSize, 1)));
        size_t unpacked = 0;
        const libdeflate_result result =
            libdeflate_zlib_decompress(m_decompressor, m_input.data(), size_t(count),
                                       m_whole.data(), size_t(unpackedSize), &unpacked);
        if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
            return failUnpackedSize(unpackedSize, at);
        if (result != LIBDEFLATE_SUCCESS)
            return fail(at, QStringLiteral("the compressed data of the log container are damaged"));
        m_input.consume(qsizetype(count));
        m_objects.feed(m_whole.constData(), qsizetype(unpacked));
    }

    bool inflatePieces(qint64 count, qint64 unpackedSize, qint64 at)
    {
        if (m_unpacked.isEmpty())
            m_unpacked.resize(kUnpackedPiece);
        inflateReset(&m_zip);
        qint64 room = unpackedSize; // what the container may still unpack to
        for (;;) {
            const qsizetype available =
                m_input.fill(qsizetype(std::min<qint64>(count, m_input.capacity())));
            const qsizetype offered = qsizetype(std::min<qint64>(count, available));
            // The file ends inside the container: what zlib still holds is taken first.
            const bool fileEnded = offered == 0 && count > 0;
            m_zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m_input.data()));
            m_zip.avail_in = uInt(offered);
            // One byte more than the room left tells a container that unpacks to more.
            const qsizetype outputRoom = qsizetype(std::min<qint64>(m_unpacked.size(), room + 1));
            m_zip.next_out = reinterpret_cast<Bytef*>(m_unpacked.data());
            m_zip.avail_out = uInt(outputRoom);
            const int status = inflate(&m_zip, Z_NO_FLUSH);
            const qsizetype used = offered - qsizetype(m_zip.avail_in);
            m_input.consume(used);
            count -= used;
            const qsizetype produced = outputRoom - qsizetype(m_zip.avail_out);
            if (produced > room) {
                failUnpackedSize(unpackedSize, at);
                return true;
            }
            room -= produced;
            m_objects.feed(m_unpacked.constData(), produced);
            if (m_objects.ended())
                return true;
            if (fileEnded && produced == 0)
                return false;
            if (status == Z_STREAM_END)
                break;
            if (status == Z_BUF_ERROR && count == 0) {
                fail(at, QStringLiteral("the compressed data of the log container end early"));
                return true;
            }
            if (status != Z_OK && status != Z_BUF_ERROR) {
                fail(at, QStringLiteral("the compressed data of the log container are damaged "
                                        "(%1)")
                             .arg(QString::fromLatin1(m_zip.msg ? m_zip.msg : "zlib")));
                return true;
            }
        }
        // What follows the compressed data inside the container is not looked at.
        return pass(count);
    }

    StreamBuffer& m_input;
    LogReading& m_reading;
    BlfObjectStream m_objects;
    z_stream m_zip;
    QByteArray m_unpacked;
    libdeflate_decompressor* m_decompressor = nullptr;
    QByteArray m_whole;
    qint64 m_containers = 0; // the log containers met, counted from 1
    Problems m_problems;     // what ended the reading before the file's end
};

} // namespace

bool isBlf(const char* data, qsizetype size)
{
    return size >= 4 && std::memcmp(data, "LOGG", 4) == 0;
}

Result<Done> readBlf(StreamBuffer& input, const LogVisitor& visitor, LogReading& reading)
{
    return BlfFile(input, visitor, reading).read();
}

} // namespace quillner
