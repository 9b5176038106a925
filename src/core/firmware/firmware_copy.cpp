#include "core/firmware/firmware_copy.h"

#include "core/app/file_io.h"
#include "core/app/sha256.h"
#include "core/device/bank_layout.h"
#include "core/device/bank_records.h"
#include "core/device/srec_record.h"
#include "core/firmware/firmware_verify.h"

#include <QFileInfo>

#include <cstring>
#include <optional>

namespace quillner {

namespace {

// Large enough for few system calls, small enough to stay in the processor cache.
constexpr qsizetype kIoBlockSize = 1 << 18;
// The progress callback is told about every this many positions, and once more at the end.
constexpr qint64 kProgressStep = 1024;

// Raised inside the copy with its cause and caught where the copy is run, which returns it; the
// merge puts its "not create" message before it.
struct CopyFailure
{
    Problem cause;
};

Problem lineCause(const QString& firmwareName, qint64 line, const QString& what)
{
    return Problem{firmwareName, QStringLiteral("line %1").arg(line), what};
}

// The system's reason, which concerns no line.
Problem systemCause(const QString& reason)
{
    return Problem{{}, {}, reason};
}

// Collects output in large blocks so that the file sees few, big writes. Runs of bytes that
// are already large go to the file as they are.
class BlockWriter
{
public:
    // With a hash, every byte written is added to it on the hashing thread: one block is hashed
    // while the next is filled.
    BlockWriter(QIODevice& device, HashingThread* hashing, Sha256* hash)
        : m_device(device), m_hashing(hashing),
          m_hash(hash), m_buffers{QByteArray(kIoBlockSize, Qt::Uninitialized),
                                  QByteArray(kIoBlockSize, Qt::Uninitialized)}
    {
    }

    void write(const char* data, qsizetype length)
    {
        if (m_used + length > kIoBlockSize) {
            flush();
            if (length > kIoBlockSize / 4) {
                writeDirect(data, length);
                return;
            }
        }
        std::memcpy(m_buffers[m_current].data() + m_used, data, size_t(length));
        m_used += length;
    }

    void writeLine(const char* line, qsizetype length)
    {
        write(line, length);
        write("\r\n", 2);
    }

    void flush()
    {
        m_tickets[m_current] = writeDirect(m_buffers[m_current].constData(), m_used);
        m_used = 0;
        m_current ^= 1;
        // The other block is filled again only once its bytes are hashed.
        if (m_hashing)
            m_hashing->wait(m_tickets[m_current]);
    }

private:
    HashingThread::Ticket writeDirect(const char* data, qsizetype length)
    {
        HashingThread::Ticket ticket = 0;
        if (m_hash)
            ticket = m_hashing->add(*m_hash, QByteArrayView(data, length));
        if (!writeAll(m_device, data, length))
            throw CopyFailure{systemCause(m_device.errorString())};
        return ticket;
    }

    QIODevice& m_device;
    HashingThread* m_hashing;
    Sha256* m_hash;
    QByteArray m_buffers[2];
    HashingThread::Ticket m_tickets[2] = {0, 0};
    int m_current = 0;
    qsizetype m_used = 0;
};

class ProgressReporter
{
public:
    explicit ProgressReporter(const MergeProgress& progress) : m_progress(progress) {}

    void setMaximum(qint64 maximum)
    {
        m_maximum = maximum;
        report(0);
    }

    void advance(qint64 steps)
    {
        m_position += steps;
        if (m_position >= m_nextReport) {
            m_nextReport = m_position + kProgressStep;
            report(m_position);
        }
    }

    void finish() { report(m_maximum); }

private:
    void report(qint64 position)
    {
        if (m_progress)
            m_progress(position, m_maximum);
    }

    const MergeProgress& m_progress;
    // Until the firmware is counted the line counter holds the bank's records alone.
    qint64 m_maximum = kBankRecordCount;
    qint64 m_position = 0;
    qint64 m_nextReport = kProgressStep;
};

// What the copy hands on besides the new file: the firmware's bytes to a hash, and each line it
// reads and writes to the check of the new file.
struct CopyObservers
{
    HashingThread* hashing = nullptr;
    Sha256* masterHash = nullptr; // fed on the hashing thread
    MergedFirmwareCheck* check = nullptr;
};

// Until the hashing thread is through with what it was given: the bytes it hashes are about to be
// freed.
class HashedBytesGuard
{
public:
    explicit HashedBytesGuard(HashingThread* hashing) : m_hashing(hashing) {}
    ~HashedBytesGuard()
    {
        if (m_hashing)
            m_hashing->wait();
    }
    HashedBytesGuard(const HashedBytesGuard&) = delete;
    HashedBytesGuard& operator=(const HashedBytesGuard&) = delete;

private:
    HashingThread* m_hashing;
};

// Copies the firmware line by line, the bank's range replaced. Lines that keep their CR LF go
// out straight from the reading buffer, in runs; the others are written with CR LF added.
class FirmwareCopy
{
public:
    FirmwareCopy(QIODevice& firmware, const QString& firmwareName, BlockWriter& writer,
                 const QByteArray& bankRecords, int bank, ProgressReporter& progress,
                 const CopyObservers& observers)
        : m_firmware(firmware), m_firmwareName(firmwareName), m_writer(writer),
          m_bankRecords(bankRecords), m_first(bankFirstAddress(bank)),
          m_last(bankLastAddress(bank)), m_progress(progress), m_observers(observers)
    {
    }

    int outcome() const { return m_outcome; }
    bool inserted() const { return m_inserted; }

    void run()
    {
        // Two blocks in turn: while the lines of one are copied, the hashing thread may still
        // hash the other, read before it (and what was written out straight from it); a block is
        // read into again only once that is done.
        QByteArray blocks[2] = {QByteArray(kIoBlockSize, Qt::Uninitialized),
                                QByteArray(kIoBlockSize, Qt::Uninitialized)};
        HashingThread::Ticket hashedUpTo[2] = {0, 0};
        int current = 0;
        HashedBytesGuard hashed(m_observers.hashing);
        qsizetype filled = 0;
        bool atEnd = false;
        for (;;) {
            QByteArray& block = blocks[current];
            const qint64 read = m_firmware.read(block.data() + filled, block.size() - filled);
            if (read < 0)
                throw CopyFailure{systemCause(m_firmware.errorString())};
            if (m_observers.masterHash)
                m_observers.hashing->add(*m_observers.masterHash,
                                         QByteArrayView(block.constData() + filled, read));
            atEnd = read == 0;
            filled += read;
            const char* const begin = block.constData();
            const qsizetype used = copyLines(begin, begin + filled, atEnd) - begin;
            if (atEnd)
                break;
            if (m_observers.hashing)
                hashedUpTo[current] = m_observers.hashing->lastTicket();
            // The unfinished last line moves to the front of the other block; it is shorter than
            // a block, for no line longer than a record is copied.
            filled -= used;
            if (filled > kMaxSRecordLineLength + 1)
                failAtLine(m_lineNumber + 1, lineTooLongText());
            current ^= 1;
            if (m_observers.hashing)
                m_observers.hashing->wait(hashedUpTo[current]);
            std::memcpy(blocks[current].data(), begin + used, size_t(filled));
        }
        m_writer.flush();
    }

private:
    enum class Action { Keep, Drop, InsertBank, ReplaceCount };

    // Handles the complete lines in [p, end) (at the end of the file, the last one too) and
    // returns where the unfinished line begins.
    const char* copyLines(const char* p, const char* end, bool atEnd)
    {
        const char* run = p;
        for (;;) {
            const char* newline = findLineFeed(p, end);
            if (!newline && (!atEnd || p == end))
                break;
            const char* lineEnd = newline ? newline : end;
            const char* next = newline ? newline + 1 : end;
            bool keepsEnding = false;
            if (lineEnd > p && lineEnd[-1] == '\r') {
                --lineEnd;
                keepsEnding = newline != nullptr;
            }
            const qsizetype length = lineEnd - p;
            const Action action = actionFor(p, length);
            if (m_observers.check)
                observe(QByteArrayView(p, length), action);
            if (action != Action::Keep || !keepsEnding) {
                m_writer.write(run, p - run);
                if (action == Action::Keep)
                    m_writer.writeLine(p, length);
                else if (action == Action::InsertBank)
                    m_writer.write(m_bankRecords.constData(), m_bankRecords.size());
                else if (action == Action::ReplaceCount)
                    m_writer.writeLine(m_countLine.constData(), m_countLine.size());
                run = next;
            }
            p = next;
        }
        m_writer.write(run, p - run);
        return p;
    }

    // The check sees each firmware line, then the lines the new file gets for it.
    void observe(QByteArrayView line, Action action)
    {
        MergedFirmwareCheck& check = *m_observers.check;
        if (action == Action::Keep) {
            check.addKeptLine(line, m_lineNumber, ++m_writtenLines);
            return;
        }
        check.addMasterLine(line, m_lineNumber);
        if (action == Action::ReplaceCount)
            check.addMergedLine(m_countLine, ++m_writtenLines);
        if (action == Action::InsertBank) {
            for (qsizetype at = 0; at < m_bankRecords.size(); at += kBankRecordLength + 2)
                check.addMergedLine(QByteArrayView(m_bankRecords).sliced(at, kBankRecordLength),
                                    ++m_writtenLines);
        }
    }

    [[noreturn]] void failAtLine(qint64 line, const QString& what)
    {
        throw CopyFailure{lineCause(m_firmwareName, line, what)};
    }

    Action actionFor(const char* line, qsizetype length)
    {
        m_progress.advance(1);
        ++m_lineNumber;
        if (length == 0)
            failAtLine(m_lineNumber, emptyLineText());
        if (length > kMaxSRecordLineLength)
            failAtLine(m_lineNumber, lineTooLongText());
        if (line[0] != 'S' || length < 2)
            return Action::Keep;
        const char type = line[1];
        if (type == '9') {
            m_outcome = m_inserted ? 1 : 0;
            return Action::Keep;
        }
        if (isCountRecordType(type))
            return countAction(line, length);
        if (!isDataRecordType(type))
            return Action::Keep;
        ++m_masterDataRecords;
        if (type == '3') {
            ++m_mergedDataRecords;
            return Action::Keep;
        }
        // Only the record's start address decides; S1 addresses never reach a bank.
        const qint64 address = sRecordLineAddress(line, length);
        if (address < 0) {
            SRecordView record;
            const QString fault = readSRecord(QByteArrayView(line, length), record);
            failAtLine(m_lineNumber, fault.isEmpty() ? QStringLiteral("no address") : fault);
        }
        if (address < m_first || address > m_last) {
            ++m_mergedDataRecords;
            return Action::Keep;
        }
        if (m_inserted)
            return Action::Drop;
        m_inserted = true;
        m_mergedDataRecords += kBankRecordCount;
        m_progress.advance(kBankRecordCount);
        return Action::InsertBank;
    }

    // A count record must count the master's data records before it, or the master is not what
    // its writer wrote; the merged file gets one that counts its own.
    Action countAction(const char* line, qsizetype length)
    {
        SRecordView record;
        const QString fault = readSRecord(QByteArrayView(line, length), record);
        if (!fault.isEmpty())
            failAtLine(m_lineNumber, fault);
        if (qint64(record.address) != countRecordValue(record.type, m_masterDataRecords)) {
            failAtLine(m_lineNumber,
                       countRecordMismatchText(record.type, record.address, m_masterDataRecords));
        }
        m_countLine = countRecordLine(m_mergedDataRecords);
        if (m_countLine == QByteArrayView(line, length))
            return Action::Keep;
        return Action::ReplaceCount;
    }

    QIODevice& m_firmware;
    const QString m_firmwareName;
    BlockWriter& m_writer;
    const QByteArray& m_bankRecords;
    const qint64 m_first;
    const qint64 m_last;
    ProgressReporter& m_progress;
    const CopyObservers m_observers;
    int m_outcome = -1;
    bool m_inserted = false;
    qint64 m_lineNumber = 0;
    qint64 m_writtenLines = 0;
    qint64 m_masterDataRecords = 0;
    qint64 m_mergedDataRecords = 0;
    QByteArray m_countLine;
};

} // namespace

Result<FirmwareScan> scanFirmware(QIODevice& file, const QString& firmwarePath)
{
    const QString firmwareName = QFileInfo(firmwarePath).fileName();
    Result<FirmwareScan> scan;
    SRecordLines lines(file);
    QByteArrayView line;
    SRecordView record;
    bool holdsRecords = false;
    // Until a good record is met, the first line that looks like one and is not: a file whose
    // every record is faulty is refused with that record's fault, as every reader tells it.
    qint64 faultyRecordLine = 0;
    QString faultyRecord;
    while (lines.next(line)) {
        if (holdsRecords || line.isEmpty() || line[0] != 'S')
            continue;
        const QString fault = readSRecord(line, record);
        holdsRecords = fault.isEmpty();
        if (!holdsRecords && faultyRecordLine == 0) {
            faultyRecordLine = lines.lineNumber();
            faultyRecord = fault;
        }
    }
    scan.value.lines = lines.lineNumber();
    if (lines.faultLine() > 0)
        scan.problems.append(lineCause(firmwareName, lines.faultLine(), lines.fault()));
    else if (!lines.fault().isEmpty())
        scan.problems.append(systemCause(lines.fault()));
    else if (!holdsRecords && faultyRecordLine > 0)
        scan.problems.append(lineCause(firmwareName, faultyRecordLine, faultyRecord));
    else if (!holdsRecords)
        scan.problems.append(
            systemCause(QStringLiteral("%1 is not an S-record file").arg(firmwarePath)));
    return scan;
}

FirmwareCopyResult copyFirmware(const FirmwareCopyRequest& request, const MergeProgress& progress)
{
    ProgressReporter reporter(progress);
    // The copy waits for the hashing thread before the blocks it hashes go, and it is through
    // with the hashes before they are read.
    std::optional<HashingThread> hashing;
    if (request.masterHash || request.mergedHash)
        hashing.emplace();
    HashingThread* const hashingThread = hashing ? &*hashing : nullptr;
    BlockWriter writer(*request.output, hashingThread, request.mergedHash);
    FirmwareCopy copy(*request.firmware, request.firmwareName, writer, *request.bankRecords,
                      request.bank, reporter, {hashingThread, request.masterHash, request.check});
    FirmwareCopyResult result;
    try {
        if (!request.firmware->seek(0))
            throw CopyFailure{systemCause(request.firmware->errorString())};
        reporter.setMaximum(kBankRecordCount + request.firmwareLines);
        copy.run();
    } catch (const CopyFailure& failure) {
        result.failure = {failure.cause};
    }
    if (hashing)
        hashing->wait();
    reporter.finish();
    result.outcome = copy.outcome();
    result.inserted = copy.inserted();
    return result;
}

} // namespace quillner
