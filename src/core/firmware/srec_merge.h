#pragma once

#include "core/app/result.h"
#include "core/device/configuration_bank.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>

namespace quillner {

// Called with the position and the maximum as the merge goes on.
using MergeProgress = std::function<void(qint64 position, qint64 maximum)>;

// What a merge made.
struct MergedFirmware
{
    // -1: stopped at a check, or the copy met no "S9" line; 0: "S9" met before the bank was
    // inserted; 1: "S9" met after it.
    int outcome = -1;
    // The new file is complete under its name (a stopped or failed merge leaves no new file).
    bool copyCompleted = false;
    // The bank's records went into the new file (an "S9" line before them gives outcome 0
    // all the same).
    bool bankInserted = false;
    // The check of the request passed on the complete new file before it took its name.
    bool verified = false;
    // What the check found when it failed (the new file then does not take its name).
    Problems verification;
    // The bank merged, as read from the bank file once the checks had passed.
    ConfigurationBank bank{};
    // With MergeRequest::hash, once the new file took its name: the SHA-256 of the firmware as
    // read, of the bank and of the new file as written, in hexadecimal digits.
    QByteArray masterSha256;
    QByteArray bankSha256;
    QByteArray mergedSha256;
};

// A merge's outcome; its problems, when a check stopped it or the copy failed, make the message
// of a plain box, one a line (mergeMessage). A failed copy gives "File New Sx Not
// Create,Abort Procedure" and then why: the firmware's line and what is wrong with it, what the
// check found, or the system's reason.
using MergeResult = Result<MergedFirmware>;

QString mergeMessage(const MergeResult& result);

// "File *.Sx Not Found,Abort Procedure": there is no firmware, or no merged file of it.
QString sxFileNotFoundMessage();

// A firmware read once into memory, so that many merges (a batch of projects) share one reading
// of it: its bytes, and what the merge's own first look at a firmware finds in them.
struct MasterFirmware
{
    QString path; // where it was read
    QByteArray bytes;
    qint64 lines = 0;
    // Why no bank can be merged into it, as the merge says it; empty when one can.
    Problems faults;
    QByteArray sha256; // of the bytes, in hexadecimal digits
};

// Reads the firmware at path, a regular file of at most 1 GiB. Throws when it cannot be read.
std::shared_ptr<const MasterFirmware> readMasterFirmware(const QString& path);

struct MergeRequest
{
    int bank = 1;
    QString firmwarePath; // the firmware S-record file
    QString binFolder;    // holds bankN.bin; the temporary record file goes here
    QString outputFolder; // receives the new file
    QString newFileName;  // "New_" + firmware file name
    // When the bank was inserted, the new file is checked against the firmware and the bank
    // (MergedFirmwareCheck) as it is written, from the very bytes read and written, and takes its
    // name only when it holds; without it the new file is not checked.
    bool verify = false;
    // The SHA-256 of the firmware, the bank and the new file are taken from the bytes as they
    // pass (MergeResult), so that no file is read again for them.
    bool hash = false;
    // The firmware already read, whose path is firmwarePath: the merge copies these bytes and
    // does not read the file again. Without it the firmware is streamed from its file.
    std::shared_ptr<const MasterFirmware> master;
};

// Streams the firmware into outputFolder/newFileName with the records of the bank's range
// replaced by the bank's 512 S2 records. A file that cannot be opened, removed or created is a
// problem of its own, with the system's reason. Besides the four checks, a bank file that is not
// exactly 16 384 bytes long, a new file that would be the firmware itself, a firmware that holds no
// S-record line and a firmware line longer than any record stop the merge with a message before any
// file is touched. The new file is written beside its place and renamed over it only when the copy
// is complete; once the checks have passed, a merge that does not complete removes any older file
// of that name, and "Bin.sx" is never left in the bin folder; temporary files of the new file that
// a killed merge left (newFileName + "." + six letters or digits) are removed. The firmware is read
// twice, once to count its lines (the progress bar's maximum, and the faults that stop the merge
// before any file is touched) and once to copy it; the new file is written once and never read
// back. Memory use does not grow with the firmware's size or the length of its lines.
MergeResult MergeBankSx(const MergeRequest& request, const MergeProgress& progress = {});

} // namespace quillner
