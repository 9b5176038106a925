#pragma once

#include "cli_support.h"

namespace quillner::cli {

const CommandSpec& importCommand();

} // namespace quillner::cli
