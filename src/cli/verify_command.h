#pragma once

#include <QStringList>

namespace quillner::cli {

// quillner-cli verify MERGED --master FIRMWARE (--bank BANK | --project DIR) [--json]: whether
// MERGED is FIRMWARE with the bank as bank 1 and nothing else changed. Returns the exit status:
// 0 when it holds, 1 with the report on standard error (or in the JSON object) when not.
// Throws quillner::Error for usage errors and files that cannot be read.
int runVerify(const QStringList& arguments);

} // namespace quillner::cli
