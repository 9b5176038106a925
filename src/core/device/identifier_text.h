#pragma once

#include "core/app/hex_text.h"

#include <QString>

namespace quillner {

// A CAN identifier as the tool shows it: "0x", then upper-case digits, three for a standard
// (11-bit) identifier and eight for an extended (29-bit) one, so that the two never read alike.
inline QString identifierText(quint32 id, bool extended)
{
    return QStringLiteral("0x") + hex::upperText(id, extended ? 8 : 3);
}

} // namespace quillner
