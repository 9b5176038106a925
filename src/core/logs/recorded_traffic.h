#pragma once

#include "core/filters/fit_traffic.h"
#include "core/logs/recording.h"

#include <QString>

namespace quillner {

// Reads the extended frames of a recording through the log readers, for fitting patterns to the
// traffic a gateway will see; a CAN FD frame, which a classic controller never receives, is not
// counted. A problem when the file cannot be read or holds more distinct extended identifiers
// than a fit can weigh.
Result<RecordedTraffic> readRecordedTraffic(const QString& path,
                                            CutShort cutShort = CutShort::Refused);

} // namespace quillner
