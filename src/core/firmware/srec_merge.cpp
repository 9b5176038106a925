#include "core/firmware/srec_merge.h"

#include "core/device/bank_records.h"
#include "core/device/srec_record.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/sha256.h"
#include "core/firmware/firmware_verify.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace quillner {

namespace {

// Large enough for few system calls, small enough to stay in the processor cache.
constexpr qsizetype kIoBlockSize = 1 << 18;
// The progress callback is told about every this many positions, and once more at the end.
constexpr qint64 kProgressStep = 1024;

const QString kCopyFailedMessage = QStringLiteral("File New Sx Not Create,Abort Procedure");

// Raised inside the copy with its cause; the merge turns it into its "not create" message.
struct CopyFailure
{
    QString cause;
};

QString copyFailedMessage(const QString& cause)
{
    return cause.isEmpty() ? kCopyFailedMessage : kCopyFailedMessage + u'\n' + cause;
}

QString lineCause(const QString& firmwareName, qint64 line, const QString& what)
{
    return Problem{firmwareName, QStringLiteral("line %1").arg(line), what}.toString();
}

// The folders may be given with or without a trailing separator.
QString inFolder(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : joinPath(folder, name);
}

QString bankFileName(int bank)
{
    return QStringLiteral("bank%1.bin").arg(bank);
}

QString cannotOpenMessage(const QString& path, const QString& cause)
{
    return QStringLiteral("Cannot open file \"%1\". %2").arg(path, cause);
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
            throw CopyFailure{m_device.errorString()};
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

struct FirmwareScan
{
    qint64 lines = 0;
    bool holdsRecords = false;
    QString fault; // why the firmware cannot be merged, with its line; empty when it can
};

// Counts the firmware's lines, and finds what would stop the copy before a file is touched: a
// line longer than any record, or no record at all (a text file that is no firmware).
FirmwareScan scanFirmware(QIODevice& file, const QString& firmwarePath)
{
    const QString firmwareName = QFileInfo(firmwarePath).fileName();
    FirmwareScan scan;
    SRecordLines lines(file);
    QByteArrayView line;
    SRecordView record;
    // Until a good record is met, the first line that looks like one and is not: a file whose
    // every record is faulty is refused with that record's fault, as every reader tells it.
    qint64 faultyRecordLine = 0;
    QString faultyRecord;
    while (lines.next(line)) {
        if (scan.holdsRecords || line.isEmpty() || line[0] != 'S')
            continue;
        const QString fault = readSRecord(line, record);
        scan.holdsRecords = fault.isEmpty();
        if (!scan.holdsRecords && faultyRecordLine == 0) {
            faultyRecordLine = lines.lineNumber();
            faultyRecord = fault;
        }
    }
    scan.lines = lines.lineNumber();
    if (lines.faultLine() > 0)
        scan.fault = lineCause(firmwareName, lines.faultLine(), lines.fault());
    else if (!lines.fault().isEmpty())
        scan.fault = lines.fault();
    else if (!scan.holdsRecords && faultyRecordLine > 0)
        scan.fault = lineCause(firmwareName, faultyRecordLine, faultyRecord);
    else if (!scan.holdsRecords)
        scan.fault = QStringLiteral("%1 is not an S-record file").arg(firmwarePath);
    return scan;
}

// Temporary files of the new file that a killed merge left beside it, on file systems where
// they have a name: the name, a dot and the six letters or digits that made it unique.
void removeLeftoverTemporaryFiles(const QString& outputPath)
{
    const QFileInfo output(outputPath);
    const QString prefix = output.fileName() + u'.';
    const QDir folder = output.absoluteDir();
    const QStringList candidates =
        folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden);
    for (const QString& name : candidates) {
        const QStringView suffix = QStringView(name).sliced(prefix.size());
        const bool unique = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return c.unicode() < 128 && std::isalnum(int(c.unicode()));
        });
        const QFileInfo leftover(folder.filePath(name));
        if (unique && leftover.isFile() && !leftover.isSymLink())
            QFile::remove(leftover.filePath());
    }
}

// Once the checks have passed, the older merged file goes first, so that after a failed or
// interrupted merge no file bears the new name: an older configuration must not be flashed in
// place of the one that failed.
void removeOlderMerge(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile older(path);
    if (!older.remove())
        throw Error(cannotCreateFileMessage(path, older.errorString()));
}

// The merged firmware is written under a temporary name beside its place and takes its name
// only when complete. It is not synced to disk: every flash is preceded by a fresh merge.
class NewFirmwareFile
{
public:
    NewFirmwareFile(const QString& path, bool named)
        : m_path(path), m_file(path + QStringLiteral(".XXXXXX"))
    {
        if (!m_file.open())
            throw Error(cannotCreateFileMessage(path, m_file.errorString()));
        // Asking for its name gives an unnamed file one, as a system without them would.
        if (named)
            (void)m_file.fileName();
        // A temporary file is private to its owner; the firmware is an ordinary file.
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }

    QIODevice& device() { return m_file; }

    // Takes its name; returns why it could not, or an empty text.
    QString commit()
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError || !m_file.rename(m_path))
            return m_file.errorString();
        m_file.setAutoRemove(false);
        return {};
    }

private:
    QString m_path;
    QTemporaryFile m_file;
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
// overwritten or freed.
class HashedBytesGuard
{
public:
    explicit HashedBytesGuard(HashingThread* hashing) : m_hashing(hashing) {}
    ~HashedBytesGuard() { wait(); }
    HashedBytesGuard(const HashedBytesGuard&) = delete;
    HashedBytesGuard& operator=(const HashedBytesGuard&) = delete;

    void wait()
    {
        if (m_hashing)
            m_hashing->wait();
    }

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
        QByteArray buffer(kIoBlockSize, Qt::Uninitialized);
        // The block read is hashed, and may be written out straight from here, on the hashing
        // thread while its lines are copied; it is read into again only once that is done.
        HashedBytesGuard hashed(m_observers.hashing);
        qsizetype filled = 0;
        bool atEnd = false;
        for (;;) {
            const qint64 read = m_firmware.read(buffer.data() + filled, buffer.size() - filled);
            if (read < 0)
                throw CopyFailure{m_firmware.errorString()};
            if (m_observers.masterHash)
                m_observers.hashing->add(*m_observers.masterHash,
                                         QByteArrayView(buffer.constData() + filled, read));
            atEnd = read == 0;
            filled += read;
            const char* const begin = buffer.constData();
            const qsizetype used = copyLines(begin, begin + filled, atEnd) - begin;
            if (atEnd)
                break;
            // The unfinished last line moves to the front; it is shorter than the buffer, for
            // no line longer than a record is copied.
            filled -= used;
            if (filled > kMaxSRecordLineLength + 1)
                failAtLine(m_lineNumber + 1, lineTooLongText());
            hashed.wait();
            std::memmove(buffer.data(), buffer.constData() + used, size_t(filled));
        }
        m_writer.flush();
    }

private:
    enum class Action { Keep, Drop, InsertBank };

    // Handles the complete lines in [p, end) (at the end of the file, the last one too) and
    // returns where the unfinished line begins.
    const char* copyLines(const char* p, const char* end, bool atEnd)
    {
        const char* run = p;
        for (;;) {
            const auto* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
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
        if (line[1] == '9') {
            m_outcome = m_inserted ? 1 : 0;
            return Action::Keep;
        }
        if (line[1] != '1' && line[1] != '2')
            return Action::Keep;
        // Only the record's start address decides; S1 addresses never reach a bank.
        const qint64 address = sRecordLineAddress(line, length);
        if (address < 0) {
            SRecordView record;
            const QString fault = readSRecord(QByteArrayView(line, length), record);
            failAtLine(m_lineNumber, fault.isEmpty() ? QStringLiteral("no address") : fault);
        }
        if (address < m_first || address > m_last)
            return Action::Keep;
        if (m_inserted)
            return Action::Drop;
        m_inserted = true;
        m_progress.advance(kBankRecordCount);
        return Action::InsertBank;
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
};

} // namespace

std::shared_ptr<const MasterFirmware> readMasterFirmware(const QString& path)
{
    const QString nativePath = toNativeSeparators(path);
    QFile file(nativePath);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(cannotOpenMessage(nativePath, file.errorString()));
    auto master = std::make_shared<MasterFirmware>();
    master->path = nativePath;
    master->bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(cannotOpenMessage(nativePath, file.errorString()));
    QBuffer buffer(&master->bytes);
    buffer.open(QIODevice::ReadOnly);
    const FirmwareScan scan = scanFirmware(buffer, nativePath);
    master->lines = scan.lines;
    master->fault = scan.fault;
    master->sha256 = sha256Hex(master->bytes);
    return master;
}

MergeResult MergeBankSx(const MergeRequest& request, const MergeProgress& progress)
{
    MergeResult result;
    if (!isBankNumber(request.bank))
        throw Error(QStringLiteral("There is no bank %1").arg(request.bank));

    const QString firmwarePath = toNativeSeparators(request.firmwarePath);
    const QString binFolder = toNativeSeparators(request.binFolder);
    const QString bankPath = inFolder(binFolder, bankFileName(request.bank));
    const QString outputPath =
        inFolder(toNativeSeparators(request.outputFolder), request.newFileName);

    // The checks come first and touch no file.
    if (!QFileInfo(firmwarePath).isFile()) {
        result.message = QStringLiteral("File *.Sx Not Found,Abort Procedure");
        return result;
    }
    if (request.newFileName.isEmpty()) {
        result.message = QStringLiteral("File New *.Sx Not Found,Abort Procedure");
        return result;
    }
    if (binFolder.isEmpty() || !QFileInfo(binFolder).isDir()) {
        result.message = QStringLiteral("Directory Bin Not Found,Abort Procedure");
        return result;
    }
    const QFileInfo bankInfo(bankPath);
    if (!bankInfo.isFile()) {
        result.message =
            QStringLiteral("File %1 Not Found,Abort Procedure").arg(bankFileName(request.bank));
        return result;
    }
    // A truncated or overlong bank would put unknown bytes into the device.
    if (bankInfo.size() != kBankSize) {
        result.message = QStringLiteral("File %1 Is Not %2 Bytes Long,Abort Procedure")
                             .arg(bankFileName(request.bank))
                             .arg(kBankSize);
        return result;
    }
    // An erased bank (all 0xFF) is what a device holds that was never configured; no compile
    // writes one, and merging it would flash a device with no configuration at all.
    result.bank = readBankImageFile(bankPath);
    if (isErasedBank(result.bank)) {
        result.message = QStringLiteral("File %1 Is Erased (All 0xFF),Abort Procedure")
                             .arg(bankFileName(request.bank));
        return result;
    }
    const QFileInfo outputInfo(outputPath);
    if (outputInfo.exists() && outputInfo == QFileInfo(firmwarePath)) {
        result.message = QStringLiteral("File New *.Sx Is The Firmware,Abort Procedure");
        return result;
    }

    // A firmware that is no firmware, or one line that is none, is refused before anything is
    // touched.
    // A firmware already read is copied from memory, and was looked at when it was read.
    QFile firmwareFile(firmwarePath);
    QBuffer firmwareBytes;
    QIODevice& firmware = request.master ? static_cast<QIODevice&>(firmwareBytes) : firmwareFile;
    FirmwareScan scan;
    if (request.master) {
        firmwareBytes.setData(request.master->bytes);
        firmwareBytes.open(QIODevice::ReadOnly);
        scan.lines = request.master->lines;
        scan.fault = request.master->fault;
    } else {
        if (!firmwareFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw Error(cannotOpenMessage(firmwarePath, firmwareFile.errorString()));
        scan = scanFirmware(firmwareFile, firmwarePath);
    }
    const QString firmwareName = QFileInfo(firmwarePath).fileName();
    if (!scan.fault.isEmpty()) {
        result.message = copyFailedMessage(scan.fault);
        return result;
    }

    // The bank's records are kept in memory; a record file left by an earlier run is stale.
    const QString staleRecordFile = inFolder(binFolder, QStringLiteral("Bin.sx"));
    if (QFileInfo::exists(staleRecordFile))
        QFile::remove(staleRecordFile);

    removeOlderMerge(outputPath);
    removeLeftoverTemporaryFiles(outputPath);
    const QByteArrayView bankBytes(result.bank.data(), kBankSize);
    const QByteArray bankRecords = bankSxRecords(request.bank, bankBytes);
    NewFirmwareFile output(outputPath, request.namedTemporaryFile);

    // A firmware already read was hashed when it was read.
    std::optional<Sha256> masterHash;
    std::optional<Sha256> mergedHash;
    if (request.hash) {
        if (!request.master)
            masterHash.emplace();
        mergedHash.emplace();
    }
    std::optional<MergedFirmwareCheck> check;
    if (request.verify)
        check.emplace(bankBytes, request.bank, VerifiedNames{request.newFileName, firmwareName});

    ProgressReporter reporter(progress);
    // Made after the hashes, so that it is through with them before they go; the copy waits for
    // it before the blocks it hashes go.
    std::optional<HashingThread> hashing;
    if (request.hash)
        hashing.emplace();
    HashingThread* const hashingThread = hashing ? &*hashing : nullptr;
    BlockWriter writer(output.device(), hashingThread, mergedHash ? &*mergedHash : nullptr);
    FirmwareCopy copy(
        firmware, firmwareName, writer, bankRecords, request.bank, reporter,
        {hashingThread, masterHash ? &*masterHash : nullptr, check ? &*check : nullptr});
    try {
        if (!firmware.seek(0))
            throw CopyFailure{firmware.errorString()};
        reporter.setMaximum(kBankRecordCount + scan.lines);
        copy.run();
        if (copy.inserted() && check) {
            result.verification = check->finish().report;
            if (!result.verification.isEmpty())
                throw CopyFailure{problemLines(result.verification).join(u'\n')};
            result.verified = true;
        }
        const QString renameFault = output.commit();
        if (!renameFault.isEmpty())
            throw CopyFailure{renameFault};
        result.copyCompleted = true;
        if (request.hash) {
            hashing->wait();
            result.masterSha256 = request.master ? request.master->sha256 : masterHash->hexResult();
            result.bankSha256 = sha256Hex(bankBytes);
            result.mergedSha256 = mergedHash->hexResult();
        }
    } catch (const CopyFailure& failure) {
        result.verified = false;
        result.message = copyFailedMessage(failure.cause);
    }
    reporter.finish();
    result.outcome = copy.outcome();
    result.bankInserted = copy.inserted();
    return result;
}

} // namespace quillner
