#pragma once

#include "cli_support.h"

namespace quillner::cli {

// quillner-cli report PROJECT_DIR [--log FILE]... [--dbc FILE] -o REPORT.html: the project's
// configuration, and the recordings tested against it, as one HTML page to hand on.
const CommandSpec& reportCommand();

} // namespace quillner::cli
