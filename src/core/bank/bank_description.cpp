#include "core/bank/bank_description.h"

#include "core/app/counted_noun.h"

#include "core/app/hex_text.h"
#include "core/device/settings.h"
#include "core/filters/mask_pattern.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace quillner {

namespace {

// The parity in lower case, or empty for a code no window writes.
QString parityName(int code)
{
    const std::optional<int> index = settingCodeOfBankByte(Setting::SerialParity, quint8(code));
    return index ? settingValueOfCode(Setting::SerialParity, *index) : QString();
}

// The value in units of a baud-rate byte, or none for a code no window writes.
std::optional<int> baudOfByte(Setting setting, int code)
{
    const std::optional<int> index = settingCodeOfBankByte(setting, quint8(code));
    return index ? settingNumberOfCode(setting, *index) : std::nullopt;
}

QString identifier20AText(int identifier)
{
    return QStringLiteral("0x") + hex::upperText(identifier, 4);
}

QString identifier20BText(quint32 identifier)
{
    return QStringLiteral("0x%1 (%2)").arg(hex::upperText(identifier, 8)).arg(identifier);
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

void addProblem(BankDescription& d, int offset, const QString& setting, const QString& text)
{
    d.problems.append(Problem{{}, QStringLiteral("offset %1 (%2)").arg(offset).arg(setting), text});
}

// A flag byte that windows write as 0 or 1 only.
void checkFlag(BankDescription& d, int offset, int code, const QString& setting)
{
    if (code > 1)
        addProblem(d, offset, setting, QStringLiteral("code %1 is neither 0 nor 1").arg(code));
}

// The values of the bank that no window can produce.
void findProblems(BankDescription& d)
{
    if (!d.serialBaud)
        addProblem(d, kSerialBaudOffset, settingDescription(Setting::SerialBaud),
                   QStringLiteral("unknown baud code %1").arg(d.serialBaudCode));
    if (d.parity.isEmpty())
        addProblem(d, kParityOffset, settingDescription(Setting::SerialParity),
                   QStringLiteral("unknown parity code %1").arg(d.parityCode));
    checkFlag(d, kCanTypeOffset, d.canTypeCode, settingDescription(Setting::CanFormat));
    if (!d.canBaudKbit)
        addProblem(d, kCanBaudOffset, settingDescription(Setting::CanBaud),
                   QStringLiteral("unknown baud code %1").arg(d.canBaudCode));
    checkFlag(d, kRemoteFramesOffset, d.remoteFramesCode, settingDescription(Setting::CanRtr));
    if (d.canTypeB()) {
        checkFlag(d, kFilterModeOffset, d.filterModeCode, QStringLiteral("filter mode"));
        checkFlag(d, kListFunctionOffset, d.listFunctionCode, QStringLiteral("list function"));
        const int most = d.filterModeCode == 1 ? kFilterWordCount : kMaxPatterns;
        if (d.entryCount > most)
            addProblem(d, kEntryCountOffset, QStringLiteral("filter entries"),
                       QStringLiteral("%1 entries, the device reads at most %2")
                           .arg(d.entryCount)
                           .arg(most));
    }
    if (!d.reservedNonZero.isEmpty())
        addProblem(d, d.reservedNonZero.first(), QStringLiteral("reserved"),
                   QStringLiteral("%1 reserved bytes are not zero, the first here")
                       .arg(d.reservedNonZero.size()));
}

} // namespace

BankDescription describeBank(const ConfigurationBank& bank)
{
    BankDescription d;
    d.serialBaudCode = bank[kSerialBaudOffset];
    d.serialBaud = baudOfByte(Setting::SerialBaud, d.serialBaudCode);
    d.parityCode = bank[kParityOffset];
    d.parity = parityName(d.parityCode);
    d.canTypeCode = bank[kCanTypeOffset];
    d.canBaudCode = bank[kCanBaudOffset];
    d.canBaudKbit = baudOfByte(Setting::CanBaud, d.canBaudCode);
    d.remoteFramesCode = bank[kRemoteFramesOffset];

    std::vector<bool> used(kBankSize, false);
    for (int offset = kSerialBaudOffset; offset <= kRemoteFramesOffset; ++offset)
        used[size_t(offset)] = true;

    if (!d.canTypeB()) {
        d.filterKind = BankDescription::FilterKind::Identifiers20A;
        int rangeStart = -1;
        for (int id = 0; id <= kStandardIdCount; ++id) {
            const bool hidden = id < kStandardIdCount && !identifierVisible(bank, id);
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
        d.filter = readBankFilter(bank);
        const BankFilterHeader header = readBankFilterHeader(bank);
        d.filterPresent = header.present != 0;
        d.filterModeCode = header.mode;
        d.listFunctionCode = header.listFunction;
        d.entryCount = header.entryCount;
        for (int offset = kFilterPresentOffset; offset <= kEntryCountOffset; ++offset)
            used[size_t(offset)] = true;
        // The stored entries' words are the filter's even where the device ignores them, so that
        // they are not taken for reserved bytes.
        const int words = header.storedWords();
        switch (d.filter.kind) {
        case BankFilter::Kind::None:
            d.filterKind = BankDescription::FilterKind::NoFilter20B;
            break;
        case BankFilter::Kind::List:
            d.filterKind = BankDescription::FilterKind::IdentifierList20B;
            d.identifiers = d.filter.identifiers;
            break;
        case BankFilter::Kind::Patterns:
            d.filterKind = BankDescription::FilterKind::Mask20B;
            for (const StoredPattern& pair : d.filter.patterns)
                d.patterns.append({pair.nonZeroBits, pair.oneBits,
                                   BitsToPattern(pair.nonZeroBits, pair.oneBits)});
            break;
        }
        for (int offset = 0; offset < kFilterWordBytes * words; ++offset)
            used[size_t(kFilterAreaOffset + offset)] = true;
    }

    for (int offset = 0; offset < kBankSize; ++offset) {
        if (!used[size_t(offset)] && bank[size_t(offset)] != 0)
            d.reservedNonZero.append(offset);
    }
    d.erased = isErasedBank(bank);
    findProblems(d);
    return d;
}

QString erasedBankText(int bankNumber)
{
    return QStringLiteral("bank %1 is erased (all 0xFF): this firmware was never configured")
        .arg(bankNumber);
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
        const int visible = kStandardIdCount - d.hiddenCount;
        if (d.hiddenCount == 0) {
            lines
                << QStringLiteral("Filter: 2.0A, all %1 identifiers visible").arg(kStandardIdCount);
            break;
        }
        lines << QStringLiteral("Filter: 2.0A, %1 of %2 identifiers visible")
                     .arg(visible)
                     .arg(kStandardIdCount);
        QStringList ranges;
        for (const auto& range : d.hiddenIdentifiers) {
            ranges << (range.first == range.last
                           ? identifier20AText(range.first)
                           : identifier20AText(range.first) + u'-' + identifier20AText(range.last));
        }
        lines << QStringLiteral("Hidden identifiers: ") + ranges.join(QStringLiteral(", "));
        break;
    }
    case BankDescription::FilterKind::NoFilter20B:
        lines << QStringLiteral("Filter: 2.0B, none: every extended frame passes");
        break;
    case BankDescription::FilterKind::IdentifierList20B:
        lines << QStringLiteral("Filter: 2.0B identifier list, type %1, %2")
                     .arg(nameOrCode(listFunctionName(d.listFunctionCode), d.listFunctionCode),
                          counted(d.entryCount, "identifier"));
        for (const quint32 identifier : d.identifiers)
            lines << QStringLiteral("Identifier: ") + identifier20BText(identifier);
        break;
    case BankDescription::FilterKind::Mask20B:
        lines << QStringLiteral("Filter: 2.0B mask, %1").arg(counted(d.entryCount, "pattern"));
        for (const auto& pattern : d.patterns)
            lines << QStringLiteral("Pattern: ") + pattern.pattern;
        break;
    }
    if (d.canTypeB() && d.entryCount > 0 && !d.filterPresent)
        lines << QStringLiteral("%1 stored but not marked as present: the device ignores them")
                     .arg(counted(d.entryCount, "filter entry", "filter entries"));
    else if (d.filterKind != BankDescription::FilterKind::NoFilter20B && d.canTypeB() &&
             d.filter.passesEveryExtendedFrame())
        lines << QStringLiteral("Every extended frame passes this filter");
    if (!d.reservedNonZero.isEmpty()) {
        QStringList offsets;
        for (const int offset : d.reservedNonZero)
            offsets << QString::number(offset);
        lines << QStringLiteral("Reserved bytes not zero at offsets: ") +
                     offsets.join(QStringLiteral(", "));
    }
    return lines.join(u'\n') + u'\n';
}

QString filterKindName(BankDescription::FilterKind kind)
{
    switch (kind) {
    case BankDescription::FilterKind::Identifiers20A:
        return QStringLiteral("2.0A");
    case BankDescription::FilterKind::NoFilter20B:
        return QStringLiteral("2.0B none");
    case BankDescription::FilterKind::IdentifierList20B:
        return QStringLiteral("2.0B list");
    case BankDescription::FilterKind::Mask20B:
        return QStringLiteral("2.0B mask");
    }
    return {};
}

QString filterFunctionName(const BankDescription& d)
{
    return d.filterKind == BankDescription::FilterKind::IdentifierList20B
               ? listFunctionName(d.listFunctionCode)
               : QStringLiteral("pass");
}

} // namespace quillner
