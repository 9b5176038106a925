#pragma once

#include "cli_support.h"

namespace quillner::cli {

// describe FILE: a file as one fact a line, for git's textconv.
const CommandSpec& describeCommand();
// diff A B: two configurations compared as the device sees them.
const CommandSpec& diffCommand();

} // namespace quillner::cli
