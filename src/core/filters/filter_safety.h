#pragma once

#include "core/filters/filter20b.h"

namespace quillner {

// A 2.0B filter without a single entry in the list of its mode puts no filter word into the
// bank, and the device then lets every extended frame through. No command writes one unless the
// user asks for it.
bool opensTheGateway(const Filter20B& filter);

// Throws "... lets every extended frame through; nothing was written (--allow-all writes it on
// purpose)" for such a filter, unless allowAll.
void refuseOpenGateway(const Filter20B& filter, bool allowAll);

} // namespace quillner
