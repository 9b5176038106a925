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
    for (qsizetype i = 0; i < size; ++i) {
        const int byte = hex::byteValue(text[2 + 2 * i], text[3 + 2 * i]);
        if (byte < 0)
            return QStringLiteral("'%1' is not a hexadecimal byte")
                .arg(QString::fromLatin1(line.sliced(2 + 2 * i, 2)));
        record.bytes[size_t(i)] = quint8(byte);
        sum += quint32(byte);
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
        const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', size_t(available)));
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
