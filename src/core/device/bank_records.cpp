#include "core/device/bank_records.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/hex_text.h"
#include "core/device/srec_record.h"

#include <QFile>

#include <vector>

namespace quillner {

namespace {

// Calls handle(record, line number) for each record of the file.
template <typename Handler> void forEachRecord(const QString& path, Handler&& handle)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Error(cannotOpenFileMessage(path, file.errorString()));
    SRecordReader records(file);
    while (records.next())
        handle(records.record(), records.lineNumber());
    if (records.failed())
        throw Error(records.faultMessage(path));
}

QString addressText(quint32 address)
{
    return QStringLiteral("0x") + hex::upperText(address, 6);
}

} // namespace

ConfigurationBank readBankFromSRecords(const QString& path, int bankNumber)
{
    const qint64 first = bankFirstAddress(bankNumber);
    const qint64 last = bankLastAddress(bankNumber);
    ConfigurationBank bank{};
    // The line that wrote each byte of the bank, 0 for none yet.
    std::vector<qint64> writtenBy(kBankSize, 0);
    int coveredCount = 0;
    // The device's memory holds what every data record writes, whatever its address width.
    forEachRecord(path, [&](const SRecordView& record, qint64 lineNumber) {
        if (!record.isData())
            return;
        const char* data = record.data();
        for (int i = 0; i < record.dataSize; ++i) {
            const qint64 address = qint64(record.address) + i;
            if (address < first || address > last)
                continue;
            const size_t offset = size_t(address - first);
            const quint8 value = quint8(data[i]);
            if (writtenBy[offset] == 0) {
                writtenBy[offset] = lineNumber;
                bank[offset] = value;
                ++coveredCount;
            } else if (bank[offset] != value) {
                // Which of the two the device ends up with depends on the loader: neither is
                // the bank for sure.
                throw Error(sRecordLineMessage(
                    path, lineNumber,
                    QStringLiteral("writes 0x%1 at %2, which line %3 wrote 0x%4")
                        .arg(hex::upperText(value, 2), addressText(quint32(address)))
                        .arg(writtenBy[offset])
                        .arg(hex::upperText(bank[offset], 2))));
            }
        }
    });
    if (coveredCount != kBankSize) {
        // Name the first gap, so that a missing record can be found in the file.
        int gapStart = 0;
        while (writtenBy[size_t(gapStart)] != 0)
            ++gapStart;
        int gapEnd = gapStart;
        while (gapEnd + 1 < kBankSize && writtenBy[size_t(gapEnd + 1)] == 0)
            ++gapEnd;
        throw Error(
            QStringLiteral("%1: no S2 record holds bank %2 at %3-%4 (%5 of %6 bytes missing)")
                .arg(path)
                .arg(bankNumber)
                .arg(addressText(first + quint32(gapStart)), addressText(first + quint32(gapEnd)))
                .arg(kBankSize - coveredCount)
                .arg(kBankSize));
    }
    return bank;
}

QByteArray bankSxRecords(int bank, QByteArrayView bankBytes)
{
    const QByteArray bytes = bankBytes.toByteArray().leftJustified(kBankSize, '\0', true);
    QByteArray records;
    records.reserve(kBankRecordCount * (kBankRecordLength + 2));
    quint32 address = bankFirstAddress(bank);
    for (int r = 0; r < kBankRecordCount; ++r, address += kBankRecordDataBytes) {
        appendSRecord(records, '2', address,
                      QByteArrayView(bytes).sliced(qsizetype(r) * kBankRecordDataBytes,
                                                   kBankRecordDataBytes));
        Q_ASSERT(records.size() == qsizetype(r) * (kBankRecordLength + 2) + kBankRecordLength);
        records += "\r\n";
    }
    return records;
}

bool sRecordFileHasBankRecords(const QString& path, int bankNumber)
{
    const quint32 first = bankFirstAddress(bankNumber);
    const quint32 last = bankLastAddress(bankNumber);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Error(cannotOpenFileMessage(path, file.errorString()));
    SRecordLines lines(file);
    QByteArrayView line;
    while (lines.next(line)) {
        if (line.size() < 2 || line[0] != 'S' || line[1] != '2')
            continue;
        const qint64 address = sRecordLineAddress(line.data(), line.size());
        if (address >= qint64(first) && address <= qint64(last))
            return true;
    }
    if (!lines.fault().isEmpty())
        throw Error(lines.faultLine() > 0
                        ? sRecordLineMessage(path, lines.faultLine(), lines.fault())
                        : cannotReadFileMessage(path, lines.fault()));
    return false;
}

} // namespace quillner
