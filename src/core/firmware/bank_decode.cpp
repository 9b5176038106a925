#include "core/firmware/bank_decode.h"

#include "core/firmware/hex_text.h"

#include "core/app/error.h"
#include "core/firmware/srec_merge.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QStringList>

#include <array>
#include <vector>

namespace quillner {

namespace {

constexpr std::array<int, 8> kSerialBauds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// CAN baud-rate codes start at 1: the bank holds the window's list index plus one.
constexpr std::array<int, 9> kCanBaudsKbit = {10, 20, 50, 100, 125, 250, 500, 800, 1000};

constexpr int kSerialBaudOffset = 0;
constexpr int kParityOffset = 1;
constexpr int kCanTypeOffset = 2;
constexpr int kCanBaudOffset = 3;
constexpr int kRemoteFramesOffset = 4;
constexpr int kFilterPresentOffset = 10;
constexpr int kFilterModeOffset = 11;
constexpr int kListFunctionOffset = 12;
constexpr int kEntryCountOffset = 13;
constexpr int kFilterAreaOffset = 100;
constexpr int kBitmapBytes = kCan20AIdentifiers / 8;

quint32 filterWord(const ConfigurationBank& bank, int index)
{
    const int offset = kFilterAreaOffset + 4 * index;
    return quint32(bank[offset]) | quint32(bank[offset + 1]) << 8 |
           quint32(bank[offset + 2]) << 16 | quint32(bank[offset + 3]) << 24;
}

QString parityName(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("none");
    case 3:
        return QStringLiteral("odd");
    case 1:
        return QStringLiteral("even");
    default:
        return {};
    }
}

QString identifier20AText(int identifier)
{
    return QStringLiteral("0x") + QString::number(identifier, 16).toUpper().rightJustified(4, u'0');
}

QString identifier20BText(quint32 identifier)
{
    return QStringLiteral("0x%1 (%2)")
        .arg(QString::number(identifier, 16).toUpper().rightJustified(8, u'0'))
        .arg(identifier);
}

QString listFunctionName(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("positive");
    case 0:
        return QStringLiteral("negative");
    default:
        return {};
    }
}

QString nameOrCode(const QString& name, int code)
{
    return name.isEmpty() ? QStringLiteral("unknown (code %1)").arg(code) : name;
}

QString plural(int count, const QString& singular, const QString& pluralForm)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? singular : pluralForm);
}

// --- S-records ---------------------------------------------------------------------------

QString hexByteText(quint8 value)
{
    return QString::number(value, 16).toUpper().rightJustified(2, u'0');
}

struct SRecord
{
    char type = 0;
    quint32 address = 0;
    QByteArray data;
};

QString lineError(const QString& path, qint64 lineNumber, const QString& what)
{
    return QStringLiteral("%1, line %2: %3").arg(path).arg(lineNumber).arg(what);
}

// Parses one record line (without its line end); throws with the line's number on a fault.
SRecord parseRecord(const QByteArray& line, const QString& path, qint64 lineNumber)
{
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        throw Error(lineError(path, lineNumber, QStringLiteral("not an S-record")));
    if (line.size() % 2 != 0)
        throw Error(
            lineError(path, lineNumber, QStringLiteral("odd number of hexadecimal digits")));
    QByteArray bytes;
    bytes.reserve((line.size() - 2) / 2);
    for (qsizetype i = 2; i < line.size(); i += 2) {
        const int high = hex::digitValue(line[i]);
        const int low = hex::digitValue(line[i + 1]);
        if (high < 0 || low < 0)
            throw Error(lineError(path, lineNumber,
                                  QStringLiteral("'%1' is not a hexadecimal byte")
                                      .arg(QString::fromLatin1(line.mid(i, 2)))));
        bytes.append(char(high * 16 + low));
    }
    const int count = quint8(bytes[0]);
    if (count != bytes.size() - 1)
        throw Error(lineError(path, lineNumber,
                              QStringLiteral("the byte count says %1 bytes, the record holds %2")
                                  .arg(count)
                                  .arg(bytes.size() - 1)));
    SRecord record;
    record.type = line[1];
    const int width = hex::sRecordAddressBytes(record.type);
    if (count < width + 1)
        throw Error(lineError(path, lineNumber, QStringLiteral("too short for its address")));
    quint32 sum = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i)
        sum += quint8(bytes[i]);
    const quint8 computed = quint8(~sum);
    const quint8 written = quint8(bytes.back());
    if (computed != written)
        throw Error(lineError(path, lineNumber,
                              QStringLiteral("wrong checksum (%1 written, %2 computed)")
                                  .arg(hexByteText(written), hexByteText(computed))));
    for (int i = 0; i < width; ++i)
        record.address = record.address << 8 | quint8(bytes[1 + i]);
    record.data = bytes.mid(1 + width, count - width - 1);
    return record;
}

// Calls handle(record) for each record of the file, blank lines skipped.
template <typename Handler> void forEachRecord(const QString& path, Handler&& handle)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    qint64 lineNumber = 0;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        ++lineNumber;
        while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        handle(parseRecord(line, path, lineNumber));
    }
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
}

QString addressText(quint32 address)
{
    return QStringLiteral("0x%1").arg(
        QString::number(address, 16).toUpper().rightJustified(6, u'0'));
}

} // namespace

QString maskPattern(quint32 nonZeroBits, quint32 oneBits)
{
    QString pattern(kPatternLength, u'0');
    for (int bit = kPatternLength - 1; bit >= 0; --bit) {
        const bool first = nonZeroBits >> bit & 1;
        const bool second = oneBits >> bit & 1;
        pattern[kPatternLength - 1 - bit] =
            first && second ? u'1' : (first || second ? u'x' : u'0');
    }
    return pattern;
}

BankDescription describeBank(const ConfigurationBank& bank)
{
    BankDescription d;
    d.serialBaudCode = bank[kSerialBaudOffset];
    if (d.serialBaudCode < int(kSerialBauds.size()))
        d.serialBaud = kSerialBauds[size_t(d.serialBaudCode)];
    d.parityCode = bank[kParityOffset];
    d.parity = parityName(d.parityCode);
    d.canTypeCode = bank[kCanTypeOffset];
    d.canBaudCode = bank[kCanBaudOffset];
    if (d.canBaudCode >= 1 && d.canBaudCode <= int(kCanBaudsKbit.size()))
        d.canBaudKbit = kCanBaudsKbit[size_t(d.canBaudCode - 1)];
    d.remoteFramesCode = bank[kRemoteFramesOffset];

    std::vector<bool> used(kBankSize, false);
    for (int offset = kSerialBaudOffset; offset <= kRemoteFramesOffset; ++offset)
        used[size_t(offset)] = true;

    if (!d.canTypeB()) {
        d.filterKind = BankDescription::FilterKind::Identifiers20A;
        int rangeStart = -1;
        for (int id = 0; id <= kCan20AIdentifiers; ++id) {
            const bool hidden = id < kCan20AIdentifiers &&
                                !(bank[size_t(kFilterAreaOffset + id / 8)] >> (id % 8) & 1);
            if (hidden) {
                ++d.hiddenCount;
                if (rangeStart < 0)
                    rangeStart = id;
            } else if (rangeStart >= 0) {
                d.hiddenIdentifiers.append({rangeStart, id - 1});
                rangeStart = -1;
            }
        }
        for (int offset = 0; offset < kBitmapBytes; ++offset)
            used[size_t(kFilterAreaOffset + offset)] = true;
    } else {
        d.filterPresent = bank[kFilterPresentOffset] != 0;
        d.filterModeCode = bank[kFilterModeOffset];
        d.listFunctionCode = bank[kListFunctionOffset];
        d.entryCount = bank[kEntryCountOffset];
        for (int offset = kFilterPresentOffset; offset <= kEntryCountOffset; ++offset)
            used[size_t(offset)] = true;
        int words = 0;
        if (d.filterModeCode == 1) {
            d.filterKind = BankDescription::FilterKind::IdentifierList20B;
            words = d.entryCount;
            for (int i = 0; i < d.entryCount; ++i)
                d.identifiers.append(filterWord(bank, i));
        } else {
            d.filterKind = BankDescription::FilterKind::Mask20B;
            words = 2 * d.entryCount;
            for (int k = 0; k < d.entryCount; ++k) {
                const quint32 nonZero = filterWord(bank, 2 * k);
                const quint32 ones = filterWord(bank, 2 * k + 1);
                d.patterns.append({nonZero, ones, maskPattern(nonZero, ones)});
            }
        }
        for (int offset = 0; offset < 4 * words; ++offset)
            used[size_t(kFilterAreaOffset + offset)] = true;
    }

    for (int offset = 0; offset < kBankSize; ++offset) {
        if (!used[size_t(offset)] && bank[size_t(offset)] != 0)
            d.reservedNonZero.append(offset);
    }
    return d;
}

QString bankDescriptionText(const BankDescription& d)
{
    QStringList lines;
    const QString baud = d.serialBaud
                             ? QStringLiteral("%1 bit/s").arg(*d.serialBaud)
                             : QStringLiteral("unknown baud rate (code %1)").arg(d.serialBaudCode);
    lines << QStringLiteral("Serial line: %1, parity %2")
                 .arg(baud, nameOrCode(d.parity, d.parityCode));
    lines << (d.canTypeB() ? QStringLiteral("CAN frame format: 2.0B (29-bit identifiers)")
                           : QStringLiteral("CAN frame format: 2.0A (11-bit identifiers)"));
    lines << QStringLiteral("CAN baud rate: %1")
                 .arg(d.canBaudKbit ? QStringLiteral("%1 kbit/s").arg(*d.canBaudKbit)
                                    : QStringLiteral("unknown (code %1)").arg(d.canBaudCode));
    lines << QStringLiteral("Remote frames: %1")
                 .arg(d.remoteFramesCode == 0 ? QStringLiteral("off")
                      : d.remoteFramesCode == 1
                          ? QStringLiteral("on")
                          : QStringLiteral("code %1").arg(d.remoteFramesCode));

    switch (d.filterKind) {
    case BankDescription::FilterKind::Identifiers20A: {
        const int visible = kCan20AIdentifiers - d.hiddenCount;
        if (d.hiddenCount == 0) {
            lines << QStringLiteral("Filter: 2.0A, all %1 identifiers visible")
                         .arg(kCan20AIdentifiers);
            break;
        }
        lines << QStringLiteral("Filter: 2.0A, %1 of %2 identifiers visible")
                     .arg(visible)
                     .arg(kCan20AIdentifiers);
        QStringList ranges;
        for (const auto& range : d.hiddenIdentifiers) {
            ranges << (range.first == range.last
                           ? identifier20AText(range.first)
                           : identifier20AText(range.first) + u'-' + identifier20AText(range.last));
        }
        lines << QStringLiteral("Hidden identifiers: ") + ranges.join(QStringLiteral(", "));
        break;
    }
    case BankDescription::FilterKind::IdentifierList20B:
        lines << QStringLiteral("Filter: 2.0B identifier list, type %1, %2")
                     .arg(nameOrCode(listFunctionName(d.listFunctionCode), d.listFunctionCode),
                          plural(d.entryCount, QStringLiteral("identifier"),
                                 QStringLiteral("identifiers")));
        for (const quint32 identifier : d.identifiers)
            lines << QStringLiteral("Identifier: ") + identifier20BText(identifier);
        break;
    case BankDescription::FilterKind::Mask20B:
        lines << QStringLiteral("Filter: 2.0B mask, %1")
                     .arg(plural(d.entryCount, QStringLiteral("pattern"),
                                 QStringLiteral("patterns")));
        for (const auto& pattern : d.patterns)
            lines << QStringLiteral("Pattern: ") + pattern.pattern;
        break;
    }
    if (d.canTypeB() && d.entryCount > 0 && !d.filterPresent)
        lines << QStringLiteral("Filter entries are not marked as present");
    if (!d.reservedNonZero.isEmpty()) {
        QStringList offsets;
        for (const int offset : d.reservedNonZero)
            offsets << QString::number(offset);
        lines << QStringLiteral("Reserved bytes not zero at offsets: ") +
                     offsets.join(QStringLiteral(", "));
    }
    return lines.join(u'\n') + u'\n';
}

QJsonObject bankDescriptionJson(const BankDescription& d)
{
    const auto optionalValue = [](const std::optional<int>& value) {
        return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
    };
    const auto nameOrNull = [](const QString& name) {
        return name.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(name);
    };

    QJsonObject serial{{QStringLiteral("baudCode"), d.serialBaudCode},
                       {QStringLiteral("baud"), optionalValue(d.serialBaud)},
                       {QStringLiteral("parityCode"), d.parityCode},
                       {QStringLiteral("parity"), nameOrNull(d.parity)}};
    QJsonObject can{
        {QStringLiteral("formatCode"), d.canTypeCode},
        {QStringLiteral("format"), d.canTypeB() ? QStringLiteral("2.0B") : QStringLiteral("2.0A")},
        {QStringLiteral("identifierBits"), d.canTypeB() ? 29 : 11},
        {QStringLiteral("baudCode"), d.canBaudCode},
        {QStringLiteral("baudKbit"), optionalValue(d.canBaudKbit)},
        {QStringLiteral("remoteFramesCode"), d.remoteFramesCode},
        {QStringLiteral("remoteFrames"), d.remoteFramesCode != 0}};

    QJsonObject filter;
    switch (d.filterKind) {
    case BankDescription::FilterKind::Identifiers20A: {
        QJsonArray hidden;
        for (const auto& range : d.hiddenIdentifiers)
            hidden.append(QJsonObject{{QStringLiteral("first"), range.first},
                                      {QStringLiteral("last"), range.last}});
        filter = {{QStringLiteral("kind"), QStringLiteral("2.0A identifiers")},
                  {QStringLiteral("visibleCount"), kCan20AIdentifiers - d.hiddenCount},
                  {QStringLiteral("hiddenCount"), d.hiddenCount},
                  {QStringLiteral("hidden"), hidden}};
        break;
    }
    case BankDescription::FilterKind::IdentifierList20B: {
        QJsonArray identifiers;
        for (const quint32 identifier : d.identifiers)
            identifiers.append(qint64(identifier));
        filter = {{QStringLiteral("kind"), QStringLiteral("2.0B identifier list")},
                  {QStringLiteral("functionCode"), d.listFunctionCode},
                  {QStringLiteral("function"), nameOrNull(listFunctionName(d.listFunctionCode))},
                  {QStringLiteral("identifiers"), identifiers}};
        break;
    }
    case BankDescription::FilterKind::Mask20B: {
        QJsonArray patterns;
        for (const auto& pattern : d.patterns)
            patterns.append(
                QJsonObject{{QStringLiteral("pattern"), pattern.pattern},
                            {QStringLiteral("nonZeroBits"), qint64(pattern.nonZeroBits)},
                            {QStringLiteral("oneBits"), qint64(pattern.oneBits)}});
        filter = {{QStringLiteral("kind"), QStringLiteral("2.0B mask")},
                  {QStringLiteral("patterns"), patterns}};
        break;
    }
    }
    if (d.canTypeB()) {
        filter.insert(QStringLiteral("present"), d.filterPresent);
        filter.insert(QStringLiteral("modeCode"), d.filterModeCode);
        filter.insert(QStringLiteral("count"), d.entryCount);
    }

    QJsonArray reserved;
    for (const int offset : d.reservedNonZero)
        reserved.append(offset);
    return {{QStringLiteral("serial"), serial},
            {QStringLiteral("can"), can},
            {QStringLiteral("filter"), filter},
            {QStringLiteral("reservedNonZero"), reserved}};
}

ConfigurationBank readBankFromSRecords(const QString& path, int bankNumber)
{
    const quint32 first = bankFirstAddress(bankNumber);
    const quint32 last = bankLastAddress(bankNumber);
    ConfigurationBank bank{};
    std::vector<bool> covered(kBankSize, false);
    int coveredCount = 0;
    forEachRecord(path, [&](const SRecord& record) {
        if (record.type != '2')
            return;
        for (qsizetype i = 0; i < record.data.size(); ++i) {
            const quint32 address = record.address + quint32(i);
            if (address < first || address > last)
                continue;
            const size_t offset = address - first;
            bank[offset] = quint8(record.data[i]);
            if (!covered[offset]) {
                covered[offset] = true;
                ++coveredCount;
            }
        }
    });
    if (coveredCount != kBankSize) {
        // Name the first gap, so that a missing record can be found in the file.
        int gapStart = 0;
        while (covered[size_t(gapStart)])
            ++gapStart;
        int gapEnd = gapStart;
        while (gapEnd + 1 < kBankSize && !covered[size_t(gapEnd + 1)])
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

ConfigurationBank readBankFile(const QString& path, int bankNumber)
{
    const QFileInfo info(path);
    if (!info.isFile())
        throw Error(QStringLiteral("File %1 not found").arg(path));
    if (info.size() == kBankSize) {
        // No S-record file is this short and still holds a whole bank: 512 records are longer.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(
                QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
        const QByteArray bytes = file.readAll();
        if (bytes.size() != kBankSize)
            throw Error(
                QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
        ConfigurationBank bank{};
        std::copy(bytes.cbegin(), bytes.cend(), bank.begin());
        return bank;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    char firstByte = 0;
    if (!file.getChar(&firstByte) || firstByte != 'S')
        throw Error(QStringLiteral("%1 is neither a %2-byte bank image nor an S-record file")
                        .arg(path)
                        .arg(kBankSize));
    file.close();
    return readBankFromSRecords(path, bankNumber);
}

bool sRecordFileHasBankRecords(const QString& path, int bankNumber)
{
    const quint32 first = bankFirstAddress(bankNumber);
    const quint32 last = bankLastAddress(bankNumber);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.size() < 10 || line[0] != 'S' || line[1] != '2')
            continue;
        quint32 address = 0;
        bool digits = true;
        for (int i = 4; i < 10 && digits; ++i) {
            const int digit = hex::digitValue(line[i]);
            digits = digit >= 0;
            address = address << 4 | quint32(std::max(digit, 0));
        }
        if (digits && address >= first && address <= last)
            return true;
    }
    return false;
}

} // namespace quillner
