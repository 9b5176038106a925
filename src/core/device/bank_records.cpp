#include "core/device/bank_records.h"

#include "core/app/file_io.h"
#include "core/app/hex_text.h"
#include "core/device/srec_record.h"

#include <QFile>

#include <optional>
#include <vector>

namespace quillner {

namespace {

// Calls handle(record, line number) for each record of the file, until the end, a record that
// is no good, or a problem handle returns; the problem that stopped it, none at the end.
template <typename Handler>
std::optional<Problem> forEachRecord(const QString& path, Handler&& handle)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Problem{{}, {}, cannotOpenFileMessage(path, file.errorString())};
    SRecordReader records(file);
    while (records.next()) {
        if (std::optional<Problem> stop = handle(records.record(), records.lineNumber()))
            return stop;
    }
    if (records.failed())
        return records.fault(path);
    return std::nullopt;
}

QString addressText(quint32 address)
{
    return QStringLiteral("0x") + hex::upperText(address, 6);
}

} // namespace

Result<ConfigurationBank> readBankFromSRecords(const QString& path, int bankNumber)
{
    const qint64 first = bankFirstAddress(bankNumber);
    const qint64 last = bankLastAddress(bankNumber);
    ConfigurationBank bank{};
    // The line that wrote each byte of the bank, 0 for none yet.
    std::vector<qint64> writtenBy(kBankSize, 0);
    int coveredCount = 0;
    // The device's memory holds what every data record writes, whatever its address width.
    const std::optional<Problem> stop = forEachRecord(
        path, [&](const SRecordView& record, qint64 lineNumber) -> std::optional<Problem> {
            if (!record.isData())
                return std::nullopt;
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
                    return sRecordLineProblem(
                        path, lineNumber,
                        QStringLiteral("writes 0x%1 at %2, which line %3 wrote 0x%4")
                            .arg(hex::upperText(value, 2), addressText(quint32(address)))
                            .arg(writtenBy[offset])
                            .arg(hex::upperText(bank[offset], 2)));
                }
            }
            return std::nullopt;
        });
    if (stop)
        return Result<ConfigurationBank>::failure({*stop});
    if (coveredCount != kBankSize) {
        // Name the first gap, so that a missing record can be found in the file.
        int gapStart = 0;
        while (writtenBy[size_t(gapStart)] != 0)
            ++gapStart;
        int gapEnd = gapStart;
        while (gapEnd + 1 < kBankSize && writtenBy[size_t(gapEnd + 1)] == 0)
            ++gapEnd;
        return Result<ConfigurationBank>::failure({Problem{
            path,
            {},
            QStringLiteral("no S2 record holds bank %1 at %2-%3 (%4 of %5 bytes missing)")
                .arg(bankNumber)
                .arg(addressText(first + quint32(gapStart)), addressText(first + quint32(gapEnd)))
                .arg(kBankSize - coveredCount)
                .arg(kBankSize)}});
    }
    return {bank, {}, {}};
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

Result<bool> sRecordFileHasBankRecords(const QString& path, int bankNumber)
{
    const quint32 first = bankFirstAddress(bankNumber);
    const quint32 last = bankLastAddress(bankNumber);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Result<bool>::failure(
            {Problem{{}, {}, cannotOpenFileMessage(path, file.errorString())}});
    SRecordLines lines(file);
    QByteArrayView line;
    while (lines.next(line)) {
        if (line.size() < 2 || line[0] != 'S' || line[1] != '2')
            continue;
        const qint64 address = sRecordLineAddress(line.data(), line.size());
        if (address >= qint64(first) && address <= qint64(last))
            return {true, {}, {}};
    }
    if (!lines.fault().isEmpty())
        return Result<bool>::failure(
            {lines.faultLine() > 0 ? sRecordLineProblem(path, lines.faultLine(), lines.fault())
                                   : Problem{{}, {}, cannotReadFileMessage(path, lines.fault())}});
    return {false, {}, {}};
}

} // namespace quillner
