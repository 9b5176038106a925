#pragma once

#include "cli_support.h"

namespace quillner::cli {

// The project chain, as "Update Device" runs it, and the descriptions of a project or a bank.
const CommandSpec& compileCommand();
const CommandSpec& mergeCommand();
const CommandSpec& updateCommand();
const CommandSpec& showCommand();
const CommandSpec& decodeCommand();

} // namespace quillner::cli
