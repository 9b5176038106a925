#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace quillner {

// The integer syntax of every document and every typed value: leading blanks, an optional sign,
// then decimal digits or, after "$", "x", "X", "0x" or "0X", one to eight hexadecimal digits
// (values above 0x7FFFFFFF wrap to negative 32-bit values). Nothing may follow the digits.
std::optional<qint32> tryParseInt(QStringView text);

// Throws "'text' is not a valid integer value".
qint32 parseIntStrict(const QString& text);

qint32 parseIntLenient(QStringView text, qint32 fallback);

} // namespace quillner
