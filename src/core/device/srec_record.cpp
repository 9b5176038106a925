#include "core/device/srec_record.h"

#include "core/app/file_io.h"

#include <QIODevice>
#include <QVarLengthArray>

#include <cstring>

namespace quillner {

quint8 sRecordChecksum(QByteArrayView bytes)
{
    quint32 sum = 0;
    for (const char byte : bytes)
        sum += quint8(byte);
    return quint8(~sum);
}

namespace {

#ifdef __SSE2__
// The sixteen digits at text as eight bytes at out, their sum added to sum; false, with nothing
// told of the bytes, when one of them is no digit. A record's bytes are read eight at a time:
// most of the time of a check of a merged firmware goes on reading them.
bool decodeSixteenDigits(const char* text, quint8* out, quint32& sum)
{
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i isDigit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                          _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    // Setting the bit of the lower case makes only 'A' to 'F' into 'a' to 'f'; bytes from 0x80
    // up stay below '0' as signed bytes.
    const __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
    const __m128i isLetter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                           _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF)
        return false;
    const __m128i digitValue = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i letterValue = _mm_sub_epi8(lower, _mm_set1_epi8('a' - 10));
    const __m128i value =
        _mm_or_si128(_mm_and_si128(isDigit, digitValue), _mm_andnot_si128(isDigit, letterValue));
    // Each pair of digits, the high one first, into a 16-bit lane, then the lanes to bytes.
    const __m128i pairs = _mm_or_si128(
        _mm_slli_epi16(_mm_and_si128(value, _mm_set1_epi16(0xFF)), 4), _mm_srli_epi16(value, 8));
    const __m128i bytes = _mm_packus_epi16(pairs, _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    sum += quint32(_mm_cvtsi128_si32(_mm_sad_epu8(bytes, _mm_setzero_si128())));
    return true;
}
#endif

} // namespace

QString readSRecord(QByteArrayView line, SRecordView& record)
{
    if (line.isEmpty())
        return emptyLineText();
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return QStringLiteral("not an S-record");
    if (line.size() % 2 != 0)
        return QStringLiteral("odd number of hexadecimal digits");
    if (line.size() > kMaxSRecordLineLength)
        return lineTooLongText();
    const char* text = line.data();
    const qsizetype size = (line.size() - 2) / 2;
    quint32 sum = 0;
    // Without a branch for each byte: a pair that is no byte leaves the sign bit in `faults`, and
    // only then are the pairs looked at again for the first one.
    int faults = 0;
    qsizetype i = 0;
#ifdef __SSE2__
    for (; i + 8 <= size && faults == 0; i += 8) {
        if (!decodeSixteenDigits(text + 2 + 2 * i, record.bytes.data() + i, sum))
            faults = -1;
    }
#endif
    for (; i < size; ++i) {
        const int byte = hex::pairValue(text + 2 + 2 * i);
        faults |= byte;
        record.bytes[size_t(i)] = quint8(byte);
        sum += quint32(byte);
    }
    if (faults < 0) {
        for (qsizetype at = 2;; at += 2) {
            if (hex::pairValue(text + at) < 0)
                return QStringLiteral("'%1' is not a hexadecimal byte")
                    .arg(QString::fromLatin1(line.sliced(at, 2)));
        }
    }
    const int count = record.bytes[0];
    if (count != size - 1)
        return QStringLiteral("the byte count says %1 bytes, the record holds %2")
            .arg(count)
            .arg(size - 1);
    record.type = line[1];
    const int width = sRecordAddressBytes(record.type);
    if (count < width + 1)
        return QStringLiteral("too short for its address");
    record.checksum = record.bytes[size_t(count)];
    const quint8 computed = quint8(~(sum - record.checksum));
    if (computed != record.checksum)
        return QStringLiteral("checksum 0x%1, computed 0x%2")
            .arg(hex::upperText(record.checksum, 2), hex::upperText(computed, 2));
    quint32 address = 0;
    for (int i = 1; i <= width; ++i)
        address = address << 8 | record.bytes[size_t(i)];
    record.address = address;
    record.dataSize = count - width - 1;
    return {};
}

Result<SRecord> parseSRecord(QByteArrayView line)
{
    SRecordView view;
    if (QString fault = readSRecord(line, view); !fault.isEmpty())
        return Result<SRecord>::failure({Problem{{}, {}, std::move(fault)}});
    return {SRecord{view.type, view.address, QByteArray(view.data(), view.dataSize), view.checksum},
            {},
            {}};
}

Result<QString> SxRecordChecksum(QStringView recordText)
{
    QByteArray bytes;
    bytes.reserve(recordText.size() / 2);
    for (qsizetype i = 2; i + 2 <= recordText.size() - 2; i += 2) {
        const QStringView pair = recordText.mid(i, 2);
        const auto latin1 = [](QChar c) { return c.unicode() < 256 ? char(c.unicode()) : '\0'; };
        const int byte = hex::byteValue(latin1(pair[0]), latin1(pair[1]));
        if (byte < 0)
            return Result<QString>::failure(
                {Problem{{}, {}, QStringLiteral("'%1' is not a hexadecimal byte").arg(pair)}});
        bytes.append(char(byte));
    }
    return {hex::upperText(sRecordChecksum(bytes), 2), {}, {}};
}

QString emptyLineText()
{
    return QStringLiteral("empty line");
}

Problem sRecordLineProblem(const QString& file, qint64 line, const QString& what)
{
    return Problem{file, QStringLiteral("line %1").arg(line), what};
}

bool SRecordReader::next()
{
    if (failed())
        return false;
    QByteArrayView line;
    if (!m_lines.next(line)) {
        m_fault = m_lines.fault();
        m_faultLine = m_lines.faultLine();
        return false;
    }
    m_fault = readSRecord(line, m_record);
    m_faultLine = m_lines.lineNumber();
    return !failed();
}

Problem SRecordReader::fault(const QString& file) const
{
    if (m_faultLine > 0)
        return sRecordLineProblem(file, m_faultLine, m_fault);
    return Problem{{}, {}, cannotReadFileMessage(file, m_fault)};
}

QString lineTooLongText()
{
    return QStringLiteral("longer than any S-record (more than %1 characters)")
        .arg(kMaxSRecordLineLength);
}

namespace {

// Large enough for few system calls, small enough to stay in the processor cache.
constexpr qsizetype kLineBlockSize = 1 << 18;

} // namespace

SRecordLines::SRecordLines(QIODevice& device)
    : m_device(device), m_buffer(kLineBlockSize, Qt::Uninitialized)
{
}

void SRecordLines::fill()
{
    const qsizetype kept = m_end - m_begin;
    std::memmove(m_buffer.data(), m_buffer.constData() + m_begin, size_t(kept));
    m_begin = 0;
    m_end = kept;
    const qint64 read = m_device.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (read < 0) {
        m_fault = m_device.errorString();
        m_atEnd = true;
        return;
    }
    if (read == 0)
        m_atEnd = true;
    m_end += read;
}

bool SRecordLines::failAtLine()
{
    m_faultLine = ++m_lineNumber;
    m_fault = lineTooLongText();
    return false;
}

QString SRecordLines::faultText() const
{
    return m_faultLine > 0 ? QStringLiteral("line %1: %2").arg(m_faultLine).arg(m_fault) : m_fault;
}

bool SRecordLines::next(QByteArrayView& line)
{
    if (!m_fault.isEmpty())
        return false;
    for (;;) {
        const char* const begin = m_buffer.constData() + m_begin;
        const qsizetype available = m_end - m_begin;
        const char* newline = findLineFeed(begin, begin + available);
        // The line end may follow the longest record and its CR.
        const qsizetype length = newline ? newline - begin : available;
        if (length > kMaxSRecordLineLength + 1)
            return failAtLine();
        if (newline || (m_atEnd && available > 0)) {
            ++m_lineNumber;
            qsizetype content = length;
            if (content > 0 && begin[content - 1] == '\r')
                --content;
            if (content > kMaxSRecordLineLength) {
                --m_lineNumber;
                return failAtLine();
            }
            line = QByteArrayView(begin, content);
            m_begin += newline ? length + 1 : length;
            return true;
        }
        if (m_atEnd)
            return false;
        fill();
        if (!m_fault.isEmpty())
            return false;
    }
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

QByteArray countRecordLine(qint64 dataRecords)
{
    const char type = dataRecords <= 0xFFFF ? '5' : '6';
    return formatSRecord(type, quint32(countRecordValue(type, dataRecords)), {});
}

QString countRecordMismatchText(char type, qint64 counted, qint64 dataRecords)
{
    return QStringLiteral("the S%1 record counts %2 data records, %3 stand before it")
        .arg(QChar::fromLatin1(type))
        .arg(counted)
        .arg(dataRecords);
}

QByteArray formatSRecord(char type, quint32 address, QByteArrayView data)
{
    QByteArray text;
    text.reserve(4 + 2 * (sRecordAddressBytes(type) + data.size() + 1));
    appendSRecord(text, type, address, data);
    return text;
}

} // namespace quillner
