#pragma once

#include "core/app/problems.h"

#include <QByteArrayView>
#include <QString>

class QIODevice;

namespace quillner {

// What the check of a merged firmware found.
struct FirmwareVerification
{
    // The first problem met, with its file and line; then, when there were more, one more that
    // says how many ("and 3 more problems"). Empty when the merged firmware holds.
    Problems report;
    qint64 problemCount = 0;

    bool holds() const { return problemCount == 0; }
};

// The names the report gives the two files ("New_SX51804.sx", "SX51804.sx").
struct VerifiedNames
{
    QString merged;
    QString master;
};

// Checks that merged is master with bank (16 384 bytes) as bank number bankNumber, and nothing
// else changed: every line of the merged file is a record with the right checksum; every record
// of the master whose data lie outside the bank's range is in the merged file, in the same
// order, with the same type, address and data, and the merged file holds no other record there
// (so the end record is there when the master had one); the records that start in the bank's
// range hold the bank's 16 384 bytes, each once. A master record that crosses an edge of the
// bank's range is a problem of its own: kept, it would write over the bank's first bytes; dropped,
// its bytes past the bank would be lost, so no merge of it can be flashed. Both files are read
// once, from where they stand, in blocks; memory does not grow with them or with their lines.
FirmwareVerification verifyMergedFirmware(QIODevice& merged, QIODevice& master, QByteArrayView bank,
                                          int bankNumber, const VerifiedNames& names);

// The same for files: the merged firmware, the master firmware and a bank file of 16 384 bytes.
// Throws when one cannot be opened, or the bank file is not a bank.
FirmwareVerification verifyMergedFirmwareFiles(const QString& mergedPath, const QString& masterPath,
                                               const QString& bankPath, int bankNumber = 1);

} // namespace quillner
