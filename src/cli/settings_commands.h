#pragma once

#include "cli_support.h"

namespace quillner::cli {

// "quillner-cli new DIR": a new project folder, as the New project window makes it.
const CommandSpec& newCommand();
// "quillner-cli set PROJECT KEY=VALUE...": the general parameters by name, in units.
const CommandSpec& setCommand();
// "quillner-cli get PROJECT [KEY]": one setting, or the whole description.
const CommandSpec& getCommand();

} // namespace quillner::cli
