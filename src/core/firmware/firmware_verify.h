#pragma once

#include "core/app/result.h"
#include "core/device/configuration_bank.h"
#include "core/device/srec_record.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <vector>

class QIODevice;

namespace quillner {

// What the check of a merged firmware found.
struct FirmwareVerification
{
    // The first problem met, with its file and line; then, when there were more, one more that
    // says how many ("and 3 more problems"). Empty when the merged firmware holds.
    Problems report;
    qint64 problemCount = 0;

    bool holds() const { return problemCount == 0; }
};

// The names the report gives the two files ("New_SX51804.sx", "SX51804.sx").
struct VerifiedNames
{
    QString merged;
    QString master;
};

// The check that a merged firmware is its master with the bank (16 384 bytes) as bank number
// bankNumber, and nothing else changed, fed line by line as the files are read or written:
// - every line of the merged file, and of the master, is a record with the right checksum;
// - every record of the master whose data lie outside the bank's range is in the merged file, in
//   the same order, with the same type, address and data, and the merged file holds no other
//   record there (so the end record is there when the master had one);
// - the records that start in the bank's range hold the bank's 16 384 bytes, each once, and stand
//   before the end record (S7, S8 or S9), where loaders stop reading;
// - a count record (S5, S6) counts the data records before it.
// A master record that crosses an edge of the bank's range is a problem of its own: kept, it would
// write over the bank's first bytes; dropped, its bytes past the bank would be lost, so no merge
// of it can be flashed. Memory does not grow with the files or their lines.
class MergedFirmwareCheck
{
public:
    MergedFirmwareCheck(const ConfigurationBank& bank, int bankNumber, const VerifiedNames& names);

    // The master's next line. A merged record outside the bank's range is compared with the
    // master record outside it that was given last, so each master line is given before the
    // merged lines made from it; a master record given while another still waits for its merged
    // record is missing from the merged file.
    void addMasterLine(QByteArrayView line, qint64 lineNumber);
    // The merged file's next line.
    void addMergedLine(QByteArrayView line, qint64 lineNumber);
    // A master line that the merged file holds as it stands, the very bytes: the same as giving
    // it to addMasterLine and then to addMergedLine, without copying it aside to compare it with
    // itself.
    void addKeptLine(QByteArrayView line, qint64 masterLineNumber, qint64 mergedLineNumber);
    // Whether the merged line is one that is compared with a master record.
    bool comparesWithMaster(QByteArrayView mergedLine) const;
    // Whether a master record waits for its merged record.
    bool masterRecordWaiting() const { return m_waiting; }
    // The master record that waits has no merged record: the merged file ended, or the merge
    // went on without it.
    void masterRecordMissing();
    // Why a file's reading stopped early (a line too long, the system's reason).
    void readerFault(const QString& file, const SRecordLines& lines);
    // Both files are through: the bank's bytes are looked for, and the verdict given.
    FirmwareVerification finish();

private:
    void problem(const QString& file, qint64 line, const QString& text);
    QString rangeText() const;
    void checkOutsideRecord(QByteArrayView line, qint64 lineNumber, const QString& fault);
    void checkBankRecord(qint64 lineNumber, qint64 lastAddress);
    void countRecord(qint64 lineNumber);

    const ConfigurationBank& m_bank;
    const int m_bankNumber;
    const qint64 m_first;
    const qint64 m_last;
    const VerifiedNames m_names;
    std::vector<bool> m_covered;
    int m_coveredCount = 0;
    // The master record outside the bank's range that waits for its merged record.
    bool m_waiting = false;
    std::array<char, kMaxSRecordLineLength> m_masterLine{};
    qsizetype m_masterLineSize = 0;
    qint64 m_masterLineNumber = 0;
    SRecordView m_record;
    SRecordView m_masterRecord;
    // The merged file's first end record and its data records so far.
    qint64 m_endLine = 0;
    char m_endType = 0;
    bool m_bankAfterEndTold = false;
    qint64 m_dataRecords = 0;
    qint64 m_count = 0;
    Problem m_firstProblem;
};

// The check of a merged firmware against its master, both read once from where they stand, in
// blocks.
FirmwareVerification verifyMergedFirmware(QIODevice& merged, QIODevice& master,
                                          const ConfigurationBank& bank, int bankNumber,
                                          const VerifiedNames& names);

// The same for files: the merged firmware, the master firmware and a bank file of 16 384 bytes.
// A problem ("File PATH not found", "Cannot open file ...") when a firmware cannot be opened;
// throws when the bank file is not a bank.
Result<FirmwareVerification> verifyMergedFirmwareFiles(const QString& mergedPath,
                                                       const QString& masterPath,
                                                       const QString& bankPath, int bankNumber = 1);
// The same with the bank at hand (one compiled now, say).
Result<FirmwareVerification> verifyMergedFirmwareFiles(const QString& mergedPath,
                                                       const QString& masterPath,
                                                       const ConfigurationBank& bank,
                                                       int bankNumber = 1);

} // namespace quillner
