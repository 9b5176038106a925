#pragma once

#include "core/logs/line_kind.h"
#include "core/logs/log_frame.h"

#include <QByteArray>

namespace quillner {

// A line as candump -L writes it: "(1700000000.123456) can0 123#DEADBEEF". The identifier has
// three hexadecimal digits, or eight for an extended one; "#R" (with an optional length and raw
// length code, "#R8_C") is a remote frame, "##" and a flags digit a CAN FD frame; eight digits
// with bit 29 set are an error frame. Eight data bytes may end in "_" and a raw length code
// above 8 ("_C"); what follows a blank (a direction, a comment) is not looked at.
LineKind readCandumpLogLine(QByteArrayView line, LogFrame& frame);

// A line as candump prints it on the screen: "  can0  123   [2]  11 22", after a timestamp in
// parentheses (-t a, d, z or A), with -x's direction and flags ("RX - -") before the identifier.
// The length is "[2]" for a classic frame, "{C}" as its raw length code (-8), "[08]" (two
// digits) for a CAN FD frame; "remote request" follows a remote frame's length. A line that
// starts with a tab explains the error frame above it.
LineKind readCandumpScreenLine(QByteArrayView line, LogFrame& frame);

// The frame as a candump -L line, for a recording that has no lines of its own:
// "(0.000123) can1 18FEF100#0102030405060708", the time counted from the recording's start.
QByteArray candumpLogLine(const LogFrame& frame);

} // namespace quillner
