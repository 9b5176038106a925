#pragma once

#include <QByteArray>
#include <array>

// The hexadecimal text of S-records and of the bank's C rendering: upper-case digits written,
// either case read.
namespace quillner::hex {

inline constexpr char kDigits[] = "0123456789ABCDEF";

inline constexpr std::array<qint8, 256> kDigitValues = [] {
    std::array<qint8, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        values[c] = qint8(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        values[c] = qint8(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        values[c] = qint8(c - 'a' + 10);
    return values;
}();

// The value of one digit, -1 for anything else.
inline int digitValue(char c)
{
    return kDigitValues[quint8(c)];
}

inline void appendByte(char*& out, quint8 value)
{
    *out++ = kDigits[value >> 4];
    *out++ = kDigits[value & 0x0F];
}

inline void appendByte(QByteArray& text, quint8 value)
{
    text += kDigits[value >> 4];
    text += kDigits[value & 0x0F];
}

// The width of an S-record's address field, in bytes, for its type character.
inline int sRecordAddressBytes(char type)
{
    switch (type) {
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 2;
    }
}

} // namespace quillner::hex
