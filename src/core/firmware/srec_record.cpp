#include "core/firmware/srec_record.h"

#include <QVarLengthArray>

namespace quillner {

quint8 sRecordChecksum(QByteArrayView bytes)
{
    quint32 sum = 0;
    for (const char byte : bytes)
        sum += quint8(byte);
    return quint8(~sum);
}

SRecordParse parseSRecord(QByteArrayView line)
{
    SRecordParse result;
    const auto fail = [&result](const QString& fault) {
        result.fault = fault;
        return result;
    };
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return fail(QStringLiteral("not an S-record"));
    if (line.size() % 2 != 0)
        return fail(QStringLiteral("odd number of hexadecimal digits"));
    QByteArray bytes;
    bytes.reserve((line.size() - 2) / 2);
    for (qsizetype i = 2; i < line.size(); i += 2) {
        const int byte = hex::byteValue(line[i], line[i + 1]);
        if (byte < 0)
            return fail(QStringLiteral("'%1' is not a hexadecimal byte")
                            .arg(QString::fromLatin1(line.sliced(i, 2))));
        bytes.append(char(byte));
    }
    const int count = quint8(bytes[0]);
    if (count != bytes.size() - 1)
        return fail(QStringLiteral("the byte count says %1 bytes, the record holds %2")
                        .arg(count)
                        .arg(bytes.size() - 1));
    SRecord& record = result.record;
    record.type = line[1];
    const int width = sRecordAddressBytes(record.type);
    if (count < width + 1)
        return fail(QStringLiteral("too short for its address"));
    const quint8 computed = sRecordChecksum(QByteArrayView(bytes).chopped(1));
    record.checksum = quint8(bytes.back());
    if (computed != record.checksum)
        return fail(QStringLiteral("wrong checksum (%1 written, %2 computed)")
                        .arg(hex::upperText(record.checksum, 2), hex::upperText(computed, 2)));
    record.address = quint32(sRecordLineAddress(line.data(), line.size()));
    record.data = bytes.mid(1 + width, count - width - 1);
    return result;
}

void appendSRecord(QByteArray& text, char type, quint32 address, QByteArrayView data)
{
    const int width = sRecordAddressBytes(type);
    const int count = width + int(data.size()) + 1;
    QVarLengthArray<char, 256> bytes;
    bytes.append(char(count));
    for (int i = width - 1; i >= 0; --i)
        bytes.append(char(address >> (8 * i)));
    bytes.append(data.data(), data.size());
    text += 'S';
    text += type;
    for (const char byte : bytes)
        hex::appendByte(text, quint8(byte));
    hex::appendByte(text, sRecordChecksum(QByteArrayView(bytes.data(), bytes.size())));
}

QByteArray formatSRecord(char type, quint32 address, QByteArrayView data)
{
    QByteArray text;
    text.reserve(4 + 2 * (sRecordAddressBytes(type) + data.size() + 1));
    appendSRecord(text, type, address, data);
    return text;
}

} // namespace quillner
