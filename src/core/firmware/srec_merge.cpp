#include "core/firmware/srec_merge.h"

#include "core/app/app_paths.h"
#include "core/app/atomic_file.h"
#include "core/app/file_io.h"
#include "core/app/sha256.h"
#include "core/device/bank_records.h"
#include "core/firmware/firmware_copy.h"
#include "core/firmware/firmware_verify.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <optional>

namespace quillner {

namespace {

// A firmware kept in memory for a batch: the device's whole 24-bit address space in S2 records
// is about 40 MB of text.
constexpr qint64 kMaxFirmwareInMemory = qint64(1) << 30;

const QString kCopyFailedMessage = QStringLiteral("File New Sx Not Create,Abort Procedure");

// The folders may be given with or without a trailing separator.
QString inFolder(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : joinPath(folder, name);
}

QString bankFileName(int bank)
{
    return QStringLiteral("bank%1.bin").arg(bank);
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
// place of the one that failed. Why it could not be removed, or an empty text.
QString removeOlderMerge(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    QFile older(path);
    return older.remove() ? QString() : older.errorString();
}

} // namespace

std::shared_ptr<const MasterFirmware> readMasterFirmware(const QString& path)
{
    const QString nativePath = toNativeSeparators(path);
    auto master = std::make_shared<MasterFirmware>();
    master->path = nativePath;
    master->bytes = readFileBytes(nativePath, FileSize::atMost(kMaxFirmwareInMemory));
    QBuffer buffer(&master->bytes);
    buffer.open(QIODevice::ReadOnly);
    const Result<FirmwareScan> scan = scanFirmware(buffer, nativePath);
    master->lines = scan.value.lines;
    master->faults = scan.problems;
    master->sha256 = sha256Hex(master->bytes);
    return master;
}

QString sxFileNotFoundMessage()
{
    return QStringLiteral("File *.Sx Not Found,Abort Procedure");
}

QString mergeMessage(const MergeResult& result)
{
    return problemLines(result.problems).join(u'\n');
}

MergeResult MergeBankSx(const MergeRequest& request, const MergeProgress& progress)
{
    MergeResult result;
    MergedFirmware& merged = result.value;
    const auto stop = [&result](const QString& message) {
        result.problems.append(Problem{{}, {}, message});
        return result;
    };
    // A failed copy gives its fixed first line, then why.
    const auto copyFailed = [&result](const Problems& causes) {
        result.problems.append(Problem{{}, {}, kCopyFailedMessage});
        result.problems.append(causes);
        return result;
    };
    if (!isBankNumber(request.bank))
        return stop(QStringLiteral("There is no bank %1").arg(request.bank));

    const QString firmwarePath = toNativeSeparators(request.firmwarePath);
    const QString binFolder = toNativeSeparators(request.binFolder);
    const QString bankPath = inFolder(binFolder, bankFileName(request.bank));
    const QString outputPath =
        inFolder(toNativeSeparators(request.outputFolder), request.newFileName);

    // The checks come first and touch no file.
    if (!QFileInfo(firmwarePath).isFile())
        return stop(sxFileNotFoundMessage());
    if (request.newFileName.isEmpty())
        return stop(QStringLiteral("File New *.Sx Not Found,Abort Procedure"));
    if (binFolder.isEmpty() || !QFileInfo(binFolder).isDir())
        return stop(QStringLiteral("Directory Bin Not Found,Abort Procedure"));
    const QFileInfo bankInfo(bankPath);
    if (!bankInfo.isFile())
        return stop(
            QStringLiteral("File %1 Not Found,Abort Procedure").arg(bankFileName(request.bank)));
    // A truncated or overlong bank would put unknown bytes into the device.
    if (bankInfo.size() != kBankSize) {
        return stop(QStringLiteral("File %1 Is Not %2 Bytes Long,Abort Procedure")
                        .arg(bankFileName(request.bank))
                        .arg(kBankSize));
    }
    // An erased bank (all 0xFF) is what a device holds that was never configured; no compile
    // writes one, and merging it would flash a device with no configuration at all.
    merged.bank = readBankImageFile(bankPath);
    if (isErasedBank(merged.bank)) {
        return stop(QStringLiteral("File %1 Is Erased (All 0xFF),Abort Procedure")
                        .arg(bankFileName(request.bank)));
    }
    const QFileInfo outputInfo(outputPath);
    if (outputInfo.exists() && outputInfo == QFileInfo(firmwarePath))
        return stop(QStringLiteral("File New *.Sx Is The Firmware,Abort Procedure"));

    // A firmware that is no firmware, or one line that is none, is refused before anything is
    // touched.
    // A firmware already read is copied from memory, and was looked at when it was read.
    QFile firmwareFile(firmwarePath);
    QBuffer firmwareBytes;
    QIODevice& firmware = request.master ? static_cast<QIODevice&>(firmwareBytes) : firmwareFile;
    Result<FirmwareScan> scan;
    if (request.master) {
        firmwareBytes.setData(request.master->bytes);
        firmwareBytes.open(QIODevice::ReadOnly);
        scan.value.lines = request.master->lines;
        scan.problems = request.master->faults;
    } else {
        if (!firmwareFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return stop(cannotOpenFileMessage(firmwarePath, firmwareFile.errorString()));
        scan = scanFirmware(firmwareFile, firmwarePath);
    }
    const QString firmwareName = QFileInfo(firmwarePath).fileName();
    if (!scan.whole())
        return copyFailed(scan.problems);

    // The bank's records are kept in memory; a record file left by an earlier run is stale.
    const QString staleRecordFile = inFolder(binFolder, QStringLiteral("Bin.sx"));
    if (QFileInfo::exists(staleRecordFile))
        QFile::remove(staleRecordFile);

    if (const QString cause = removeOlderMerge(outputPath); !cause.isEmpty())
        return stop(cannotCreateFileMessage(outputPath, cause));
    removeLeftoverTemporaryFiles(outputPath);
    const QByteArrayView bankBytes(merged.bank.data(), kBankSize);
    const QByteArray bankRecords = bankSxRecords(request.bank, bankBytes);
    // Every flash is preceded by a fresh merge, so the new file is not waited for on the disk.
    AtomicFile output(outputPath, {.durability = AtomicFile::Durability::NotSynced});
    if (const Result<Done> created = output.create(); !created.whole()) {
        result.problems = created.problems;
        return result;
    }

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
        check.emplace(merged.bank, request.bank, VerifiedNames{request.newFileName, firmwareName});

    FirmwareCopyRequest copyRequest;
    copyRequest.firmware = &firmware;
    copyRequest.firmwareName = firmwareName;
    copyRequest.output = &output;
    copyRequest.bank = request.bank;
    copyRequest.bankRecords = &bankRecords;
    copyRequest.firmwareLines = scan.value.lines;
    copyRequest.masterHash = masterHash ? &*masterHash : nullptr;
    copyRequest.mergedHash = mergedHash ? &*mergedHash : nullptr;
    copyRequest.check = check ? &*check : nullptr;
    const FirmwareCopyResult copy = copyFirmware(copyRequest, progress);
    merged.outcome = copy.outcome;
    merged.bankInserted = copy.inserted;
    if (!copy.failure.isEmpty())
        return copyFailed(copy.failure);
    if (copy.inserted && check) {
        merged.verification = check->finish().report;
        if (!merged.verification.isEmpty())
            return copyFailed(merged.verification);
        merged.verified = true;
    }
    if (!output.commit().whole()) {
        merged.verified = false;
        return copyFailed({Problem{{}, {}, output.errorString()}});
    }
    merged.copyCompleted = true;
    if (request.hash) {
        merged.masterSha256 = request.master ? request.master->sha256 : masterHash->hexResult();
        merged.bankSha256 = sha256Hex(bankBytes);
        merged.mergedSha256 = mergedHash->hexResult();
    }
    return result;
}

} // namespace quillner
