#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <string_view>

// Hexadecimal text as this tool writes it, upper-case digits, and reads it, either case.
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

// The byte of two digits, -1 when either is not one.
inline int byteValue(char high, char low)
{
    const int h = digitValue(high);
    const int l = digitValue(low);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

// The byte of every two characters, indexed by the first plus 256 times the second; -1 where
// either is not a digit. One look-up a byte, for readers that go through millions of records.
// Only the pairs of digits are visited after the fill, which keeps the work within what every
// compiler evaluates at compile time.
inline constexpr std::array<qint16, 65536> kPairValues = [] {
    std::array<qint16, 65536> values{};
    values.fill(-1);
    constexpr char kEitherCase[] = "0123456789ABCDEFabcdef";
    for (const char first : std::string_view(kEitherCase)) {
        for (const char second : std::string_view(kEitherCase)) {
            values[size_t(quint8(first)) | size_t(quint8(second)) << 8] =
                qint16(kDigitValues[quint8(first)] * 16 + kDigitValues[quint8(second)]);
        }
    }
    return values;
}();

// The byte of the two digits at text, -1 when either is not one.
inline int pairValue(const char* text)
{
    return kPairValues[size_t(quint8(text[0])) | size_t(quint8(text[1])) << 8];
}

// The value in upper-case digits, with '0' in front up to width digits (a wider value keeps all
// of its digits).
inline QString upperText(qint64 value, int width)
{
    return QString::number(value, 16).toUpper().rightJustified(width, u'0');
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

} // namespace quillner::hex
