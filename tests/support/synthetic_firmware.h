#pragma once

#include <QByteArray>
#include <QString>

namespace quillner {

// Writes a firmware-like S-record file: an S0 record holding header, S2 records (S3 when the
// range goes above 24 bits) of recordBytes data bytes each from firstAddress up to, not
// including, endAddress (the last record may be shorter), and an S9 end record; every line
// ends in CR LF. The data bytes are a fixed pattern of the address, so that two runs give the
// same file. Throws "Cannot create file ..." when the file cannot be written.
void writeSyntheticFirmware(const QString& path, quint32 firstAddress, quint64 endAddress,
                            int recordBytes, const QByteArray& header);

} // namespace quillner
