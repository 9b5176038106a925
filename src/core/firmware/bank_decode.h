#pragma once

#include "core/firmware/configuration_bank.h"

#include <QJsonObject>
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

    enum class FilterKind { Identifiers20A, IdentifierList20B, Mask20B };

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
    // CAN 2.0B.
    bool filterPresent = false;
    int filterModeCode = 0;
    int listFunctionCode = 0;
    int entryCount = 0;
    QList<quint32> identifiers;
    QList<MaskPattern> patterns;

    // Offsets of reserved bytes that are not zero; none in a bank this tool compiled.
    QList<int> reservedNonZero;

    bool canTypeB() const { return canTypeCode != 0; }
};

inline constexpr int kCan20AIdentifiers = 2048;
inline constexpr int kPatternLength = 29;

BankDescription describeBank(const ConfigurationBank& bank);

// The pattern of a stored mask pair: '1' where both values have the bit, 'x' where one has it,
// '0' where neither has it; bit 28 first, bits above it ignored.
QString maskPattern(quint32 nonZeroBits, quint32 oneBits);

// Readable lines, each ended by "\n".
QString bankDescriptionText(const BankDescription& description);
QJsonObject bankDescriptionJson(const BankDescription& description);

// A bank read back from a file: a raw 16 384-byte bank image, or a Motorola S-record firmware
// whose S2 records of the bank's range are collected. Every S-record's checksum is checked.
// Throws with the reason when the file cannot be read, a record is malformed or has a wrong
// checksum, or some byte of the bank's range has no record.
ConfigurationBank readBankFile(const QString& path, int bankNumber = 1);
ConfigurationBank readBankFromSRecords(const QString& path, int bankNumber = 1);

// Whether the S-record file holds an S2 record starting inside the bank's range. Reads the
// file once; checks nothing else.
bool sRecordFileHasBankRecords(const QString& path, int bankNumber = 1);

} // namespace quillner
