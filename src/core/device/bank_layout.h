#pragma once

// Where each setting lives in the 16 KiB configuration bank, as the device firmware reads it.
// Bytes not named here are reserved and stay zero.
namespace quillner {

inline constexpr int kBankSize = 16384;

// General parameters: one byte each. The codes of the serial and CAN choices are those of
// core/documents/parameter_choices.h.
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
inline constexpr int kStandardIdCount = 2048; // 11-bit identifiers 0 to 0x7FF
inline constexpr int kBitmapBytes = kStandardIdCount / 8;
inline constexpr int kFilterWordBytes = 4;
// The device reads at most this many filter words: 65 identifiers or 32 patterns (two words
// each).
inline constexpr int kFilterWordCount = 65;
inline constexpr int kMaxPatterns = kFilterWordCount / 2;

} // namespace quillner
