#include "core/logs/blf_reader.h"

#include "core/app/error.h"

#include <QtEndian>

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <cstring>

namespace quillner {

namespace {

constexpr quint32 kCanMessage = 1;
constexpr quint32 kLogContainer = 10;
constexpr quint32 kCanErrorExt = 73;
constexpr quint32 kCanMessage2 = 86;
constexpr quint32 kCanFdMessage = 100;
constexpr quint32 kCanFdMessage64 = 101;

constexpr qsizetype kBaseHeaderBytes = 16; // "LOBJ", header size, version, object size, type
constexpr qsizetype kContainerFields = 16; // compression method, reserved, unpacked size
constexpr qsizetype kMaxFileHeaderBytes = 1 << 20;
constexpr qsizetype kMaxObjectHeaderBytes = 64;
// The fields read of each frame object after its header: the classic message's 16 bytes, the
// CAN FD message's 20 and 64 data bytes, the 64-byte CAN FD message's 40 and 64 data bytes.
constexpr qsizetype kMaxFieldBytes = 104;
constexpr qsizetype kUnpackedPiece = 128 << 10;
// Writers fill containers with 128 KiB; a container that claims more than this is unpacked a
// piece at a time.
constexpr qint64 kMaxWholeContainer = 16 << 20;
// Zero bytes that may stand between objects: the padding writers add.
constexpr int kMaxPadding = 7;

constexpr quint32 kExtendedFlag = 0x80000000u;
constexpr quint8 kRemoteFlag = 0x80;        // classic and CAN FD message flags
constexpr quint8 kEdlFlag = 0x01;           // CAN FD message: an FD frame
constexpr quint32 kFd64RemoteFlag = 0x0010; // 64-byte CAN FD message flags
constexpr quint32 kFd64EdlFlag = 0x1000;

// Little-endian fields, read as the machine loads them.
quint16 u16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 u32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

quint64 u64(const char* p)
{
    return qFromLittleEndian<quint64>(p);
}

// "LOBJ" as a little-endian word.
constexpr quint32 kObjectSignature = 0x4A424F4Cu;

QString byteText(qint64 offset)
{
    return QStringLiteral("byte %1").arg(offset);
}

// The object header's size for its version: the base, then flags, client or status, object
// version and time stamp (version 2 adds the original time stamp).
qsizetype fullHeaderBytes(quint16 version)
{
    return version == 1 ? 32 : version == 2 ? 40 : 0;
}

// The fields of a frame object that are read, after its header.
qsizetype fieldBytes(quint32 type)
{
    switch (type) {
    case kCanMessage:
    case kCanMessage2:
        return 16;
    case kCanFdMessage:
        return 20 + 64;
    case kCanFdMessage64:
        return 40 + 64;
    case kCanErrorExt:
        return 0;
    default:
        return -1;
    }
}

// The fields a frame object must hold to be read: the CAN FD messages' data may be short.
qsizetype requiredFieldBytes(quint32 type)
{
    switch (type) {
    case kCanFdMessage:
        return 20;
    case kCanFdMessage64:
        return 40;
    default:
        return std::max<qsizetype>(fieldBytes(type), 0);
    }
}

struct ObjectHeader
{
    quint16 headerBytes = 0;
    quint16 version = 0;
    quint32 size = 0;
    quint32 type = 0;
};

// The stream of objects the containers hold, fed a piece at a time. An object that lies whole in
// a piece is read where it lies; only the start of one that goes on into the next piece is
// copied.
class ObjectStream
{
public:
    ObjectStream(const LogVisitor& visitor, LogReading& reading)
        : m_visitor(visitor), m_reading(reading)
    {
    }

    // The next piece's data are of the log container at that byte of the file.
    void startContainer(qint64 containerByte)
    {
        m_containerByte = containerByte;
        m_offset = 0;
    }

    void feed(const char* data, qsizetype size)
    {
        while (size > 0) {
            qsizetype taken = 0;
            if (m_skip > 0) {
                taken = qsizetype(std::min<qint64>(m_skip, size));
                m_skip -= taken;
            } else if (m_headLength > 0) {
                taken = takeIntoHead(data, size);
            } else if (*data == 0 && m_zeroRun < kMaxPadding) {
                ++m_zeroRun;
                taken = 1;
            } else {
                m_zeroRun = 0;
                m_objectNumber = m_reading.lines + 1;
                m_objectContainer = m_containerByte;
                m_objectOffset = m_offset;
                ObjectHeader header;
                const qsizetype need =
                    size >= kBaseHeaderBytes ? headNeed(data, header) : kBaseHeaderBytes;
                if (size >= need) {
                    takeObject(data, need, header);
                    taken = need;
                } else {
                    taken = takeIntoHead(data, size);
                }
            }
            data += taken;
            size -= taken;
            m_offset += taken;
        }
    }

    // The end of the data: nothing may be left unfinished.
    void finish()
    {
        if (m_headLength > 0 || m_skip > 0)
            fail(QStringLiteral("the file ends inside this object"));
    }

private:
    [[noreturn]] Q_DECL_COLD_FUNCTION void fail(const QString& text) const
    {
        throw Error(QStringLiteral("%1, object %2 at byte %3 of the log container at byte %4: %5")
                        .arg(m_reading.name)
                        .arg(m_objectNumber)
                        .arg(m_objectOffset)
                        .arg(m_objectContainer)
                        .arg(text));
    }

    ObjectHeader baseHeader(const char* p) const
    {
        if (Q_UNLIKELY(u32(p) != kObjectSignature))
            fail(QStringLiteral("no object begins here"));
        ObjectHeader header{u16(p + 4), u16(p + 6), u32(p + 8), u32(p + 12)};
        if (Q_UNLIKELY(header.headerBytes < kBaseHeaderBytes || header.size < header.headerBytes))
            fail(QStringLiteral("its size (%1 bytes) or header size (%2 bytes) is smaller than "
                                "an object header")
                     .arg(header.size)
                     .arg(header.headerBytes));
        return header;
    }

    // Whether the object is a frame or error frame read here: a known type behind a known
    // header.
    static bool isRead(const ObjectHeader& header)
    {
        const qsizetype full = fullHeaderBytes(header.version);
        return fieldBytes(header.type) >= 0 && full > 0 && header.headerBytes >= full &&
               header.headerBytes <= kMaxObjectHeaderBytes;
    }

    // The bytes of the object at p that are read: its base header, and for a frame its header
    // and fields as far as the object holds them.
    qsizetype headNeed(const char* p, ObjectHeader& header) const
    {
        header = baseHeader(p);
        if (!isRead(header))
            return kBaseHeaderBytes;
        return qsizetype(
            std::min<qint64>(header.size, header.headerBytes + fieldBytes(header.type)));
    }

    qsizetype takeIntoHead(const char* data, qsizetype size)
    {
        ObjectHeader header;
        qsizetype need =
            m_headLength >= kBaseHeaderBytes ? headNeed(m_head.data(), header) : kBaseHeaderBytes;
        qsizetype taken = std::min(need - m_headLength, size);
        std::memcpy(m_head.data() + m_headLength, data, size_t(taken));
        m_headLength += taken;
        if (m_headLength == kBaseHeaderBytes) {
            // The base header tells how much more of the object is read.
            need = headNeed(m_head.data(), header);
            const qsizetype more = std::min(need - m_headLength, size - taken);
            std::memcpy(m_head.data() + m_headLength, data + taken, size_t(more));
            m_headLength += more;
            taken += more;
        }
        if (m_headLength == need) {
            takeObject(m_head.data(), need, header);
            m_headLength = 0;
        }
        return taken;
    }

    // The object whose first `length` bytes lie at p; the rest of it is passed over.
    void takeObject(const char* p, qsizetype length, const ObjectHeader& header)
    {
        m_skip = qint64(header.size) - length;
        const qint64 number = ++m_reading.lines;
        if (!isRead(header))
            return;
        if (header.type == kCanErrorExt) {
            ++m_reading.errorFrames;
            return;
        }
        if (length - header.headerBytes < requiredFieldBytes(header.type)) {
            // Too small for its fields: this object is lost, the next one is still found.
            ++m_reading.unreadableCount;
            if (m_reading.unreadable.size() < 20)
                m_reading.unreadable.append(
                    {m_reading.name, QStringLiteral("object %1").arg(number),
                     QStringLiteral("a CAN message object of %1 bytes is too small")
                         .arg(header.size)});
            return;
        }
        const quint32 flags = u32(p + 16);
        const quint64 stamp = u64(p + 24);
        const char* fields = p + header.headerBytes;
        const qsizetype fieldsHeld = length - header.headerBytes;
        LogFrame frame;
        frame.lineNumber = number;
        // Time stamps count 10 µs (flag 1) or nanoseconds (flag 2).
        frame.timeNs = qint64(flags == 1 ? stamp * 10000 : stamp);
        quint32 id = 0;
        if (header.type == kCanFdMessage64) {
            frame.channel = quint8(fields[0]);
            const int valid = std::min<int>(quint8(fields[2]), int(fieldsHeld) - 40);
            id = u32(fields + 4);
            const quint32 fdFlags = u32(fields + 12);
            frame.fd = (fdFlags & kFd64EdlFlag) != 0;
            frame.remote = !frame.fd && (fdFlags & kFd64RemoteFlag) != 0;
            frame.data = QByteArrayView(fields + 40, std::max(valid, 0));
        } else {
            frame.channel = u16(fields);
            const quint8 messageFlags = quint8(fields[2]);
            id = u32(fields + 4);
            if (header.type == kCanFdMessage) {
                frame.fd = (quint8(fields[13]) & kEdlFlag) != 0;
                const int valid = std::min<int>(quint8(fields[14]), int(fieldsHeld) - 20);
                frame.data = QByteArrayView(fields + 20, std::max(valid, 0));
            } else {
                frame.data = QByteArrayView(fields + 8, std::min<int>(quint8(fields[3]), 8));
            }
            frame.remote = !frame.fd && (messageFlags & kRemoteFlag) != 0;
        }
        if (frame.remote)
            frame.data = {};
        frame.extended = (id & kExtendedFlag) != 0;
        frame.id = id & (frame.extended ? 0x1FFFFFFFu : 0x7FFu);
        if (!frame.extended && (id & ~kExtendedFlag) > 0x7FF) {
            ++m_reading.unreadableCount;
            if (m_reading.unreadable.size() < 20)
                m_reading.unreadable.append(
                    {m_reading.name, QStringLiteral("object %1").arg(number),
                     QStringLiteral("identifier 0x%1 is no 11-bit one").arg(id, 0, 16)});
            return;
        }
        ++m_reading.frames;
        if (m_visitor.frame)
            m_visitor.frame(frame);
    }

    const LogVisitor& m_visitor;
    LogReading& m_reading;
    std::array<char, kMaxObjectHeaderBytes + kMaxFieldBytes> m_head{};
    qsizetype m_headLength = 0;
    qint64 m_skip = 0; // what remains of the current object
    int m_zeroRun = 0;
    qint64 m_containerByte = 0;
    qint64 m_offset = 0; // in the container's data
    qint64 m_objectNumber = 0;
    qint64 m_objectContainer = 0;
    qint64 m_objectOffset = 0;
};

class BlfFile
{
public:
    BlfFile(StreamBuffer& input, const LogVisitor& visitor, LogReading& reading)
        : m_input(input), m_reading(reading), m_objects(visitor, reading)
    {
        std::memset(&m_zip, 0, sizeof m_zip);
        if (inflateInit(&m_zip) != Z_OK)
            throw Error(QStringLiteral("%1: cannot start zlib").arg(reading.name));
    }
    ~BlfFile()
    {
        inflateEnd(&m_zip);
        if (m_decompressor)
            libdeflate_free_decompressor(m_decompressor);
    }

    void read()
    {
        if (m_input.fill(8) < 8)
            fail(0, QStringLiteral("the file ends inside its header"));
        const quint32 headerBytes = u32(m_input.data() + 4);
        if (headerBytes < 8 || headerBytes > kMaxFileHeaderBytes)
            fail(0, QStringLiteral("a file header of %1 bytes").arg(headerBytes));
        pass(headerBytes, 0);
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
                fail(at, QStringLiteral("the file ends inside an object header"));
            const char* p = m_input.data();
            if (std::memcmp(p, "LOBJ", 4) != 0)
                fail(at, QStringLiteral("no object begins here"));
            const ObjectHeader header{u16(p + 4), u16(p + 6), u32(p + 8), u32(p + 12)};
            if (header.headerBytes < kBaseHeaderBytes || header.size < header.headerBytes)
                fail(at, QStringLiteral("its size (%1 bytes) or header size (%2 bytes) is "
                                        "smaller than an object header")
                             .arg(header.size)
                             .arg(header.headerBytes));
            if (header.type != kLogContainer) {
                // Objects outside containers are no frames of any writer known.
                pass(header.size, at);
                continue;
            }
            if (header.size < qint64(header.headerBytes) + kContainerFields)
                fail(at, QStringLiteral("a log container of %1 bytes is too small for its "
                                        "fields")
                             .arg(header.size));
            if (m_input.fill(header.headerBytes + kContainerFields) <
                header.headerBytes + kContainerFields)
                fail(at, QStringLiteral("the file ends inside the log container's header"));
            p = m_input.data();
            const char* fields = p + header.headerBytes;
            const quint16 method = u16(fields);
            const quint32 unpackedSize = u32(fields + 8);
            const qint64 data = qint64(header.size) - header.headerBytes - kContainerFields;
            m_input.consume(header.headerBytes + kContainerFields);
            m_objects.startContainer(at);
            if (method == 0)
                passStored(data, at);
            else if (method == 2)
                inflateContainer(data, unpackedSize, at);
            else
                fail(at, QStringLiteral("compression method %1 is not known").arg(method));
        }
        m_objects.finish();
    }

private:
    [[noreturn]] void fail(qint64 at, const QString& text) const
    {
        throw Error(QStringLiteral("%1, %2: %3").arg(m_reading.name, byteText(at), text));
    }

    // Passes over count bytes of the object at byte `at`.
    void pass(qint64 count, qint64 at)
    {
        while (count > 0) {
            const qsizetype available =
                m_input.fill(qsizetype(std::min<qint64>(count, m_input.capacity())));
            if (available == 0)
                fail(at, QStringLiteral("the object is cut short: the file ends %1 bytes before "
                                        "its end")
                             .arg(count));
            const qsizetype taken = qsizetype(std::min<qint64>(count, available));
            m_input.consume(taken);
            count -= taken;
        }
    }

    void passStored(qint64 count, qint64 at)
    {
        while (count > 0) {
            const qsizetype available =
                m_input.fill(qsizetype(std::min<qint64>(count, m_input.capacity())));
            if (available == 0)
                fail(at, QStringLiteral("the log container is cut short: the file ends %1 "
                                        "bytes before its end")
                             .arg(count));
            const qsizetype taken = qsizetype(std::min<qint64>(count, available));
            m_objects.feed(m_input.data(), taken);
            m_input.consume(taken);
            count -= taken;
        }
    }

    // Unpacks the container's zlib data: whole, when they and what they unpack to fit the
    // memory kept for it (libdeflate, twice as fast as zlib), else a piece at a time.
    void inflateContainer(qint64 count, qint64 unpackedSize, qint64 at)
    {
        if (count <= m_input.capacity() && unpackedSize > 0 && unpackedSize <= kMaxWholeContainer &&
            inflateWhole(count, unpackedSize, at))
            return;
        inflatePieces(count, at);
    }

    bool inflateWhole(qint64 count, qint64 unpackedSize, qint64 at)
    {
        if (m_input.fill(qsizetype(count)) < count)
            fail(at, QStringLiteral("the log container is cut short: the file ends %1 bytes "
                                    "before its end")
                         .arg(count - m_input.available()));
        if (!m_decompressor)
            m_decompressor = libdeflate_alloc_decompressor();
        if (m_whole.size() < unpackedSize)
            m_whole.resize(qsizetype(unpackedSize));
        size_t unpacked = 0;
        const libdeflate_result result =
            libdeflate_zlib_decompress(m_decompressor, m_input.data(), size_t(count),
                                       m_whole.data(), size_t(unpackedSize), &unpacked);
        if (result == LIBDEFLATE_BAD_DATA)
            fail(at, QStringLiteral("the compressed data of the log container are damaged"));
        if (result != LIBDEFLATE_SUCCESS)
            return false; // its unpacked size is not the one it declares: read it in pieces
        m_input.consume(qsizetype(count));
        m_objects.feed(m_whole.constData(), qsizetype(unpacked));
        return true;
    }

    void inflatePieces(qint64 count, qint64 at)
    {
        if (m_unpacked.isEmpty())
            m_unpacked.resize(kUnpackedPiece);
        inflateReset(&m_zip);
        for (;;) {
            const qsizetype available =
                m_input.fill(qsizetype(std::min<qint64>(count, m_input.capacity())));
            const qsizetype offered = qsizetype(std::min<qint64>(count, available));
            if (offered == 0 && count > 0)
                fail(at, QStringLiteral("the log container is cut short: the file ends %1 "
                                        "bytes before its end")
                             .arg(count));
            m_zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m_input.data()));
            m_zip.avail_in = uInt(offered);
            m_zip.next_out = reinterpret_cast<Bytef*>(m_unpacked.data());
            m_zip.avail_out = uInt(m_unpacked.size());
            const int status = inflate(&m_zip, Z_NO_FLUSH);
            const qsizetype used = offered - qsizetype(m_zip.avail_in);
            m_input.consume(used);
            count -= used;
            m_objects.feed(m_unpacked.constData(), m_unpacked.size() - qsizetype(m_zip.avail_out));
            if (status == Z_STREAM_END)
                break;
            if (status == Z_BUF_ERROR && count == 0)
                fail(at, QStringLiteral("the compressed data of the log container end early"));
            if (status != Z_OK && status != Z_BUF_ERROR)
                fail(at, QStringLiteral("the compressed data of the log container are damaged "
                                        "(%1)")
                             .arg(QString::fromLatin1(m_zip.msg ? m_zip.msg : "zlib")));
        }
        // What follows the compressed data inside the container is not looked at.
        pass(count, at);
    }

    StreamBuffer& m_input;
    LogReading& m_reading;
    ObjectStream m_objects;
    z_stream m_zip;
    QByteArray m_unpacked;
    libdeflate_decompressor* m_decompressor = nullptr;
    QByteArray m_whole;
};

} // namespace

bool isBlf(const char* data, qsizetype size)
{
    return size >= 4 && std::memcmp(data, "LOGG", 4) == 0;
}

void readBlf(StreamBuffer& input, const LogVisitor& visitor, LogReading& reading)
{
    BlfFile(input, visitor, reading).read();
}

} // namespace quillner
