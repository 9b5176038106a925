#pragma once

#include <QtGlobal>

// Where each setting lives in the 16 KiB configuration bank, as the device firmware reads it,
// and where the banks lie in the device's memory. Bytes not named here are reserved and stay
// zero.
namespace quillner {

inline constexpr int kBankSize = 16384;

// The firmware has room for banks 1 to 5, one every 64 KiB from bank 1's address; the tool
// builds bank 1 only, but the merge can place any of them.
inline constexpr int kFirstBank = 1;
inline constexpr int kLastBank = 5;
inline constexpr quint32 kBank1Address = 0x388000u;
inline constexpr quint32 kBankStride = 0x10000u;

constexpr bool isBankNumber(int bank)
{
    return bank >= kFirstBank && bank <= kLastBank;
}

constexpr quint32 bankFirstAddress(int bank)
{
    return kBank1Address + quint32(bank - kFirstBank) * kBankStride;
}

constexpr quint32 bankLastAddress(int bank)
{
    return bankFirstAddress(bank) + quint32(kBankSize - 1);
}

// General parameters: one byte each. The codes of the serial and CAN choices are those of
// core/device/settings.h.
inline constexpr int kSerialBaudOffset = 0;
inline constexpr int kParityOffset = 1;
inline constexpr int kCanTypeOffset = 2; // 0 for CAN 2.0A, else 2.0B
inline constexpr int kCanBaudOffset = 3;
inline constexpr int kRemoteFramesOffset = 4;

// CAN 2.0B filter header: one byte each.
inline constexpr int kFilterPresentOffset = 10; // 1 once a filter word was read
inline constexpr int kFilterModeOffset = 11;    // 1 identifier list, else mask patterns
inline constexpr int kListFunctionOffset = 12;  // 1 positive, 0 negative
inline constexpr int kEntryCountOffset = 13;    // identifiers or patterns, all of them counted

// The filter area: for CAN 2.0A a bitmap of the 11-bit identifiers, bit id % 8 of byte id / 8
// set when the identifier is visible; for CAN 2.0B 32-bit words, least significant byte first.
inline constexpr int kFilterAreaOffset = 100;
// The largest identifier of each frame format: 11 bits for CAN 2.0A, 29 bits for CAN 2.0B.
inline constexpr quint32 kStandardIdMax = 0x7FFu;
inline constexpr quint32 kExtendedIdMax = 0x1FFFFFFFu;
inline constexpr int kStandardIdCount = int(kStandardIdMax) + 1; // 11-bit identifiers 0 to 0x7FF
inline constexpr int kBitmapBytes = kStandardIdCount / 8;
inline constexpr int kFilterWordBytes = 4;
// The device reads at most this many filter words: 65 identifiers or 32 patterns (two words
// each).
inline constexpr int kFilterWordCount = 65;
inline constexpr int kMaxPatterns = kFilterWordCount / 2;

// A 2.0B identifier and a mask pattern have 29 bits: bit 28 is the first character of a pattern.
inline constexpr int kPatternLength = 29;
inline constexpr quint32 kPatternBits = kExtendedIdMax;

} // namespace quillner
