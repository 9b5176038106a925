#pragma once

#include "command_table.h"
#include "core/logs/recording.h"

// What the filter commands run, each in the file of its idea: editing the filter (set, fit,
// import-dbc) and judging or telling traffic by it (test, export). Their table is in
// filter_commands.cpp.
namespace quillner::cli::filter {

int runSet(const CommandLine& line);
int runFit(const CommandLine& line);
int runImportDbc(const CommandLine& line);
int runTest(const CommandLine& line);
int runExport(const CommandLine& line);

// What --partial makes of a recording that ends inside a line or an object.
inline CutShort cutShortOf(const CommandLine& line)
{
    return line.isSet("partial") ? CutShort::Read : CutShort::Refused;
}

} // namespace quillner::cli::filter
