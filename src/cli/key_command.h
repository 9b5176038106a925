#pragma once

#include "cli_support.h"

namespace quillner::cli {

const CommandSpec& keyCommand();

} // namespace quillner::cli
