#pragma once

#include <QByteArrayView>

#include <array>
#include <optional>

namespace quillner {

// What one line of a text recording is.
enum class LineKind {
    Frame,      // a frame with an identifier
    ErrorFrame, // an error frame: counted, never judged
    Other,      // a header, comment, event or status line: no frame
    Unreadable, // meant as a frame, but not one
};

// Hexadecimal digits by character, -1 for any other: a line is read at the speed of a table.
inline constexpr std::array<qint8, 256> kHexDigits = [] {
    std::array<qint8, 256> digits{};
    digits.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        digits[size_t(c)] = qint8(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        digits[size_t(c)] = qint8(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        digits[size_t(c)] = qint8(c - 'A' + 10);
    return digits;
}();

inline int hexDigit(char c)
{
    return kHexDigits[quint8(c)];
}

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The whole text as a hexadecimal number of at most eight digits.
std::optional<quint32> hexNumber(QByteArrayView text);
// The whole text as a decimal number that fits 32 bits.
std::optional<quint32> decimalNumber(QByteArrayView text);
// Splits off the next blank-separated word of the line.
QByteArrayView nextWord(QByteArrayView& rest);

inline constexpr quint32 kMaxStandardId = 0x7FF;
inline constexpr quint32 kMaxExtendedId = 0x1FFFFFFF;

} // namespace quillner
