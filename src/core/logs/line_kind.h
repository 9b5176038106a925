#pragma once

#include "core/app/hex_text.h"
#include "core/device/bank_layout.h"

#include <QByteArrayView>

#include <array>
#include <bit>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first byte of [from, end) that is the one sought, or null. Sixteen bytes are compared at
// once inline: the lines of a recording are short, and a library call for each costs as much as
// the search.
inline const char* findByte(const char* from, const char* end, char byte)
{
#if defined(__SSE2__)
    const __m128i sought = _mm_set1_epi8(byte);
    const auto found16 = [&](const char* at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return quint64(quint16(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, sought))));
    };
    // A line of most recordings ends within 64 bytes: one step of the loop, whose branch is
    // then always foreseen.
    for (; end - from >= 64; from += 64) {
        const quint64 found = found16(from) | found16(from + 16) << 16 | found16(from + 32) << 32 |
                              found16(from + 48) << 48;
        if (found != 0)
            return from + std::countr_zero(found);
    }
    for (; end - from >= 16; from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const int found = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, sought));
        if (found != 0)
            return from + std::countr_zero(unsigned(found));
    }
#endif
    return static_cast<const char*>(std::memchr(from, byte, size_t(end - from)));
}

// The whole text as a hexadecimal number of at most eight digits.
std::optional<quint32> hexNumber(QByteArrayView text);
// The whole text as a decimal number that fits 32 bits.
std::optional<quint32> decimalNumber(QByteArrayView text);
// Splits off the next blank-separated word of the line.
QByteArrayView nextWord(QByteArrayView& rest);

} // namespace quillner
