#pragma once

#include "core/app/app_paths.h"
#include "core/app/problems.h"
#include "core/app/result.h"
#include "core/firmware/srec_merge.h"
#include "core/update/device_update.h"

#include <QString>

namespace quillner {

// Why the flashing tool is not started after a merge.
enum class FlashRefusal {
    None,               // the tool may be started
    MergeFailed,        // the merge did not complete its new file
    VerificationFailed, // the new file did not hold the firmware and the bank: it was not kept
    NotVerified,        // the merge did not check its new file
    BankNotInFirmware,  // the new file was written but does not hold the bank
    CannotLaunch,       // the merged file or the flashing tool is missing
};

// What follows one merge: start the flashing tool, or not and why. The problems of the job and
// of its decisions name no file or place, so that each one's text is the user's message as is.
struct FlashDecision
{
    FlashRefusal refusal = FlashRefusal::None;
    // Whole exactly when the tool may be started with its value; a refused decision holds the
    // text that tells the user why as its one problem, and its launch is never started.
    Result<FlasherLaunch> launch;

    bool refused() const { return refusal != FlashRefusal::None; }
};

// One update of the device from one project: bank 1 of the project merged into a copy of the
// firmware in the MASTER folder, then the flashing tool started with the merged file.
struct FirmwareJob
{
    int bank = 1;
    QString firmwareName; // "SX51804.sx"
    QString firmwarePath; // in the MASTER folder
    QString binFolder;    // the project's bin folder with a trailing separator; empty without it
    QString outputFolder; // the project folder with a trailing separator
    QString newFileName;  // "New_SX51804.sx"
    QString flasherDir;   // holds the flashing tool: the executable's or the data folder
    // Where the flashing tool was looked for, in order; flasherDir alone when empty.
    QStringList flasherFolders;
    QString masterDir; // the flashing tool starts there
    // The firmware already read (a batch reads it once for all its projects); without it the
    // merge and its check read the file at firmwarePath.
    std::shared_ptr<const MasterFirmware> master;

    QString mergedPath() const;

    // Runs the merge, then removes the record files of single banks that older versions left
    // in the project folder, whatever the merge's outcome. Input/output failures that the merge
    // throws end it before that. A new file that holds the bank is verified against the
    // firmware and the bank file before it takes its name (verifyMergedFirmware); one that
    // fails is not kept, and the result's message gives the fixed first line and the report.
    // A verified merged file gets its manifest.json beside it (build_manifest.h); a merge that
    // replaced or removed the merged file without that removes the older manifest with it. A
    // signature of the manifest (manifest_signature.h) stays: a build of the same inputs gives the
    // same manifest, which it then still signs, and any other manifest fails its check.
    // A problem, before anything is merged, when the older manifest cannot be removed.
    MergeResult merge(const MergeProgress& progress = {}) const;

    // The one rule between a merge and the device: only a merge that completed its new file,
    // whose file holds the bank and passed the verification, is flashed, and only while the
    // merged file and the tool are there. The caller passes the result of the merge it has just
    // run, never an earlier one, so a merged file left by an earlier press never reaches the
    // device.
    FlashDecision decideFlash(const MergeResult& merged, int portIndex) const;

private:
    QString bankFileName() const;
    void writeManifest(const MergeResult& merged) const;
};

// The job for the project of paths (its folder; ExeDir and DataDir for the flashing tool) and the
// firmware in masterDir. Without the firmware the job holds the "not found" problem and must not
// run; the bin folder is filled in all the same.
Result<FirmwareJob> planFirmwareJob(const AppPaths& paths, const QString& masterDir);

} // namespace quillner
