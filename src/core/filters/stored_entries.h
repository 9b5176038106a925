#pragma once

#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QString>

namespace quillner {

// What a filter writer stored, for the line it prints after the file's name, so that a typing
// slip shows at once: "Visible: 0x100-0x1FF, 0x7DF", "Identifiers: 0x18FEF100, 0x18FEF200" or
// "Patterns: 1100011111110111100010000000x"; "none" for an empty list.
QString storedEntriesText(const Filter20A& filter);
QString storedEntriesText(const Filter20B& filter);

} // namespace quillner
