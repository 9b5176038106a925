#pragma once

#include "core/logs/input_stream.h"
#include "core/logs/log_frame.h"

namespace quillner {

// Whether the bytes begin as a Vector BLF file does ("LOGG").
bool isBlf(const char* data, qsizetype size);

// Reads a Vector BLF file from the buffer: the file header, then objects, each "LOBJ" with its
// header size, header version, size and type. Log containers (type 10) hold the other objects,
// stored or zlib-compressed; one object may begin in one container and end in the next, so the
// containers' data are one stream of objects, unpacked a piece at a time. Of those objects, CAN
// messages (types 1 and 86), CAN FD messages (100 and 101, a classic frame when their EDL flag
// is clear) are frames and error frames (73) are counted; every other type is passed over by its
// size. A frame object's header is read by its version (1 or 2), whatever its header size
// field says; one of another version or with a header over 64 bytes is counted unreadable.
// Padding after an object (its size modulo 4 bytes, zero) is passed over. An object whose size
// is smaller than its base header or a missing "LOBJ" stop the reading with a problem naming the
// place, so no damaged size can make the reader go round; so does a buffer that cannot be read.
// A file that ends inside an object is read to the object before, and reading.cutShortAt tells
// where it ends.
Result<Done> readBlf(StreamBuffer& input, const LogVisitor& visitor, LogReading& reading);

} // namespace quillner
