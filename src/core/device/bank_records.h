#pragma once

#include "core/app/result.h"
#include "core/device/configuration_bank.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A bank as the firmware's S-records hold it: written as S2 records at the bank's addresses, and
// read back out of a firmware's records.
namespace quillner {

// The merge writes a bank as 512 S2 records of 32 data bytes, each 76 characters.
inline constexpr int kBankRecordCount = 512;
inline constexpr int kBankRecordDataBytes = kBankSize / kBankRecordCount;
inline constexpr int kBankRecordLength = 76;

// The bank's 512 S2 records from its first address up, each 76 characters and CR LF, from the
// 16 384 bytes of a bank file (missing bytes give 0x00; the merge never passes a short bank).
QByteArray bankSxRecords(int bank, QByteArrayView bankBytes);

// The bank read back out of an S-record firmware as the device's memory holds it: every data
// record (S1, S2, S3) writes its bytes, and those in the bank's range are the bank. Every record
// is read as SRecordReader reads it. Refused with the reason when the file cannot be opened or
// read, a line is no good record or two records write one byte of the bank differently (the
// file and the line as its place), or some byte of the bank's range has no record (the file).
Result<ConfigurationBank> readBankFromSRecords(const QString& path, int bankNumber = 1);

// Whether the S-record file holds an S2 record starting inside the bank's range. Reads the
// file once; checks nothing else; refused when the file cannot be opened or read, or holds a
// line longer than any record.
Result<bool> sRecordFileHasBankRecords(const QString& path, int bankNumber = 1);

} // namespace quillner
