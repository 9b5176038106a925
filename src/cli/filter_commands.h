#pragma once

#include "cli_support.h"

namespace quillner {

// "quillner-cli filter set|fit|test|import-dbc …": the filter tools, through the same core as
// the filter windows.
const std::vector<cli::CommandSpec>& filterCommands();

} // namespace quillner
