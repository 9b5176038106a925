#include "core/firmware/firmware_verify.h"

#include "core/app/counted_noun.h"
#include "core/app/file_io.h"
#include "core/app/hex_text.h"
#include "core/device/bank_layout.h"
#include "core/device/configuration_bank.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace quillner {

namespace {

QString addressText(qint64 address)
{
    return QStringLiteral("0x") + hex::upperText(address, 6);
}

QString lineLocation(qint64 line)
{
    return line > 0 ? QStringLiteral("line %1").arg(line) : QString();
}

// Where a data record's bytes lie, read from its address and byte count fields alone.
struct Extent
{
    bool data = false; // an S1, S2 or S3 line whose fields could be read
    qint64 first = 0;
    qint64 last = -1; // first - 1 for a record without data
};

Extent extentOf(QByteArrayView line)
{
    Extent extent;
    if (line.size() < 4 || line[0] != 'S' || (line[1] != '1' && line[1] != '2' && line[1] != '3'))
        return extent;
    const qint64 address = sRecordLineAddress(line.data(), line.size());
    const int count = hex::byteValue(line[2], line[3]);
    if (address < 0 || count < 0)
        return extent;
    extent.data = true;
    extent.first = address;
    extent.last = address + count - sRecordAddressBytes(line[1]) - 2;
    return extent;
}

QString recordName(QByteArrayView line)
{
    const Extent extent = extentOf(line);
    const QString type = QString::fromLatin1(line.first(std::min<qsizetype>(line.size(), 2)));
    if (extent.data)
        return QStringLiteral("the %1 record at %2").arg(type, addressText(extent.first));
    return line.size() >= 2 && line[0] == 'S' ? QStringLiteral("the %1 record").arg(type)
                                              : QStringLiteral("a line");
}

} // namespace

MergedFirmwareCheck::MergedFirmwareCheck(const ConfigurationBank& bank, int bankNumber,
                                         const VerifiedNames& names)
    : m_bank(bank), m_bankNumber(bankNumber), m_first(bankFirstAddress(bankNumber)),
      m_last(bankLastAddress(bankNumber)), m_names(names), m_covered(size_t(kBankSize), false)
{
}

void MergedFirmwareCheck::problem(const QString& file, qint64 line, const QString& text)
{
    if (m_count++ == 0)
        m_firstProblem = Problem{file, lineLocation(line), text};
}

QString MergedFirmwareCheck::rangeText() const
{
    return QStringLiteral("bank %1 (%2-%3)")
        .arg(m_bankNumber)
        .arg(addressText(m_first), addressText(m_last));
}

void MergedFirmwareCheck::readerFault(const QString& file, const SRecordLines& lines)
{
    if (!lines.fault().isEmpty())
        problem(file, lines.faultLine(), lines.fault());
}

bool MergedFirmwareCheck::comparesWithMaster(QByteArrayView mergedLine) const
{
    const Extent extent = extentOf(mergedLine);
    return !extent.data || extent.first < m_first || extent.first > m_last;
}

void MergedFirmwareCheck::addMasterLine(QByteArrayView line, qint64 lineNumber)
{
    // The master's records inside the bank's range are not compared: the bank takes their
    // place. Those that cross one of its edges are reported.
    const Extent extent = extentOf(line);
    if (extent.data && extent.last >= m_first && extent.first <= m_last) {
        if (extent.first < m_first || extent.last > m_last) {
            problem(m_names.master, lineNumber,
                    QStringLiteral("the record %1-%2 crosses an edge of %3")
                        .arg(addressText(extent.first), addressText(extent.last), rangeText()));
        }
        if (extent.first >= m_first) {
            // The merge drops it; but a firmware is read whole, as every reader reads it, and
            // a faulty line is a fault wherever it stands.
            const QString fault = readSRecord(line, m_masterRecord);
            if (!fault.isEmpty())
                problem(m_names.master, lineNumber, fault);
            return;
        }
        // The merge keeps it: compared as any other.
    }
    if (m_waiting)
        masterRecordMissing();
    const qsizetype size = std::min<qsizetype>(line.size(), kMaxSRecordLineLength);
    std::memcpy(m_masterLine.data(), line.data(), size_t(size));
    m_masterLineSize = size;
    m_masterLineNumber = lineNumber;
    m_waiting = true;
}

void MergedFirmwareCheck::masterRecordMissing()
{
    if (!m_waiting)
        return;
    m_waiting = false;
    problem(m_names.master, m_masterLineNumber,
            QStringLiteral("%1 is missing from %2")
                .arg(recordName(QByteArrayView(m_masterLine.data(), m_masterLineSize)),
                     m_names.merged));
}

void MergedFirmwareCheck::addMergedLine(QByteArrayView line, qint64 lineNumber)
{
    // A record that reads is placed by its fields as read; one that does not, by what its
    // address and count fields say, so that its fault is told with the right file.
    const QString fault = readSRecord(line, m_record);
    if (fault.isEmpty()) {
        countRecord(lineNumber);
        const qint64 first = m_record.address;
        if (m_record.isData() && first >= m_first && first <= m_last) {
            checkBankRecord(lineNumber, first + m_record.dataSize - 1);
            return;
        }
    } else {
        const Extent extent = extentOf(line);
        if (extent.data && extent.first >= m_first && extent.first <= m_last) {
            problem(m_names.merged, lineNumber, fault);
            return;
        }
    }
    checkOutsideRecord(line, lineNumber, fault);
}

void MergedFirmwareCheck::addKeptLine(QByteArrayView line, qint64 masterLineNumber,
                                      qint64 mergedLineNumber)
{
    const Extent extent = extentOf(line);
    if (extent.data && extent.last >= m_first && extent.first <= m_last) {
        addMasterLine(line, masterLineNumber);
        addMergedLine(line, mergedLineNumber);
        return;
    }
    if (m_waiting)
        masterRecordMissing();
    // Compared with itself it is the same text: only its own fault is told, as the master's.
    const QString fault = readSRecord(line, m_record);
    if (fault.isEmpty())
        countRecord(mergedLineNumber);
    else
        problem(m_names.master, masterLineNumber, fault);
}

// Counts a record that read well: where the end record stands, and what a count record counts.
void MergedFirmwareCheck::countRecord(qint64 lineNumber)
{
    if (m_record.isData()) {
        ++m_dataRecords;
    } else if (isEndRecordType(m_record.type)) {
        if (m_endLine == 0) {
            m_endLine = lineNumber;
            m_endType = m_record.type;
        }
    } else if (isCountRecordType(m_record.type)) {
        if (qint64(m_record.address) != countRecordValue(m_record.type, m_dataRecords)) {
            problem(m_names.merged, lineNumber,
                    countRecordMismatchText(m_record.type, m_record.address, m_dataRecords));
        }
    }
}

void MergedFirmwareCheck::checkOutsideRecord(QByteArrayView line, qint64 lineNumber,
                                             const QString& fault)
{
    if (!m_waiting) {
        problem(m_names.merged, lineNumber,
                fault.isEmpty()
                    ? QStringLiteral("%1 is not in %2").arg(recordName(line), m_names.master)
                    : fault);
        return;
    }
    m_waiting = false;
    const QByteArrayView masterLine(m_masterLine.data(), m_masterLineSize);
    const bool sameText = line.size() == masterLine.size() &&
                          std::memcmp(line.data(), masterLine.data(), size_t(line.size())) == 0;
    if (sameText) {
        // A fault copied from the master is told where it came from.
        if (!fault.isEmpty())
            problem(m_names.master, m_masterLineNumber, fault);
        return;
    }
    if (!fault.isEmpty()) {
        problem(m_names.merged, lineNumber, fault);
        return;
    }
    const QString masterFault = readSRecord(masterLine, m_masterRecord);
    if (!masterFault.isEmpty()) {
        problem(m_names.master, m_masterLineNumber, masterFault);
        return;
    }
    // A count record counts the data records of its own file: the merged file's is checked
    // against them as it is read, whatever the master's said.
    if (isCountRecordType(m_record.type) && isCountRecordType(m_masterRecord.type))
        return;
    if (m_record.type != m_masterRecord.type || m_record.address != m_masterRecord.address ||
        m_record.dataSize != m_masterRecord.dataSize ||
        std::memcmp(m_record.data(), m_masterRecord.data(), size_t(m_record.dataSize)) != 0) {
        problem(m_names.merged, lineNumber,
                QStringLiteral("%1 differs from %2 in %3, line %4")
                    .arg(recordName(line), recordName(masterLine), m_names.master)
                    .arg(m_masterLineNumber));
    }
}

void MergedFirmwareCheck::checkBankRecord(qint64 lineNumber, qint64 lastAddress)
{
    if (lastAddress > m_last) {
        problem(m_names.merged, lineNumber,
                QStringLiteral("the record %1-%2 crosses an edge of %3")
                    .arg(addressText(m_record.address), addressText(lastAddress), rangeText()));
    }
    // A loader stops at the end record: the bank's bytes after it never reach the device.
    if (m_endLine > 0 && !m_bankAfterEndTold) {
        m_bankAfterEndTold = true;
        problem(m_names.merged, lineNumber,
                QStringLiteral("%1 stands after the S%2 end record on line %3, where loaders stop")
                    .arg(rangeText(), QChar::fromLatin1(m_endType))
                    .arg(m_endLine));
    }
    const char* data = m_record.data();
    for (int i = 0; i < m_record.dataSize; ++i) {
        const qint64 address = qint64(m_record.address) + i;
        if (address > m_last)
            break;
        const size_t offset = size_t(address - m_first);
        const quint8 value = quint8(data[i]);
        if (m_covered[offset]) {
            problem(m_names.merged, lineNumber,
                    QStringLiteral("%1 is written a second time").arg(addressText(address)));
            continue;
        }
        m_covered[offset] = true;
        ++m_coveredCount;
        const quint8 expected = quint8(m_bank[qsizetype(offset)]);
        if (value != expected) {
            problem(m_names.merged, lineNumber,
                    QStringLiteral("%1 holds 0x%2, the bank 0x%3")
                        .arg(addressText(address), hex::upperText(value, 2),
                             hex::upperText(expected, 2)));
        }
    }
}

FirmwareVerification MergedFirmwareCheck::finish()
{
    masterRecordMissing();
    if (m_coveredCount != kBankSize) {
        size_t gap = 0;
        while (m_covered[gap])
            ++gap;
        problem(m_names.merged, 0,
                QStringLiteral("%1 of the %2 bytes of %3 are missing, the first at %4")
                    .arg(kBankSize - m_coveredCount)
                    .arg(kBankSize)
                    .arg(rangeText(), addressText(m_first + qint64(gap))));
    }
    FirmwareVerification result;
    result.problemCount = m_count;
    if (m_count > 0)
        result.report.append(m_firstProblem);
    if (m_count > 1)
        result.report.append(
            Problem{{}, {}, QStringLiteral("and ") + counted(m_count - 1, "more problem")});
    return result;
}

FirmwareVerification verifyMergedFirmware(QIODevice& merged, QIODevice& master,
                                          const ConfigurationBank& bank, int bankNumber,
                                          const VerifiedNames& names)
{
    MergedFirmwareCheck check(bank, bankNumber, names);
    SRecordLines mergedLines(merged);
    SRecordLines masterLines(master);
    QByteArrayView line;
    QByteArrayView masterLine;
    while (mergedLines.next(line)) {
        // The master is read only as far as the merged file needs it.
        if (check.comparesWithMaster(line)) {
            while (!check.masterRecordWaiting() && masterLines.next(masterLine))
                check.addMasterLine(masterLine, masterLines.lineNumber());
        }
        check.addMergedLine(line, mergedLines.lineNumber());
    }
    check.readerFault(names.merged, mergedLines);
    // What the master holds beyond the merged file's end was lost.
    check.masterRecordMissing();
    while (masterLines.next(masterLine)) {
        check.addMasterLine(masterLine, masterLines.lineNumber());
        check.masterRecordMissing();
    }
    check.readerFault(names.master, masterLines);
    return check.finish();
}

Result<FirmwareVerification> verifyMergedFirmwareFiles(const QString& mergedPath,
                                                       const QString& masterPath,
                                                       const QString& bankPath, int bankNumber)
{
    return verifyMergedFirmwareFiles(mergedPath, masterPath, readBankImageFile(bankPath),
                                     bankNumber);
}

Result<FirmwareVerification> verifyMergedFirmwareFiles(const QString& mergedPath,
                                                       const QString& masterPath,
                                                       const ConfigurationBank& bank,
                                                       int bankNumber)
{
    // Why the file cannot be read; an empty text when it is open.
    const auto open = [](QFile& file) {
        if (!QFileInfo(file.fileName()).isFile())
            return QStringLiteral("File %1 not found").arg(file.fileName());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return cannotOpenFileMessage(file.fileName(), file.errorString());
        return QString();
    };
    QFile merged(mergedPath);
    QFile master(masterPath);
    for (QFile* file : {&merged, &master}) {
        if (const QString cause = open(*file); !cause.isEmpty())
            return Result<FirmwareVerification>::failure({Problem{{}, {}, cause}});
    }
    Result<FirmwareVerification> result;
    result.value =
        verifyMergedFirmware(merged, master, bank, bankNumber,
                             {QFileInfo(mergedPath).fileName(), QFileInfo(masterPath).fileName()});
    return result;
}

} // namespace quillner
