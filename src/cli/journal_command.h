#pragma once

#include "cli_support.h"

namespace quillner::cli {

const CommandSpec& journalShowCommand();

} // namespace quillner::cli
