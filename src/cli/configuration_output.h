#pragma once

#include "core/app/app_paths.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/configuration_description.h"

#include <optional>

namespace quillner::cli {

// Tells what the compile met and whether the command goes on: an unreadable document is an
// error that ends it, unless --lenient makes it a warning; values outside their lists and
// documents not saved yet are warnings.
bool acceptCompile(const CompiledBank& compiled, bool lenient,
                   const QString& stopped = QStringLiteral(
                       "nothing was written (--lenient builds the bank with zeros for what was "
                       "not read)"));

// The project compiled in memory, its problems told on standard error; none when an unreadable
// document stops the command.
std::optional<ConfigurationDescription> describeProjectForCommand(const AppPaths& paths,
                                                                  bool lenient);

// The description on standard output: its lines, or with json the schema's object.
void printConfiguration(const ConfigurationDescription& configuration, bool json);

} // namespace quillner::cli
