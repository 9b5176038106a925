#pragma once

#include "core/firmware/hex_text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Motorola S-records: "S", the type digit, then hexadecimal bytes: the byte count (address,
// data and checksum), the address, the data, and the checksum.
namespace quillner {

// The width of a record's address field, in bytes, for its type character: 2 for S0, S1, S5,
// S9; 3 for S2, S6, S8; 4 for S3, S7.
inline int sRecordAddressBytes(char type)
{
    switch (type) {
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 2;
    }
}

// The start address of a record line, read from its address field alone, nothing else checked:
// -1 when the line is too short for the field or one of its characters is not a digit. Allocates
// nothing, for the merge reads it from every S1 and S2 line.
inline qint64 sRecordLineAddress(const char* line, qsizetype length)
{
    if (length < 4)
        return -1;
    const int digits = 2 * sRecordAddressBytes(line[1]);
    if (length < 4 + digits)
        return -1;
    qint64 address = 0;
    for (int i = 4; i < 4 + digits; ++i) {
        const int digit = hex::digitValue(line[i]);
        if (digit < 0)
            return -1;
        address = address << 4 | digit;
    }
    return address;
}

// The checksum of a record's bytes from its byte count up to its last data byte: the ones'
// complement of the low byte of their sum.
quint8 sRecordChecksum(QByteArrayView bytes);

struct SRecord
{
    char type = 0; // '0' to '9'
    quint32 address = 0;
    QByteArray data;
    quint8 checksum = 0;
};

struct SRecordParse
{
    SRecord record;
    // Why the line is not a good record ("not an S-record", "odd number of hexadecimal digits",
    // "'G0' is not a hexadecimal byte", "the byte count says 5 bytes, the record holds 4", "too
    // short for its address", "wrong checksum (94 written, 93 computed)"); empty when it is one.
    QString fault;

    bool ok() const { return fault.isEmpty(); }
};

// Reads one record line, without its line end.
SRecordParse parseSRecord(QByteArrayView line);

// Appends one record, without a line end; hexadecimal digits in upper case. At most 250 data
// bytes.
void appendSRecord(QByteArray& text, char type, quint32 address, QByteArrayView data);
QByteArray formatSRecord(char type, quint32 address, QByteArrayView data);

} // namespace quillner
