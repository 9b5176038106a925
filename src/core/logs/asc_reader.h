#pragma once

#include "core/logs/line_kind.h"
#include "core/logs/log_frame.h"

namespace quillner {

// The lines of a Vector ASC log: a header ("date …", "base hex|dec  timestamps …", "Begin
// Triggerblock"), then events. Frame lines are "0.001 1 123 Rx d 4 …" (an "x" after an extended
// identifier, "r" for a remote frame) and "0.004 CANFD 1 Rx 100 … 3000 …", whose Flags column
// tells a CAN FD frame from a classic one and a remote frame; "0.005 1 ErrorFrame" is an error
// frame. A CANFD line without those columns is unreadable; every other line is an event or a
// comment.
class AscReader
{
public:
    LineKind read(QByteArrayView line, LogFrame& frame);

private:
    LineKind readFdLine(QByteArrayView rest, LogFrame& frame) const;
    bool takeIdentifier(QByteArrayView idText, LogFrame& frame) const;

    bool m_decimalIds = false; // "base dec"
};

// Whether the line belongs to an ASC header only: "date", "base", "Begin Triggerblock",
// "internal events logged".
bool isAscHeaderLine(QByteArrayView line);

} // namespace quillner
