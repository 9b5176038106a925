#pragma once

#include "core/logs/log_frame.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace quillner {

// How much of a recording's start is looked at to tell its format.
inline constexpr qsizetype kRecognitionBytes = 1 << 20;

struct Recognition
{
    std::optional<LogFormat> format;
    // What the start holds when no format was told: its first line that is not blank, as it
    // can be shown ("root:x:0:0:root:/root:/bin/bash"), or a word on binary data.
    QString firstLine;
};

// Tells a recording's format by its content: "LOGG" opens a Vector BLF file; in a text, the first
// line that only one format has decides: a candump -L frame, a frame as candump prints it on the
// screen, an ASC header line or frame, a TRC ";$FILEVERSION" or numbered frame. Blank lines,
// comments ("#", ";", "//") and lines of no format are passed over. `start` is the recording's
// first bytes (gzip already unpacked); `whole` says whether they are all of it, else their last
// line may be cut short and is not looked at.
Recognition recogniseFormat(QByteArrayView start, bool whole);

} // namespace quillner
