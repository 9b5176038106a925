#pragma once

#include "core/bank/bank_compiler.h"
#include "core/device/bank_records.h"

#include <QString>

namespace quillner {

// A bank read back from a file: a raw 16 384-byte bank image, or a Motorola S-record firmware
// read as readBankFromSRecords reads it. A problem when it is not found, cannot be opened or is
// neither; what the bank image's or the records' reader refuses it throws as they do.
Result<ConfigurationBank> readBankFile(const QString& path, int bankNumber = 1);

} // namespace quillner
