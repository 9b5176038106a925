#pragma once

#include "core/app/hex_text.h"
#include "core/app/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <bit>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

class QIODevice;

// Motorola S-records: "S", the type digit, then hexadecimal bytes: the byte count (address,
// data and checksum), the address, the data, and the checksum.
namespace quillner {

// The longest line a record can be, without its line end: "S", the type, the byte count and
// its 255 bytes, two digits each. A longer line is no record, however it goes on.
inline constexpr int kMaxSRecordLineLength = 4 + 2 * 255;

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

// The kinds of record: S1, S2 and S3 carry data; S5 (two bytes) and S6 (three bytes) count the
// data records before them in their address field; S7, S8 and S9 end the file.
inline bool isDataRecordType(char type)
{
    return type == '1' || type == '2' || type == '3';
}

inline bool isCountRecordType(char type)
{
    return type == '5' || type == '6';
}

inline bool isEndRecordType(char type)
{
    return type == '7' || type == '8' || type == '9';
}

// The value a count record of `type` holds for `dataRecords` data records: its field is two
// bytes in S5 and three in S6, and writers that keep to S5 past 65 535 records let it wrap, as
// loaders compare it.
inline qint64 countRecordValue(char type, qint64 dataRecords)
{
    return dataRecords & ((qint64(1) << (8 * sRecordAddressBytes(type))) - 1);
}

// The count record for `dataRecords` data records: S5 up to 65 535, S6 above (its three bytes
// wrap past 16 777 215 as S5's two do past 65 535).
QByteArray countRecordLine(qint64 dataRecords);

// "the S5 record counts 15 data records, 523 stand before it"
QString countRecordMismatchText(char type, qint64 counted, qint64 dataRecords);

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

// The two checksum characters of an S-record whose last two characters are placeholders;
// refused ("'G0' is not a hexadecimal byte") when a byte of the record is not two hexadecimal
// digits.
Result<QString> SxRecordChecksum(QStringView recordText);

struct SRecord
{
    char type = 0; // '0' to '9'
    quint32 address = 0;
    QByteArray data;
    quint8 checksum = 0;
};

// Reads one record line, without its line end. A line that is no good record is refused with
// why, its problem naming neither file nor line: "not an S-record", "odd number of hexadecimal
// digits", "'G0' is not a hexadecimal byte", "the byte count says 5 bytes, the record holds 4",
// "too short for its address", "checksum 0x94, computed 0x93".
Result<SRecord> parseSRecord(QByteArrayView line);

// A record read into a fixed buffer, for readers that go through millions of them: nothing is
// allocated for a good record.
struct SRecordView
{
    char type = 0;
    quint32 address = 0;
    int dataSize = 0;
    quint8 checksum = 0;
    // The count byte, the address, the data and the checksum, as read.
    std::array<quint8, 256> bytes{};

    const char* data() const
    {
        return reinterpret_cast<const char*>(bytes.data()) + 1 + sRecordAddressBytes(type);
    }
    bool isData() const { return isDataRecordType(type); }
};

// Reads one record line, without its line end, into record; returns why it is no good record,
// in the words of parseSRecord's problem ("empty line" for an empty one), or an empty text when
// it is one. A text, not a Result: the readers of whole firmwares call it for every line, and
// an empty text costs nothing.
QString readSRecord(QByteArrayView line, SRecordView& record);

// The first '\n' in [p, end), or nullptr. Sixteen bytes at a step in line: for lines of a few
// dozen characters, as records are, a call to memchr costs more than the search itself.
inline const char* findLineFeed(const char* p, const char* end)
{
#ifdef __SSE2__
    const __m128i lineFeed = _mm_set1_epi8('\n');
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int found = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed));
        if (found != 0)
            return p + std::countr_zero(unsigned(found));
    }
#endif
    return static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
}

// The lines of a file one by one, without their line ends (CR LF, LF, or a CR before the end),
// read in large blocks into a buffer that never grows: a line longer than any record is not
// returned but reported as the reader's fault, so memory does not follow the longest line.
class SRecordLines
{
public:
    explicit SRecordLines(QIODevice& device);

    // The next line, valid until the next call; false at the end or when the reader failed.
    bool next(QByteArrayView& line);
    // The number of the line last returned, from 1; after a fault, of the line at fault.
    qint64 lineNumber() const { return m_lineNumber; }
    // Why the reading stopped early: lineTooLongText() for the line lineNumber(), or the
    // system's reason (faultLine() 0); empty at a normal end.
    const QString& fault() const { return m_fault; }
    qint64 faultLine() const { return m_faultLine; }
    // "line 7: longer than any S-record (more than 514 characters)", or the system's reason.
    QString faultText() const;

private:
    void fill();
    bool failAtLine();

    QIODevice& m_device;
    QByteArray m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
    bool m_atEnd = false;
    qint64 m_lineNumber = 0;
    qint64 m_faultLine = 0;
    QString m_fault;
};

// The text of a line too long to be a record.
QString lineTooLongText();
// The text of an empty line, which is no record either.
QString emptyLineText();

// The records of a file one by one, read alike by every command: each line is one record, ended
// by CR LF, LF or the end of the file. The first line that is no good record (an empty line, a
// line that is no S-record, a wrong byte count or checksum, a line longer than any record) ends
// the reading, with its number and why.
class SRecordReader
{
public:
    explicit SRecordReader(QIODevice& device) : m_lines(device) {}

    // The next record; false at the end of the file and at the first fault.
    bool next();
    const SRecordView& record() const { return m_record; }
    // The number of the line last read, from 1.
    qint64 lineNumber() const { return m_lines.lineNumber(); }
    // Whether the reading stopped before the end.
    bool failed() const { return !m_fault.isEmpty(); }
    // Why: file "file", location "line 7", text "checksum 0x94, computed 0x93"; or, when the
    // system could not read it, the text "Cannot read file "file". reason" alone.
    Problem fault(const QString& file) const;

private:
    SRecordLines m_lines;
    SRecordView m_record;
    QString m_fault;
    qint64 m_faultLine = 0;
};

// The problem "file, line N: what": where a record reader names a line's fault.
Problem sRecordLineProblem(const QString& file, qint64 line, const QString& what);

// Appends one record, without a line end; hexadecimal digits in upper case. At most 250 data
// bytes.
void appendSRecord(QByteArray& text, char type, quint32 address, QByteArrayView data);
QByteArray formatSRecord(char type, quint32 address, QByteArrayView data);

} // namespace quillner
