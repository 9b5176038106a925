#include "core/firmware/firmware_verify.h"

#include "core/app/error.h"
#include "core/app/hex_text.h"
#include "core/device/bank_layout.h"
#include "core/device/configuration_bank.h"
#include "core/device/srec_record.h"
#include "core/firmware/srec_merge.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <vector>

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

class Verifier
{
public:
    Verifier(QIODevice& merged, QIODevice& master, QByteArrayView bank, int bankNumber,
             const VerifiedNames& names)
        : m_merged(merged), m_master(master), m_bank(bank), m_bankNumber(bankNumber),
          m_first(bankFirstAddress(bankNumber)), m_last(bankLastAddress(bankNumber)),
          m_names(names), m_covered(size_t(kBankSize), false)
    {
    }

    FirmwareVerification run()
    {
        QByteArrayView line;
        while (m_merged.next(line)) {
            const Extent extent = extentOf(line);
            if (extent.data && extent.first >= m_first && extent.first <= m_last)
                checkBankRecord(line, extent);
            else
                checkOutsideRecord(line);
        }
        readerFault(m_merged, m_names.merged);
        // What the master holds beyond the merged file's end was lost.
        while (nextMasterRecord()) {
            problem(m_names.master, m_master.lineNumber(),
                    QStringLiteral("%1 is missing from %2")
                        .arg(recordName(m_masterLine), m_names.merged));
        }
        readerFault(m_master, m_names.master);
        checkBankCovered();

        FirmwareVerification result;
        result.problemCount = m_count;
        if (m_count > 0)
            result.report.append(m_firstProblem);
        if (m_count > 1)
            result.report.append(
                Problem{{}, {}, QStringLiteral("and %1 more problems").arg(m_count - 1)});
        return result;
    }

private:
    void problem(const QString& file, qint64 line, const QString& text)
    {
        if (m_count++ == 0)
            m_firstProblem = Problem{file, lineLocation(line), text};
    }

    void readerFault(const SRecordLines& lines, const QString& name)
    {
        if (!lines.fault().isEmpty())
            problem(name, lines.faultLine(), lines.fault());
    }

    QString rangeText() const
    {
        return QStringLiteral("bank %1 (%2-%3)")
            .arg(m_bankNumber)
            .arg(addressText(m_first), addressText(m_last));
    }

    static QString recordName(QByteArrayView line)
    {
        const Extent extent = extentOf(line);
        const QString type = QString::fromLatin1(line.first(std::min<qsizetype>(line.size(), 2)));
        if (extent.data)
            return QStringLiteral("the %1 record at %2").arg(type, addressText(extent.first));
        return line.size() >= 2 && line[0] == 'S' ? QStringLiteral("the %1 record").arg(type)
                                                  : QStringLiteral("a line");
    }

    // The master's next record outside the bank's range, in m_masterLine; the records inside
    // it are passed over, and those that cross one of its edges are reported.
    bool nextMasterRecord()
    {
        while (m_master.next(m_masterLine)) {
            const Extent extent = extentOf(m_masterLine);
            if (!extent.data || extent.last < m_first || extent.first > m_last)
                return true;
            if (extent.first < m_first || extent.last > m_last) {
                problem(m_names.master, m_master.lineNumber(),
                        QStringLiteral("the record %1-%2 crosses an edge of %3")
                            .arg(addressText(extent.first), addressText(extent.last), rangeText()));
            }
            if (extent.first < m_first)
                return true; // the merge keeps it: compared as any other
        }
        return false;
    }

    void checkOutsideRecord(QByteArrayView line)
    {
        const QString fault = readSRecord(line, m_record);
        if (!nextMasterRecord()) {
            problem(m_names.merged, m_merged.lineNumber(),
                    fault.isEmpty()
                        ? QStringLiteral("%1 is not in %2").arg(recordName(line), m_names.master)
                        : fault);
            return;
        }
        const bool sameText =
            line.size() == m_masterLine.size() &&
            std::memcmp(line.data(), m_masterLine.data(), size_t(line.size())) == 0;
        if (sameText) {
            // A fault copied from the master is told where it came from.
            if (!fault.isEmpty())
                problem(m_names.master, m_master.lineNumber(), fault);
            return;
        }
        if (!fault.isEmpty()) {
            problem(m_names.merged, m_merged.lineNumber(), fault);
            return;
        }
        const QString masterFault = readSRecord(m_masterLine, m_masterRecord);
        if (!masterFault.isEmpty()) {
            problem(m_names.master, m_master.lineNumber(), masterFault);
            return;
        }
        if (m_record.type != m_masterRecord.type || m_record.address != m_masterRecord.address ||
            m_record.dataSize != m_masterRecord.dataSize ||
            std::memcmp(m_record.data(), m_masterRecord.data(), size_t(m_record.dataSize)) != 0) {
            problem(m_names.merged, m_merged.lineNumber(),
                    QStringLiteral("%1 differs from %2 in %3, line %4")
                        .arg(recordName(line), recordName(m_masterLine), m_names.master)
                        .arg(m_master.lineNumber()));
        }
    }

    void checkBankRecord(QByteArrayView line, const Extent& extent)
    {
        const QString fault = readSRecord(line, m_record);
        if (!fault.isEmpty()) {
            problem(m_names.merged, m_merged.lineNumber(), fault);
            return;
        }
        const qint64 lineNumber = m_merged.lineNumber();
        if (extent.last > m_last) {
            problem(m_names.merged, lineNumber,
                    QStringLiteral("the record %1-%2 crosses an edge of %3")
                        .arg(addressText(extent.first), addressText(extent.last), rangeText()));
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

    void checkBankCovered()
    {
        if (m_coveredCount == kBankSize)
            return;
        size_t gap = 0;
        while (m_covered[gap])
            ++gap;
        problem(m_names.merged, 0,
                QStringLiteral("%1 of the %2 bytes of %3 are missing, the first at %4")
                    .arg(kBankSize - m_coveredCount)
                    .arg(kBankSize)
                    .arg(rangeText(), addressText(m_first + qint64(gap))));
    }

    SRecordLines m_merged;
    SRecordLines m_master;
    QByteArrayView m_bank;
    const int m_bankNumber;
    const qint64 m_first;
    const qint64 m_last;
    const VerifiedNames& m_names;
    std::vector<bool> m_covered;
    int m_coveredCount = 0;
    QByteArrayView m_masterLine;
    SRecordView m_record;
    SRecordView m_masterRecord;
    qint64 m_count = 0;
    Problem m_firstProblem;
};

} // namespace

FirmwareVerification verifyMergedFirmware(QIODevice& merged, QIODevice& master, QByteArrayView bank,
                                          int bankNumber, const VerifiedNames& names)
{
    if (bank.size() != kBankSize)
        throw Error(
            QStringLiteral("A bank holds %1 bytes, not %2").arg(kBankSize).arg(bank.size()));
    return Verifier(merged, master, bank, bankNumber, names).run();
}

FirmwareVerification verifyMergedFirmwareFiles(const QString& mergedPath, const QString& masterPath,
                                               const QString& bankPath, int bankNumber)
{
    const auto open = [](QFile& file) {
        if (!QFileInfo(file.fileName()).isFile())
            throw Error(QStringLiteral("File %1 not found").arg(file.fileName()));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(file.fileName(), file.errorString()));
    };
    const ConfigurationBank bank = readBankImageFile(bankPath);
    QFile merged(mergedPath);
    QFile master(masterPath);
    open(merged);
    open(master);
    return verifyMergedFirmware(
        merged, master, QByteArrayView(bank.data(), kBankSize), bankNumber,
        {QFileInfo(mergedPath).fileName(), QFileInfo(masterPath).fileName()});
}

} // namespace quillner
