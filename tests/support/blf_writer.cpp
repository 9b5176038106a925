#include "blf_writer.h"

#include <QBuffer>
#include <QtEndian>

#include <zlib.h>

namespace quillner::testing {

namespace {

void put16(QByteArray& bytes, quint16 value)
{
    bytes.append(char(value & 0xFF)).append(char(value >> 8));
}

void put32(QByteArray& bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes.append(char(value >> (8 * i) & 0xFF));
}

void put64(QByteArray& bytes, quint64 value)
{
    put32(bytes, quint32(value));
    put32(bytes, quint32(value >> 32));
}

quint32 idWord(quint32 id, bool extended)
{
    return extended ? id | 0x80000000u : id;
}

int dlcOf(qsizetype length)
{
    static const int lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    for (int dlc = 0; dlc < 16; ++dlc) {
        if (lengths[dlc] >= length)
            return dlc;
    }
    return 15;
}

} // namespace

QByteArray blfObject(const BlfObject& object)
{
    const quint16 headerSize = object.headerVersion == 2 ? 40 : 32;
    QByteArray bytes("LOBJ");
    put16(bytes, object.headerSize.value_or(headerSize));
    put16(bytes, quint16(object.headerVersion));
    const quint32 size = quint32(headerSize + object.fields.size());
    put32(bytes, object.size.value_or(size));
    put32(bytes, object.type);
    put32(bytes, 2); // time stamps in nanoseconds
    if (object.headerVersion == 2) {
        bytes.append(char(0)).append(char(0));
        put16(bytes, 0);
        put64(bytes, object.timestamp);
        put64(bytes, 0);
    } else {
        put16(bytes, 0);
        put16(bytes, 0);
        put64(bytes, object.timestamp);
    }
    bytes += object.fields;
    bytes += QByteArray(size % 4, '\0');
    return bytes;
}

QByteArray blfCanMessage(quint32 id, bool extended, const QByteArray& data, bool remote,
                         int headerVersion, quint32 type, quint64 timestamp)
{
    QByteArray fields;
    put16(fields, 1); // channel
    fields.append(char(remote ? 0x80 : 0));
    fields.append(char(data.size()));
    put32(fields, idWord(id, extended));
    fields += data.left(8).leftJustified(8, '\0');
    if (type == 86)
        fields += QByteArray(8, '\0'); // frame length, bit count, reserved
    return blfObject({type, headerVersion, fields, timestamp, {}, {}});
}

QByteArray blfCanFdMessage(quint32 id, bool extended, const QByteArray& data, bool edl, bool remote,
                           int headerVersion)
{
    QByteArray fields;
    put16(fields, 1);
    fields.append(char(remote ? 0x80 : 0));
    fields.append(char(dlcOf(data.size())));
    put32(fields, idWord(id, extended));
    put32(fields, 0);                 // frame length
    fields.append(char(0));           // bit count
    fields.append(char(edl ? 1 : 0)); // FD flags
    fields.append(char(data.size()));
    fields += QByteArray(5, '\0');
    fields += data.leftJustified(64, '\0');
    return blfObject({100, headerVersion, fields, 0, {}, {}});
}

QByteArray blfCanFdMessage64(quint32 id, bool extended, const QByteArray& data, bool edl,
                             bool remote, int headerVersion)
{
    QByteArray fields;
    fields.append(char(1)); // channel
    fields.append(char(dlcOf(data.size())));
    fields.append(char(data.size()));
    fields.append(char(0)); // tx count
    put32(fields, idWord(id, extended));
    put32(fields, 0); // frame length
    put32(fields, (edl ? 0x1000u : 0u) | (remote ? 0x0010u : 0u));
    for (int i = 0; i < 4; ++i)
        put32(fields, 0); // bit rates, time offsets
    put16(fields, 0);     // bit count
    fields.append(char(0)).append(char(0));
    put32(fields, 0); // crc
    fields += data;
    return blfObject({101, headerVersion, fields, 0, {}, {}});
}

QByteArray blfErrorFrame(int headerVersion)
{
    return blfObject({73, headerVersion, QByteArray(32, '\0'), 0, {}, {}});
}

QByteArray blfFileHeader()
{
    QByteArray bytes("LOGG");
    put32(bytes, 144);
    bytes += QByteArray(136, '\0');
    return bytes;
}

QByteArray blfContainer(const QByteArray& objects, bool compressed)
{
    QByteArray data = objects;
    if (compressed) {
        uLongf length = compressBound(uLong(objects.size()));
        data.resize(qsizetype(length));
        compress2(reinterpret_cast<Bytef*>(data.data()), &length,
                  reinterpret_cast<const Bytef*>(objects.constData()), uLong(objects.size()), 6);
        data.resize(qsizetype(length));
    }
    QByteArray bytes("LOBJ");
    put16(bytes, 16);
    put16(bytes, 1);
    const quint32 size = quint32(32 + data.size());
    put32(bytes, size);
    put32(bytes, 10);
    put16(bytes, compressed ? 2 : 0);
    bytes += QByteArray(6, '\0');
    put32(bytes, quint32(objects.size()));
    bytes += QByteArray(4, '\0');
    bytes += data;
    bytes += QByteArray(size % 4, '\0');
    return bytes;
}

QByteArray blfRepeatingContainer(const QByteArray& objects, int repeats, quint32 declaredSize)
{
    z_stream zip{};
    deflateInit(&zip, 1);
    QByteArray data;
    QByteArray out(64 << 10, '\0');
    for (int i = 0; i < repeats; ++i) {
        zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(objects.constData()));
        zip.avail_in = uInt(objects.size());
        const int flush = i + 1 == repeats ? Z_FINISH : Z_NO_FLUSH;
        do {
            zip.next_out = reinterpret_cast<Bytef*>(out.data());
            zip.avail_out = uInt(out.size());
            deflate(&zip, flush);
            data += out.first(out.size() - qsizetype(zip.avail_out));
        } while (zip.avail_out == 0 || zip.avail_in > 0);
    }
    deflateEnd(&zip);
    QByteArray bytes("LOBJ");
    put16(bytes, 16);
    put16(bytes, 1);
    const quint32 size = quint32(32 + data.size());
    put32(bytes, size);
    put32(bytes, 10);
    put16(bytes, 2);
    bytes += QByteArray(6, '\0');
    put32(bytes, declaredSize);
    bytes += QByteArray(4, '\0');
    bytes += data;
    bytes += QByteArray(size % 4, '\0');
    return bytes;
}

BlfWriter::BlfWriter(QIODevice& device, qsizetype containerBytes, bool compressed)
    : m_device(device), m_containerBytes(containerBytes), m_compressed(compressed)
{
    m_device.write(blfFileHeader());
}

void BlfWriter::add(const QByteArray& objectBytes)
{
    m_pending += objectBytes;
    while (m_pending.size() >= m_containerBytes)
        writeContainer(m_containerBytes);
}

void BlfWriter::finish()
{
    if (!m_pending.isEmpty())
        writeContainer(m_pending.size());
}

void BlfWriter::writeContainer(qsizetype bytes)
{
    m_device.write(blfContainer(m_pending.first(bytes), m_compressed));
    m_pending.remove(0, bytes);
}

QByteArray blfFile(const QByteArray& objects, qsizetype containerBytes, bool compressed)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    BlfWriter writer(buffer, containerBytes, compressed);
    writer.add(objects);
    writer.finish();
    return bytes;
}

} // namespace quillner::testing
