#pragma once

#include "cli_support.h"

namespace quillner::cli {

// quillner-cli verify MERGED --master FIRMWARE (--bank BANK | --project DIR) [--json]: whether
// MERGED is FIRMWARE with the bank as bank 1 and nothing else changed. Exit status 0 when it
// holds, 1 with the report on standard error (or in the JSON object) when not.
const CommandSpec& verifyCommand();

} // namespace quillner::cli
