#pragma once

#include "core/bank/bank_compiler.h"
#include "core/device/bank_records.h"

#include <QString>

namespace quillner {

// A bank read back from a file: a raw 16 384-byte bank image, or a Motorola S-record firmware
// read as readBankFromSRecords reads it. Throws with the reason when it is neither or cannot be
// read.
ConfigurationBank readBankFile(const QString& path, int bankNumber = 1);

} // namespace quillner
