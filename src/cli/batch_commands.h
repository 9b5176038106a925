#pragma once

#include "cli_support.h"

namespace quillner::cli {

// Many projects at once: one per row of a CSV table, each built and merged as update does.
const CommandSpec& batchCommand();

} // namespace quillner::cli
