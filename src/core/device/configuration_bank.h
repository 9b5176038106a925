#pragma once

#include "core/device/bank_layout.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace quillner {

// The 16 KiB configuration image in the layout the device firmware reads.
using ConfigurationBank = std::array<quint8, kBankSize>;

// The 2.0A bitmap: identifier n is bit n % 8 of its byte n / 8, set when it is visible.
using IdentifierBitmap = std::array<quint8, kBitmapBytes>;

inline bool bitmapVisible(const quint8* bitmap, int identifier)
{
    return (bitmap[identifier / 8] >> (identifier % 8) & 1) != 0;
}

inline void setBitmapVisible(quint8* bitmap, int identifier)
{
    bitmap[identifier / 8] |= quint8(1u << (identifier % 8));
}

// Whether the bank's 2.0A bitmap lets the 11-bit identifier through.
inline bool identifierVisible(const ConfigurationBank& bank, int identifier)
{
    return bitmapVisible(bank.data() + kFilterAreaOffset, identifier);
}

void storeBitmap(ConfigurationBank& bank, const IdentifierBitmap& bitmap);

// Where filter word i of the 2.0B filter area begins.
constexpr int filterWordOffset(int index)
{
    return kFilterAreaOffset + kFilterWordBytes * index;
}

// The 32-bit 2.0B filter word i, least significant byte first.
inline quint32 filterWord(const ConfigurationBank& bank, int index)
{
    const int offset = filterWordOffset(index);
    return quint32(bank[offset]) | quint32(bank[offset + 1]) << 8 |
           quint32(bank[offset + 2]) << 16 | quint32(bank[offset + 3]) << 24;
}

inline void setFilterWord(ConfigurationBank& bank, int index, quint32 word)
{
    const int offset = filterWordOffset(index);
    for (int b = 0; b < kFilterWordBytes; ++b)
        bank[offset + b] = quint8(word >> (8 * b));
}

// A mask pattern as the 2.0B filter stores it, in two words: the first with a bit for every
// position that is not '0', the second with a bit for every '1'. A position set in one word only
// is free; set in both or in neither, it is fixed to the second word's bit. Bits above bit 28
// take no part.
struct StoredPattern
{
    quint32 nonZeroBits = 0;
    quint32 oneBits = 0;

    quint32 freeBits() const { return (nonZeroBits ^ oneBits) & kPatternBits; }
    quint32 fixedBits() const { return ~(nonZeroBits ^ oneBits) & kPatternBits; }
    quint32 fixedValues() const { return oneBits & fixedBits(); }
    // As the device compares a received 29-bit identifier with the pattern.
    bool passes(quint32 identifier) const { return (identifier & fixedBits()) == fixedValues(); }

    friend bool operator==(const StoredPattern&, const StoredPattern&) = default;
};

// The stored pair of the pattern whose fixed bits hold `values` and whose `freeBits` are free.
inline StoredPattern storedPatternOf(quint32 values, quint32 freeBits)
{
    return {(values | freeBits) & kPatternBits, values & ~freeBits & kPatternBits};
}

// Whether the stored pair is one that a pattern of '0', '1' and 'x' writes: within 29 bits, and
// no position whose second word is set while its first is clear.
inline bool isPatternPair(const StoredPattern& pair)
{
    return pair.nonZeroBits <= kPatternBits && (pair.oneBits & ~pair.nonZeroBits) == 0;
}

// Pattern k of the 2.0B filter area: words 2k and 2k + 1.
inline StoredPattern storedPattern(const ConfigurationBank& bank, int index)
{
    return {filterWord(bank, 2 * index), filterWord(bank, 2 * index + 1)};
}

inline void setStoredPattern(ConfigurationBank& bank, int index, const StoredPattern& pattern)
{
    setFilterWord(bank, 2 * index, pattern.nonZeroBits);
    setFilterWord(bank, 2 * index + 1, pattern.oneBits);
}

// Every byte 0xFF, as in a device memory that was erased and never configured.
bool isErasedBank(const ConfigurationBank& bank);

// The bank of exactly kBankSize bytes; none for any other size.
std::optional<ConfigurationBank> bankOfBytes(QByteArrayView bytes);

// A bank file (bin/bank1.bin): exactly kBankSize bytes. Throws, in readFileBytes' words, when it
// cannot be read or has another size.
ConfigurationBank readBankImageFile(const QString& path);

} // namespace quillner
