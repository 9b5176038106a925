#include "core/logs/blf_objects.h"

#include "core/device/bank_layout.h"

#include <QString>

#include <algorithm>
#include <cstring>

namespace quillner::blf {

namespace {

constexpr quint32 kCanMessage = 1;
constexpr quint32 kCanErrorExt = 73;
constexpr quint32 kCanMessage2 = 86;
constexpr quint32 kCanFdMessage = 100;
constexpr quint32 kCanFdMessage64 = 101;

constexpr quint32 kExtendedFlag = 0x80000000u;
constexpr quint8 kRemoteFlag = 0x80;        // classic and CAN FD message flags
constexpr quint8 kEdlFlag = 0x01;           // CAN FD message: an FD frame
constexpr quint32 kFd64RemoteFlag = 0x0010; // 64-byte CAN FD message flags
constexpr quint32 kFd64EdlFlag = 0x1000;
constexpr quint8 kMaxLengthCode = 15;

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

} // namespace

void BlfObjectStream::feed(const char* data, qsizetype size)
{
    while (size > 0 && !m_ended) {
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
            if (m_ended)
                return;
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

void BlfObjectStream::finish()
{
    if (m_headLength > 0 || m_skip > 0)
        fail(QStringLiteral("the file ends inside this object"));
}

void BlfObjectStream::fail(const QString& text)
{
    m_ended = true;
    m_problems = {{m_reading.name,
                   QStringLiteral("object %1 at byte %2 of the log container at byte %3")
                       .arg(m_objectNumber)
                       .arg(m_objectOffset)
                       .arg(m_objectContainer),
                   text}};
}

ObjectHeader BlfObjectStream::baseHeader(const char* p)
{
    if (Q_UNLIKELY(u32(p) != kObjectSignature)) {
        fail(QStringLiteral("no object begins here"));
        return {};
    }
    ObjectHeader header{u16(p + 4), u16(p + 6), u32(p + 8), u32(p + 12)};
    // Only an object smaller than the base header leaves no way to the next one.
    if (Q_UNLIKELY(header.size < kBaseHeaderBytes))
        fail(QStringLiteral("its size (%1 bytes) is smaller than an object header")
                 .arg(header.size));
    return header;
}

bool BlfObjectStream::isRead(const ObjectHeader& header)
{
    return fieldBytes(header.type) >= 0 && fullHeaderBytes(header.version) > 0 &&
           header.headerBytes <= kMaxObjectHeaderBytes;
}

qsizetype BlfObjectStream::headNeed(const char* p, ObjectHeader& header)
{
    header = baseHeader(p);
    if (m_ended || !isRead(header))
        return kBaseHeaderBytes;
    return qsizetype(
        std::min<qint64>(header.size, fullHeaderBytes(header.version) + fieldBytes(header.type)));
}

qsizetype BlfObjectStream::takeIntoHead(const char* data, qsizetype size)
{
    ObjectHeader header;
    qsizetype need =
        m_headLength >= kBaseHeaderBytes ? headNeed(m_head.data(), header) : kBaseHeaderBytes;
    if (m_ended)
        return 0;
    qsizetype taken = std::min(need - m_headLength, size);
    std::memcpy(m_head.data() + m_headLength, data, size_t(taken));
    m_headLength += taken;
    if (m_headLength == kBaseHeaderBytes) {
        // The base header tells how much more of the object is read.
        need = headNeed(m_head.data(), header);
        if (m_ended)
            return taken;
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

void BlfObjectStream::countUnreadable(qint64 number, const QString& reason)
{
    if (m_reading.countUnreadable())
        m_reading.unreadable.append(
            {m_reading.name, QStringLiteral("object %1").arg(number), reason});
}

void BlfObjectStream::takeObject(const char* p, qsizetype length, const ObjectHeader& header)
{
    m_skip = qint64(header.size) - length;
    const qint64 number = ++m_reading.lines;
    if (fieldBytes(header.type) < 0)
        return; // no frame: passed over by its size
    // A frame object is read by its header version, whatever its header size field says (a
    // writer put 16 there in objects every reader takes); one that cannot be read is counted.
    const qsizetype headerBytes = fullHeaderBytes(header.version);
    if (headerBytes == 0)
        return countUnreadable(
            number, QStringLiteral("a CAN object of header version %1, which is not known")
                        .arg(header.version));
    if (header.headerBytes > kMaxObjectHeaderBytes)
        return countUnreadable(number,
                               QStringLiteral("a CAN object with a header of %1 bytes, more "
                                              "than %2")
                                   .arg(header.headerBytes)
                                   .arg(kMaxObjectHeaderBytes));
    if (header.type == kCanErrorExt) {
        ++m_reading.errorFrames;
        return;
    }
    if (length - headerBytes < requiredFieldBytes(header.type))
        return countUnreadable(
            number,
            QStringLiteral("a CAN message object of %1 bytes is too small").arg(header.size));
    const quint32 flags = u32(p + 16);
    const quint64 stamp = u64(p + 24);
    const char* fields = p + headerBytes;
    const qsizetype fieldsHeld = length - headerBytes;
    LogFrame frame;
    frame.lineNumber = number;
    // Time stamps count 10 µs (flag 1) or nanoseconds (flag 2).
    frame.time =
        flags == 1 ? FrameTime::fromTenMicroseconds(stamp) : FrameTime::fromNanoseconds(stamp);
    quint32 id = 0;
    quint8 lengthCode = 0;
    if (header.type == kCanFdMessage64) {
        frame.channel = quint8(fields[0]);
        lengthCode = quint8(fields[1]);
        const int valid = std::min<int>(quint8(fields[2]), int(fieldsHeld) - 40);
        id = u32(fields + 4);
        const quint32 fdFlags = u32(fields + 12);
        frame.fd = (fdFlags & kFd64EdlFlag) != 0;
        frame.remote = !frame.fd && (fdFlags & kFd64RemoteFlag) != 0;
        frame.data = QByteArrayView(fields + 40, std::max(valid, 0));
    } else {
        frame.channel = u16(fields);
        const quint8 messageFlags = quint8(fields[2]);
        lengthCode = quint8(fields[3]);
        id = u32(fields + 4);
        if (header.type == kCanFdMessage) {
            frame.fd = (quint8(fields[13]) & kEdlFlag) != 0;
            const int valid = std::min<int>(quint8(fields[14]), int(fieldsHeld) - 20);
            frame.data = QByteArrayView(fields + 20, std::max(valid, 0));
        } else {
            frame.data = QByteArrayView(fields + 8, std::min<int>(lengthCode, 8));
        }
        frame.remote = !frame.fd && (messageFlags & kRemoteFlag) != 0;
    }
    if (frame.remote)
        frame.data = {};
    frame.extended = (id & kExtendedFlag) != 0;
    frame.id = id & (frame.extended ? kExtendedIdMax : kStandardIdMax);
    if (!frame.extended && (id & ~kExtendedFlag) > kStandardIdMax)
        return countUnreadable(number,
                               QStringLiteral("identifier 0x%1 is no 11-bit one").arg(id, 0, 16));
    // The length code is four bits on the bus; more was never received.
    if (lengthCode > kMaxLengthCode)
        return countUnreadable(
            number, QStringLiteral("length code %1 is more than a frame's 15").arg(lengthCode));
    ++m_reading.frames;
    if (m_visitor.frame)
        m_visitor.frame(frame);
    m_ended = m_visitor.stopped();
}

} // namespace quillner::blf
