#include "core/firmware/srec_merge.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/firmware/configuration_bank.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <array>
#include <cstring>

namespace quillner {

namespace {

constexpr int kRecordsPerBank = 512;
constexpr int kRecordDataBytes = 32;
constexpr int kRecordLength = 76;
constexpr qsizetype kIoBlockSize = 1 << 20;
// The progress callback is told about every this many positions, and once more at the end.
constexpr qint64 kProgressStep = 1024;
constexpr char kHexDigits[] = "0123456789ABCDEF";

const QString kCopyFailedMessage = QStringLiteral("File New Sx Not Create,Abort Procedure");

constexpr std::array<qint8, 256> makeHexValues()
{
    std::array<qint8, 256> values{};
    for (auto& v : values)
        v = -1;
    for (int c = '0'; c <= '9'; ++c)
        values[c] = qint8(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        values[c] = qint8(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        values[c] = qint8(c - 'a' + 10);
    return values;
}

constexpr std::array<qint8, 256> kHexValues = makeHexValues();

// Raised inside the copy; the merge turns it into its "not create" message.
struct CopyFailure
{
};

// The folders may be given with or without a trailing separator.
QString inFolder(const QString& folder, const QString& name)
{
    if (folder.isEmpty())
        return name;
    if (isSeparator(folder.back()))
        return folder + name;
    return folder + QDir::separator() + name;
}

QString bankFileName(int bank)
{
    return QStringLiteral("bank%1.bin").arg(bank);
}

QString cannotOpenMessage(const QString& path, const QString& cause)
{
    return QStringLiteral("Cannot open file \"%1\". %2").arg(path, cause);
}

// The value of count hexadecimal digits, or -1 when one of them is not a digit.
qint64 hexValue(const char* digits, int count)
{
    qint64 value = 0;
    for (int i = 0; i < count; ++i) {
        const qint8 d = kHexValues[quint8(digits[i])];
        if (d < 0)
            return -1;
        value = (value << 4) | d;
    }
    return value;
}

void appendHexByte(char*& out, quint8 value)
{
    *out++ = kHexDigits[value >> 4];
    *out++ = kHexDigits[value & 0x0F];
}

// Reads a text file line by line through one large buffer. A line ends at LF; a CR before it
// (or at the very end of the file) is not part of the line.
class LineReader
{
public:
    explicit LineReader(QFile& file) : m_file(file), m_buffer(kIoBlockSize, Qt::Uninitialized) {}

    bool next(const char*& line, qsizetype& length)
    {
        for (;;) {
            const char* start = m_buffer.constData() + m_begin;
            const auto* newline =
                static_cast<const char*>(std::memchr(start, '\n', size_t(m_end - m_begin)));
            if (newline) {
                length = newline - start;
                m_begin += length + 1;
                return finish(start, line, length);
            }
            if (m_atEnd) {
                if (m_begin == m_end)
                    return false;
                length = m_end - m_begin;
                m_begin = m_end;
                return finish(start, line, length);
            }
            refill();
        }
    }

private:
    static bool finish(const char* start, const char*& line, qsizetype& length)
    {
        if (length > 0 && start[length - 1] == '\r')
            --length;
        line = start;
        return true;
    }

    void refill()
    {
        const qsizetype remaining = m_end - m_begin;
        char* data = m_buffer.data();
        std::memmove(data, data + m_begin, size_t(remaining));
        m_begin = 0;
        m_end = remaining;
        // A line longer than the buffer makes it grow; lines, not files, set its size.
        if (m_end == m_buffer.size()) {
            m_buffer.resize(m_buffer.size() * 2);
            data = m_buffer.data();
        }
        const qint64 read = m_file.read(data + m_end, m_buffer.size() - m_end);
        if (read < 0)
            throw CopyFailure{};
        if (read == 0)
            m_atEnd = true;
        m_end += read;
    }

    QFile& m_file;
    QByteArray m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
    bool m_atEnd = false;
};

// Collects output in one large block so that the file sees few, big writes.
class BlockWriter
{
public:
    explicit BlockWriter(QIODevice& device)
        : m_device(device), m_buffer(kIoBlockSize, Qt::Uninitialized)
    {
    }

    void writeLine(const char* line, qsizetype length)
    {
        if (m_used + length + 2 > m_buffer.size()) {
            flush();
            if (length + 2 > m_buffer.size()) {
                writeDirect(line, length);
                writeDirect("\r\n", 2);
                return;
            }
        }
        char* out = m_buffer.data() + m_used;
        std::memcpy(out, line, size_t(length));
        out[length] = '\r';
        out[length + 1] = '\n';
        m_used += length + 2;
    }

    void write(const QByteArray& block)
    {
        flush();
        writeDirect(block.constData(), block.size());
    }

    void flush()
    {
        writeDirect(m_buffer.constData(), m_used);
        m_used = 0;
    }

private:
    void writeDirect(const char* data, qsizetype length)
    {
        if (length > 0 && m_device.write(data, length) != length)
            throw CopyFailure{};
    }

    QIODevice& m_device;
    QByteArray m_buffer;
    qsizetype m_used = 0;
};

qint64 countLines(QFile& file)
{
    QByteArray buffer(kIoBlockSize, Qt::Uninitialized);
    qint64 lines = 0;
    char last = '\n';
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            throw CopyFailure{};
        if (read == 0)
            break;
        const char* p = buffer.constData();
        const char* const end = p + read;
        while (const auto* newline =
                   static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)))) {
            ++lines;
            p = newline + 1;
        }
        last = end[-1];
    }
    // A last line without its line end is a line all the same.
    return last == '\n' ? lines : lines + 1;
}

// The bank's records, CR LF after each, as the temporary record file would hold them.
QByteArray readBankRecords(const QString& bankPath, int bank)
{
    QFile file(bankPath);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(cannotOpenMessage(bankPath, file.errorString()));
    const QByteArray bytes = file.read(kBankSize);
    if (bytes.size() != kBankSize)
        throw Error(cannotOpenMessage(bankPath, file.errorString()));
    return bankSxRecords(bank, bytes);
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
    explicit NewFirmwareFile(const QString& path)
        : m_path(path), m_file(path + QStringLiteral(".XXXXXX"))
    {
        if (!m_file.open())
            throw Error(cannotCreateFileMessage(path, m_file.errorString()));
        // A temporary file is private to its owner; the firmware is an ordinary file.
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }

    QIODevice& device() { return m_file; }

    bool commit()
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError || !m_file.rename(m_path))
            return false;
        m_file.setAutoRemove(false);
        return true;
    }

private:
    QString m_path;
    QTemporaryFile m_file;
};

class ProgressReporter
{
public:
    ProgressReporter(const MergeProgress& progress) : m_progress(progress) {}

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
    qint64 m_maximum = kRecordsPerBank;
    qint64 m_position = 0;
    qint64 m_nextReport = kProgressStep;
};

struct CopyState
{
    int outcome = -1;
    bool inserted = false;
};

void copyFirmware(LineReader& reader, BlockWriter& writer, const QByteArray& bankRecords,
                  quint32 first, quint32 last, ProgressReporter& progress, CopyState& state)
{
    const char* line = nullptr;
    qsizetype length = 0;
    while (reader.next(line, length)) {
        progress.advance(1);
        if (length == 0)
            throw CopyFailure{};
        const bool s1 = line[0] == 'S' && length >= 2 && line[1] == '1';
        const bool s2 = line[0] == 'S' && length >= 2 && line[1] == '2';
        if (s1 || s2) {
            // Only the record's start address decides; S1 addresses never reach a bank.
            const int digits = s1 ? 4 : 6;
            if (length < 4 + digits)
                throw CopyFailure{};
            const qint64 address = hexValue(line + 4, digits);
            if (address < 0)
                throw CopyFailure{};
            if (address >= first && address <= last) {
                if (!state.inserted) {
                    writer.write(bankRecords);
                    progress.advance(kRecordsPerBank);
                    state.inserted = true;
                }
                continue;
            }
        } else if (line[0] == 'S' && length >= 2 && line[1] == '9') {
            state.outcome = state.inserted ? 1 : 0;
        }
        writer.writeLine(line, length);
    }
    writer.flush();
}

} // namespace

quint32 bankFirstAddress(int bank)
{
    return 0x388000u + quint32(bank - 1) * 0x10000u;
}

quint32 bankLastAddress(int bank)
{
    return bankFirstAddress(bank) + quint32(kBankSize - 1);
}

QString SxRecordChecksum(QStringView recordText)
{
    quint32 sum = 0;
    for (qsizetype i = 2; i + 2 <= recordText.size() - 2; i += 2) {
        const QStringView pair = recordText.mid(i, 2);
        const char16_t high = pair[0].unicode();
        const char16_t low = pair[1].unicode();
        const qint8 h = high < 256 ? kHexValues[high] : qint8(-1);
        const qint8 l = low < 256 ? kHexValues[low] : qint8(-1);
        if (h < 0 || l < 0)
            throw Error(QStringLiteral("'%1' is not a hexadecimal byte").arg(pair));
        sum += quint32(h * 16 + l);
    }
    const quint8 checksum = quint8(~sum);
    const char digits[2] = {kHexDigits[checksum >> 4], kHexDigits[checksum & 0x0F]};
    return QString::fromLatin1(digits, 2);
}

QByteArray bankSxRecords(int bank, const QByteArray& bankBytes)
{
    QByteArray records(kRecordsPerBank * (kRecordLength + 2), Qt::Uninitialized);
    char* out = records.data();
    quint32 address = bankFirstAddress(bank);
    for (int r = 0; r < kRecordsPerBank; ++r, address += kRecordDataBytes) {
        const char* const recordStart = out;
        *out++ = 'S';
        *out++ = '2';
        quint32 sum = 0;
        const auto put = [&](quint8 byte) {
            sum += byte;
            appendHexByte(out, byte);
        };
        put(kRecordDataBytes + 4);
        put(quint8(address >> 16));
        put(quint8(address >> 8));
        put(quint8(address));
        for (int i = 0; i < kRecordDataBytes; ++i) {
            const qsizetype index = qsizetype(r) * kRecordDataBytes + i;
            put(index < bankBytes.size() ? quint8(bankBytes[index]) : quint8(0));
        }
        appendHexByte(out, quint8(~sum));
        Q_ASSERT(out - recordStart == kRecordLength);
        Q_UNUSED(recordStart);
        *out++ = '\r';
        *out++ = '\n';
    }
    return records;
}

MergeResult MergeBankSx(const MergeRequest& request, const MergeProgress& progress)
{
    MergeResult result;
    if (request.bank < 1 || request.bank > 5)
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
    const QFileInfo outputInfo(outputPath);
    if (outputInfo.exists() && outputInfo == QFileInfo(firmwarePath)) {
        result.message = QStringLiteral("File New *.Sx Is The Firmware,Abort Procedure");
        return result;
    }

    // The bank's records are kept in memory; a record file left by an earlier run is stale.
    const QString staleRecordFile = inFolder(binFolder, QStringLiteral("Bin.sx"));
    if (QFileInfo::exists(staleRecordFile))
        QFile::remove(staleRecordFile);

    removeOlderMerge(outputPath);
    const QByteArray bankRecords = readBankRecords(bankPath, request.bank);
    QFile firmware(firmwarePath);
    if (!firmware.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Error(cannotOpenMessage(firmwarePath, firmware.errorString()));
    NewFirmwareFile output(outputPath);

    ProgressReporter reporter(progress);
    CopyState state;
    try {
        const qint64 firmwareLines = countLines(firmware);
        if (!firmware.seek(0))
            throw CopyFailure{};
        reporter.setMaximum(kRecordsPerBank + firmwareLines);
        LineReader reader(firmware);
        BlockWriter writer(output.device());
        copyFirmware(reader, writer, bankRecords, bankFirstAddress(request.bank),
                     bankLastAddress(request.bank), reporter, state);
        if (!output.commit())
            throw CopyFailure{};
        result.copyCompleted = true;
    } catch (const CopyFailure&) {
        result.message = kCopyFailedMessage;
    }
    reporter.finish();
    result.outcome = state.outcome;
    return result;
}

} // namespace quillner
