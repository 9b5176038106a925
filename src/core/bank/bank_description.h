#pragma once

#include "core/app/problems.h"
#include "core/device/bank_filter.h"
#include "core/device/configuration_bank.h"
#include "core/device/settings.h"

#include <QList>
#include <QString>
#include <optional>

namespace quillner {

// The bank's settings in the terms the user chose them, as the device firmware will read them.
// Codes are kept beside their meaning so that a code no window writes is still shown.
struct BankDescription
{
    struct IdentifierRange
    {
        int first = 0;
        int last = 0;
        friend bool operator==(const IdentifierRange&, const IdentifierRange&) = default;
    };

    struct MaskPattern
    {
        quint32 nonZeroBits = 0; // a bit for every position that is not 0
        quint32 oneBits = 0;     // a bit for every position that is 1
        QString pattern;         // 29 characters, bit 28 first: '1', '0' or 'x'
    };

    // NoFilter20B: a 2.0B bank whose filter is not marked present, through which every extended
    // frame passes.
    enum class FilterKind { Identifiers20A, NoFilter20B, IdentifierList20B, Mask20B };

    int serialBaudCode = 0;
    std::optional<int> serialBaud; // bit/s
    int parityCode = 0;
    QString parity; // "none", "odd", "even", or empty for a code no window writes

    int canTypeCode = 0;
    int canBaudCode = 0;
    std::optional<int> canBaudKbit;
    int remoteFramesCode = 0;

    FilterKind filterKind = FilterKind::Identifiers20A;
    // CAN 2.0A: the hidden identifiers as ascending ranges.
    QList<IdentifierRange> hiddenIdentifiers;
    int hiddenCount = 0;
    // CAN 2.0B: the filter as the device reads it (readBankFilter), and the header's codes as
    // they are stored. identifiers and patterns are the entries the device reads.
    BankFilter filter;
    bool filterPresent = false;
    int filterModeCode = 0;
    int listFunctionCode = 0;
    int entryCount = 0;
    QList<quint32> identifiers;
    QList<MaskPattern> patterns;

    // Offsets of reserved bytes that are not zero; none in a bank this tool compiled.
    QList<int> reservedNonZero;

    // Every byte is 0xFF, as in a firmware whose bank was never configured: nothing above
    // describes a configuration.
    bool erased = false;
    // Values no window can produce, each with the offset and the setting it is met at.
    Problems problems;

    // Whether the filter lets every identifier of the bank's frame format through.
    bool passesEveryIdentifier() const
    {
        return canTypeB() ? filter.passesEveryExtendedFrame() : hiddenCount == 0;
    }

    bool canTypeB() const
    {
        return frameFormatOfBankByte(quint8(canTypeCode)) == FrameFormat::Extended;
    }
};

BankDescription describeBank(const ConfigurationBank& bank);

// "bank 1 is erased (all 0xFF): this firmware was never configured".
QString erasedBankText(int bankNumber);

// Readable lines, each ended by "\n".
QString bankDescriptionText(const BankDescription& description);

// The filter's kind as every description names it: "2.0A", "2.0B none", "2.0B list",
// "2.0B mask".
QString filterKindName(BankDescription::FilterKind kind);
// What the filter does with what it names: "pass" for 2.0A identifiers, mask patterns and no
// filter,
// "positive" or "negative" for an identifier list, empty for a list function no window writes.
QString filterFunctionName(const BankDescription& description);

} // namespace quillner
