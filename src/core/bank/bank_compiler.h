#pragma once

#include "core/app/problems.h"
#include "core/app/result.h"
#include "core/device/configuration_bank.h"

#include <QString>
#include <QStringList>
#include <array>

namespace quillner {

// A compile: the bank as value. Its problems are the documents that exist but could not be read
// (not well-formed, an element missing, a text that is no integer, no pargen.xml at all), each
// with its file and the element or child where the reading stopped ("Filter20A.xml, child 12:
// ..."); a compile that stops early leaves zeros where it did not reach, so such a bank is not fit
// for the device unless the user says so. Its warnings say what the device gets otherwise than
// the windows would set it: a value outside its list, a filter not saved yet, entries beyond what
// the device reads; each names the setting and what the device gets.
using CompiledBank = Result<ConfigurationBank>;

// Builds the configuration image from the general parameters and the filter document of the
// frame format they name. Never throws. Entries beyond what the device reads (2048 identifiers
// of Filter20A.xml; 65 identifiers or 32 patterns of Filter20B.xml) are not read, and a warning
// says how many were left out; the entry count in byte 13 still counts them all. The bytes never
// depend on what is reported.
CompiledBank CompileBank(const QString& pargenPath, const QString& filter20APath,
                         const QString& filter20BPath);

// How a compile ended, for the command line and the window alike.
enum class CompileOutcome {
    Clean,      // every document read, every value in its list
    Warnings,   // the bank may go on; the warnings are told
    Unreadable, // the bank goes on only when the user chooses to
};

CompileOutcome compileOutcome(const CompiledBank& compiled);

// Whether the bank may be written and the firmware built: without unreadable documents always,
// with them only when the user chose to go on (--lenient, or "Yes" in the window).
bool bankMayGoOn(const CompiledBank& compiled, bool goOnDespiteUnreadable);

// The window's question after a compile with unreadable documents: what could not be read, the
// warnings, and whether to go on with that bank.
QString goOnDespiteUnreadableQuestion(const CompiledBank& compiled);

} // namespace quillner
