#pragma once

#include "core/bank/bank_compiler.h"
#include "core/update/firmware_job.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quillner {

// How each stage of one update ended, in words: a first line that says it ("Compiled: ...",
// "Merged and verified: ...", "Flasher started: ..."), then the details one a line (warnings,
// the verifier's report). The Generate Firmware window shows them below its progress bar.

// "COM1" to "COM8": the serial port the flashing tool is given as its index 0 to 7.
QString flasherPortName(int portIndex);

// The compile and the bank files written into the project's bin folder, with every warning, and
// the documents that could not be read when the user chose to go on all the same.
QStringList compileOutcomeLines(const CompiledBank& compiled, const QString& projectDir);

// The merged file when it was merged and verified; else why there is none fit for the device:
// the merge's own message, or the verifier's report.
QStringList mergeOutcomeLines(const FirmwareJob& job, const MergeResult& merged);

// The flashing tool's process and port when it was started (processId), else why it was not:
// "Morvex.exe not found in FOLDER", or the merge that gave no file fit for the device.
QStringList flasherOutcomeLines(const FirmwareJob& job, const FlashDecision& decision,
                                int portIndex, std::optional<qint64> processId);

} // namespace quillner
