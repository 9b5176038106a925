#pragma once

#include "core/firmware/bank_compiler.h"

#include <QString>

namespace quillner {

// A bank read back from a file: a raw 16 384-byte bank image, or a Motorola S-record firmware
// whose S2 records of the bank's range are collected. Every S-record's checksum is checked.
// Throws with the reason when the file cannot be read, a record is malformed or has a wrong
// checksum, or some byte of the bank's range has no record.
ConfigurationBank readBankFile(const QString& path, int bankNumber = 1);
ConfigurationBank readBankFromSRecords(const QString& path, int bankNumber = 1);

// Whether the S-record file holds an S2 record starting inside the bank's range. Reads the
// file once; checks nothing else.
bool sRecordFileHasBankRecords(const QString& path, int bankNumber = 1);

} // namespace quillner
