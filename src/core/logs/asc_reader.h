#pragma once

#include "core/logs/line_kind.h"
#include "core/logs/log_frame.h"

namespace quillner {

// The lines of a Vector ASC log: a header ("date …", "base hex|dec  timestamps …", "Begin
// Triggerblock"), then events. Frame lines are "0.001 1 123 Rx d 4 …" (an "x" after an extended
// identifier, "r" for a remote frame) and "0.004 CANFD 1 Rx 100 …"; "0.005 1 ErrorFrame" is an
// error frame. Every other line is an event or a comment, never unreadable.
class AscReader
{
public:
    LineKind read(QByteArrayView line, LogFrame& frame);

private:
    bool m_decimalIds = false; // "base dec"
};

// Whether the line belongs to an ASC header only: "date", "base", "Begin Triggerblock",
// "internal events logged".
bool isAscHeaderLine(QByteArrayView line);

} // namespace quillner
