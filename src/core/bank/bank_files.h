#pragma once

#include "core/app/app_paths.h"
#include "core/bank/bank_compiler.h"

#include <QByteArray>

#include <functional>

namespace quillner {

// <projectDir>/bin/bank1.bin and <projectDir>/bin/bankg.c
QString bankBinaryPath(const QString& projectDir);
QString bankSourcePath(const QString& projectDir);

// The C rendering of the bank: 1027 CR LF lines, 117 824 bytes.
QByteArray bankSourceText(const ConfigurationBank& bank);

// Both replace their file atomically and throw "Cannot create file "path". cause" on failure,
// also when bin or the file is a symbolic link (checkProjectOutput).
void SaveBankBinary(const QString& projectDir, const ConfigurationBank& bank);
void SaveBankSource(const QString& projectDir, const ConfigurationBank& bank);

// Writes bin/bank1.bin and bin/bankg.c as a pair: both are renamed into place only once both are
// complete, so that the two never hold different banks. A missing bin folder is made first (git
// keeps no empty folder), inside the project folder only: never the project folder itself, never
// through a symbolic link. Throws as SaveBankBinary does.
void SaveBankFiles(const QString& projectDir, const ConfigurationBank& bank);

// What compileAndWriteBank did.
struct BankBuild
{
    CompiledBank compiled;
    bool written = false; // both bank files hold compiled.bank
};

// The first half of every update: compiles the project's documents (CompileBank) and writes both
// bank files (SaveBankFiles) when goOn, shown the compile, says the bank may go on; goOn is where
// the caller tells the compile's warnings and decides, or asks, about unreadable documents.
// Throws what SaveBankFiles throws.
BankBuild compileAndWriteBank(const AppPaths& paths,
                              const std::function<bool(const CompiledBank&)>& goOn);

} // namespace quillner
