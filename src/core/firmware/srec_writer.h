#pragma once

#include <QByteArray>
#include <QString>

namespace quillner {

// One Motorola S-record without its line end: type ('0' to '9'), the address in the width of
// the type (2 bytes for S0, S1, S5, S9; 3 for S2, S6, S8; 4 for S3, S7), the data and the
// checksum, hexadecimal digits in upper case. At most 250 data bytes.
QByteArray formatSRecord(char type, quint32 address, const QByteArray& data);

// Writes a firmware-like S-record file: an S0 record holding header, S2 records (S3 when the
// range goes above 24 bits) of recordBytes data bytes each from firstAddress up to, not
// including, endAddress (the last record may be shorter), and an S9 end record; every line
// ends in CR LF. The data bytes are a fixed pattern of the address, so that two runs give the
// same file. Throws "Cannot create file ..." when the file cannot be written.
void writeSyntheticFirmware(const QString& path, quint32 firstAddress, quint64 endAddress,
                            int recordBytes, const QByteArray& header);

} // namespace quillner
