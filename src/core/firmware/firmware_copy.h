#pragma once

#include "core/app/result.h"
#include "core/firmware/srec_merge.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

// The merge's reading of a firmware: counting its lines, and copying them into the new file with
// the bank's range replaced, handing what it reads and writes to the hashes and the check.
namespace quillner {

class MergedFirmwareCheck;
class Sha256;

// What a first reading of a firmware finds.
struct FirmwareScan
{
    qint64 lines = 0;
};

// Counts the firmware's lines, and finds what would stop the copy before a file is touched, as
// the problem, with its line: a line longer than any record, or no record at all (a text file
// that is no firmware; when its lines that look like records are all faulty, the first one's
// fault).
Result<FirmwareScan> scanFirmware(QIODevice& file, const QString& firmwarePath);

struct FirmwareCopyRequest
{
    QIODevice* firmware = nullptr; // read from its start
    QString firmwareName;          // names its lines in a failure
    QIODevice* output = nullptr;   // the new file
    int bank = 1;
    const QByteArray* bankRecords = nullptr; // the bank's 512 records, CR LF after each
    qint64 firmwareLines = 0;                // as scanFirmware counted them
    // With a hash, the bytes read from the firmware (masterHash) or written (mergedHash) are
    // added to it, on a thread of its own; the check is given each line read and written.
    Sha256* masterHash = nullptr;
    Sha256* mergedHash = nullptr;
    MergedFirmwareCheck* check = nullptr;
};

struct FirmwareCopyResult
{
    int outcome = -1;      // as MergeResult::outcome
    bool inserted = false; // the bank's records went into the new file
    // Why the copy stopped: the firmware's line and what is wrong with it, or the system's
    // reason; empty when it is complete.
    Problems failure;
};

// Copies the firmware into the output line by line: the first record starting in the bank's range
// is replaced by the bank's records, the later ones are dropped, every other line is copied with
// CR LF. The progress goes from 0 to 512 + the firmware's lines, told last at its maximum, also
// after a failure. The hashes are complete when it returns.
FirmwareCopyResult copyFirmware(const FirmwareCopyRequest& request, const MergeProgress& progress);

} // namespace quillner
