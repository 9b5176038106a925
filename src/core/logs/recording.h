#pragma once

#include "core/app/result.h"
#include "core/logs/input_stream.h"
#include "core/logs/log_frame.h"

#include <QString>

namespace quillner {

// A recording is read a piece at a time: big enough that a gigabyte goes in a few hundred reads.
inline constexpr qsizetype kRecordingPieceBytes = 4 << 20;

// What becomes of a recording that ends inside a line or an object (a logger that lost power):
// refused, or read to its last whole frame with reading.cutShortAt telling where it ends.
enum class CutShort { Refused, Read };

// Reads a recording of CAN frames in any format of LogFormat, gzip-compressed or not, told by
// its content; "-" is standard input. It is read front to back in pieces, so memory stays the
// same whatever its size, and a pipe is read as it comes. Each frame goes to the visitor as it is
// met. Blank lines, comments ("#", ";", "//") and a UTF-8 byte-order mark are no frames and never
// unreadable; lines end in LF or CR LF.
//
// A problem naming the recording when it cannot be read, when it is empty, when no frame of any
// known format is in it ("no frame in any known format; first line: …"), when a format was told
// but not one frame was read (with the first reasons), where a binary recording is damaged, and
// when it is cut short unless that is read; the reading then holds what was read before. A last
// line without its line end is cut short when it is no frame (or the gzip data around it end
// early); one that is a frame is judged. A reading the visitor stops is whole as far as it went.
Result<LogReading> readCanLog(const QString& path, const LogVisitor& visitor,
                              CutShort cutShort = CutShort::Refused);

// The same with the format given rather than told by the content: one reader alone, as the fuzz
// targets feed each.
Result<LogReading> readCanLogAs(const QString& path, LogFormat format, const LogVisitor& visitor,
                                CutShort cutShort = CutShort::Refused);

// A recording opened as readCanLog opens it, its format told, for a reader of its own: the
// buffer holds what was read to tell it.
struct OpenedRecording
{
    LogReading reading;
    std::unique_ptr<StreamBuffer> buffer;
};
Result<OpenedRecording> openCanLog(const QString& path);

// Refuses, as readCanLog does, a recording read whole that was cut short (unless that is read)
// or that held no frame.
Result<Done> checkReading(const LogReading& reading, CutShort cutShort);

// "bus.log: cut short at byte 4096, after 97 frames".
QString cutShortText(const LogReading& reading);

} // namespace quillner
