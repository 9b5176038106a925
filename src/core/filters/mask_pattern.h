#pragma once

#include "core/device/bank_layout.h"

#include <QString>
#include <QStringView>

namespace quillner {

// A mask pattern of the 2.0B filter: 29 characters, the first for identifier bit 28 and the last
// for bit 0. '1' and '0' fix the bit; 'x' or 'X' leaves it free.

// Typed text made a full pattern: '0' characters in front up to 29 characters.
QString PadPattern(const QString& text);

// The first stored value of a pattern: bit k set when character k from the right is not '0'.
quint32 PatternNonZeroBits(QStringView pattern);

// The second stored value: bit k set when character k from the right is '1'.
quint32 PatternOneBits(QStringView pattern);

// The pattern of a stored pair: '1' where a bit is set in both values, 'x' where in one of them,
// '0' where in neither; bits above bit 28 are ignored.
QString BitsToPattern(quint32 first, quint32 second);

// The pattern in the identifier/mask notation of CAN tools, "0x0000038A/0x1FFFFF8F": the
// identifier holds the '1' positions, the mask every position that is not free.
QString patternIdMaskText(QStringView pattern);

} // namespace quillner
