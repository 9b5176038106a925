#pragma once

#include "core/app/hex_text.h"
#include "core/device/bank_layout.h"

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

// A hexadecimal digit's value, -1 for any other character: a line is read at the speed of a table.
inline int hexDigit(char c)
{
    return hex::digitValue(c);
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


} // namespace quillner
