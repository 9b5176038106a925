#include "core/firmware/firmware_job.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_output.h"
#include "core/device/bank_layout.h"
#include "core/device/configuration_bank.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/firmware_verify.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quillner {

namespace {

QString withTrailingSeparator(const QString& folder)
{
    if (!folder.isEmpty() && isSeparator(folder.back()))
        return folder;
    return folder + QDir::separator();
}

QString withoutTrailingSeparator(QString folder)
{
    while (folder.size() > 1 && isSeparator(folder.back()))
        folder.chop(1);
    return folder;
}

// Record files of single banks that older versions of the tool left in the project folder.
void removeBankRecordFiles(const QString& outputFolder)
{
    for (int bank = 1; bank <= 5; ++bank) {
        const QString path = joinPath(outputFolder, QStringLiteral("B%1.sx").arg(bank));
        if (QFileInfo::exists(path))
            QFile::remove(path);
    }
}

FlashDecision refuse(FlashRefusal refusal, const QString& text)
{
    FlashDecision decision;
    decision.refusal = refusal;
    decision.launch.problems.append(Problem{{}, {}, text});
    return decision;
}

} // namespace

QString FirmwareJob::mergedPath() const
{
    return joinPath(outputFolder, newFileName);
}

MergeResult FirmwareJob::merge(const MergeProgress& progress) const
{
    MergeRequest request;
    request.bank = bank;
    request.firmwarePath = firmwarePath;
    request.binFolder = binFolder;
    request.outputFolder = outputFolder;
    request.newFileName = newFileName;
    request.namedTemporaryFile = namedTemporaryFile;
    // The new file takes its name only once it holds the firmware and the bank and nothing
    // else: the flashing tool is never handed a file that was not checked.
    request.master = master;
    // The bank the new file was checked against, for its manifest.
    QByteArray checkedBank;
    request.check = [this, &checkedBank](QIODevice& newFile) {
        QFile masterFile(firmwarePath);
        QBuffer masterBytes;
        QIODevice& masterDevice =
            master ? static_cast<QIODevice&>(masterBytes) : static_cast<QIODevice&>(masterFile);
        const QString bankPath = joinPath(binFolder, bankFileName());
        if (master) {
            masterBytes.setData(master->bytes);
            masterBytes.open(QIODevice::ReadOnly);
        } else if (!masterFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            return Problems{{firmwareName, {}, masterFile.errorString()}};
        }
        QByteArray bankBytes;
        try {
            const ConfigurationBank bank = readBankImageFile(bankPath);
            bankBytes = QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize);
        } catch (const Error& error) {
            return Problems{{{}, {}, error.message()}};
        }
        checkedBank = bankBytes;
        return verifyMergedFirmware(newFile, masterDevice, bankBytes, bank,
                                    {newFileName, firmwareName})
            .report;
    };
    // The merge may remove the merged file the manifest describes, so the manifest goes first: a
    // merge that fails or is killed leaves no manifest rather than one of another file. Only a
    // merged file that passed the check gets a new one.
    const QString manifestPath = joinPath(outputFolder, QString::fromLatin1(kBuildManifestName));
    if (QFileInfo::exists(manifestPath) && !QFile::remove(manifestPath))
        throw Error(cannotCreateFileMessage(manifestPath, QStringLiteral("cannot remove it")));
    const MergeResult result = MergeBankSx(request, progress);
    removeBankRecordFiles(outputFolder);
    if (result.copyCompleted && result.verified)
        writeManifest(checkedBank);
    return result;
}

QString FirmwareJob::bankFileName() const
{
    return QStringLiteral("bank%1.bin").arg(bank);
}

void FirmwareJob::writeManifest(const QByteArray& bankBytes) const
{
    BuildManifest manifest;
    manifest.masterFile = firmwareName;
    manifest.masterSha256 = master ? master->sha256 : fileSha256(firmwarePath);
    manifest.bankFile = QStringLiteral("bin/") + bankFileName();
    manifest.bankSha256 = QCryptographicHash::hash(bankBytes, QCryptographicHash::Sha256).toHex();
    manifest.mergedFile = newFileName;
    manifest.mergedSha256 = fileSha256(mergedPath());
    std::copy(bankBytes.begin(), bankBytes.end(), manifest.bank.begin());
    manifest.builtAt = sourceDateEpoch();
    writeBuildManifest(outputFolder, manifest);
}

FlashDecision FirmwareJob::decideFlash(const MergeResult& merged, int portIndex) const
{
    // A merge that stopped has said why; without its word the new file is simply not there.
    if (!merged.verification.isEmpty())
        return refuse(FlashRefusal::VerificationFailed, merged.message);
    if (!merged.copyCompleted)
        return refuse(FlashRefusal::MergeFailed,
                      merged.message.isEmpty() ? mergedFileNotFoundMessage() : merged.message);
    // Without the bank the device would get the firmware's own settings, or none.
    if (!merged.bankInserted)
        return refuse(FlashRefusal::BankNotInFirmware,
                      bankNotInFirmwareMessage(bank, firmwareName));
    // Only a file checked against the firmware and the bank goes to the device.
    if (!merged.verified)
        return refuse(FlashRefusal::NotVerified, notVerifiedMessage());
    FlashDecision decision;
    decision.launch.value = flasherLaunch(flasherDir, mergedPath(), portIndex, masterDir);
    if (!QFileInfo(mergedPath()).isFile())
        return refuse(FlashRefusal::CannotLaunch, mergedFileNotFoundMessage());
    if (!QFileInfo(decision.launch.value.program).isFile())
        return refuse(FlashRefusal::CannotLaunch, flasherNotFoundMessage());
    return decision;
}

Partial<FirmwareJob> planFirmwareJob(const AppPaths& paths, const QString& masterDir)
{
    Partial<FirmwareJob> plan;
    FirmwareJob& job = plan.value;
    // A project without a bin folder must not merge the bank of a project planned before.
    const QString binFolder = withoutTrailingSeparator(paths.ProjectDir) + QDir::separator() +
                              QStringLiteral("bin") + QDir::separator();
    job.binFolder = QFileInfo(binFolder).isDir() ? binFolder : QString();

    const QString firmwareName = QString::fromLatin1(kDefaultFirmwareName);
    job.firmwarePath = joinPath(masterDir, firmwareName);
    job.flasherDir =
        helperProgramFolder(paths.ExeDir, paths.DataDir, QString::fromLatin1(kFlasherName));
    job.masterDir = masterDir;
    if (!QFileInfo(job.firmwarePath).isFile()) {
        plan.problems.append(
            Problem{{}, {}, firmwareNotFoundMessage(firmwareName, job.firmwarePath)});
        return plan;
    }
    job.firmwareName = QFileInfo(job.firmwarePath).fileName();
    job.outputFolder = withTrailingSeparator(paths.ProjectDir);
    job.newFileName = newFirmwareName(job.firmwareName);
    plan.problems += projectOutputProblems(paths.ProjectDir, job.mergedPath());
    return plan;
}

} // namespace quillner
