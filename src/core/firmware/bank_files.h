#pragma once

#include "core/firmware/bank_compiler.h"

#include <QByteArray>

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

} // namespace quillner
