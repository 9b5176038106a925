#pragma once

#include "core/app/result.h"
#include "core/logs/line_kind.h"
#include "core/logs/log_frame.h"

#include <QByteArray>
#include <QString>

namespace quillner {

// The lines of a PEAK TRC file. ";$FILEVERSION=" decides the columns: without it 1.0
// ("1) 1841 0001 8 00 …"), then 1.1 adds the type ("Rx", "Tx", "Warng", "Error"), 1.2 the bus
// before it, 1.3 a reserved column after the identifier; 2.0 and 2.1 name their columns in
// ";$COLUMNS=N,O,T,B,I,d,R,L,D" (2.0 without it: N,O,T,I,d,l,D) and type each line: DT a data
// frame, RR a remote frame, FD, FB, FE and BI CAN FD frames, ER an error frame, ST, EC and EV
// status and events. An identifier of more than four digits is an extended one.
class TrcReader
{
public:
    // A ";$" header line sets the version or the columns; a version not known is a problem
    // without its file and line, which the reader of the recording adds.
    Result<Done> readHeader(QByteArrayView line);
    LineKind read(QByteArrayView line, LogFrame& frame);
    // "1.1", "2.1"; "1.0" for a file without a version.
    QString version() const;

private:
    int m_version = 10; // 10 for 1.0 to 21 for 2.1
    QByteArray m_columns;
};

// Whether the line opens a TRC file: ";$FILEVERSION=".
bool isTrcVersionLine(QByteArrayView line);

} // namespace quillner
