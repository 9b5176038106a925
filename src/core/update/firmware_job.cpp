#include "core/update/firmware_job.h"

#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/project_output.h"
#include "core/device/bank_layout.h"
#include "core/device/configuration_bank.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/firmware_verify.h"

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
    // The new file takes its name only once it holds the firmware and the bank and nothing
    // else: the flashing tool is never handed a file that was not checked. The check and the
    // manifest's hashes take the bytes as the merge reads and writes them.
    request.master = master;
    request.verify = true;
    request.hash = true;
    // The merge may remove the merged file the manifest describes, so the manifest goes first: a
    // merge that fails or is killed leaves no manifest rather than one of another file. Only a
    // merged file that passed the check gets a new one.
    const QString manifestPath = joinPath(outputFolder, QString::fromLatin1(kBuildManifestName));
    if (QFileInfo::exists(manifestPath) && !QFile::remove(manifestPath))
        return MergeResult::failure(
            {{{}, {}, cannotCreateFileMessage(manifestPath, QStringLiteral("cannot remove it"))}});
    MergeResult result = MergeBankSx(request, progress);
    removeBankRecordFiles(outputFolder);
    if (result.value.copyCompleted && result.value.verified)
        writeManifest(result);
    return result;
}

QString FirmwareJob::bankFileName() const
{
    return QStringLiteral("bank%1.bin").arg(bank);
}

void FirmwareJob::writeManifest(const MergeResult& merged) const
{
    BuildManifest manifest;
    manifest.masterFile = firmwareName;
    manifest.masterSha256 = merged.value.masterSha256;
    manifest.bankFile = QStringLiteral("bin/") + bankFileName();
    manifest.bankSha256 = merged.value.bankSha256;
    manifest.mergedFile = newFileName;
    manifest.mergedSha256 = merged.value.mergedSha256;
    manifest.bank = merged.value.bank;
    manifest.builtAt = sourceDateEpoch();
    writeBuildManifest(outputFolder, manifest);
}

FlashDecision FirmwareJob::decideFlash(const MergeResult& merged, int portIndex) const
{
    // A merge that stopped has said why; without its word the new file is simply not there.
    if (!merged.value.verification.isEmpty())
        return refuse(FlashRefusal::VerificationFailed, mergeMessage(merged));
    if (!merged.value.copyCompleted)
        return refuse(FlashRefusal::MergeFailed,
                      merged.whole() ? mergedFileNotFoundMessage() : mergeMessage(merged));
    // Without the bank the device would get the firmware's own settings, or none.
    if (!merged.value.bankInserted)
        return refuse(FlashRefusal::BankNotInFirmware,
                      bankNotInFirmwareMessage(bank, firmwareName));
    // Only a file checked against the firmware and the bank goes to the device.
    if (!merged.value.verified)
        return refuse(FlashRefusal::NotVerified, notVerifiedMessage());
    FlashDecision decision;
    decision.launch.value = flasherLaunch(flasherDir, mergedPath(), portIndex, masterDir);
    if (!QFileInfo(mergedPath()).isFile())
        return refuse(FlashRefusal::CannotLaunch, mergedFileNotFoundMessage());
    if (!QFileInfo(decision.launch.value.program).isFile())
        return refuse(FlashRefusal::CannotLaunch,
                      flasherNotFoundMessage(flasherFolders.isEmpty() ? QStringList{flasherDir}
                                                                      : flasherFolders));
    return decision;
}

Result<FirmwareJob> planFirmwareJob(const AppPaths& paths, const QString& masterDir)
{
    Result<FirmwareJob> plan;
    FirmwareJob& job = plan.value;
    // A project without a bin folder must not merge the bank of a project planned before.
    const QString binFolder = withTrailingSeparator(ProjectLayout::of(paths.ProjectDir).binFolder);
    job.binFolder = QFileInfo(binFolder).isDir() ? binFolder : QString();

    const QString firmwareName = QString::fromLatin1(kDefaultFirmwareName);
    job.firmwarePath = joinPath(masterDir, firmwareName);
    job.flasherDir =
        helperProgramFolder(paths.ExeDir, paths.DataDir, QString::fromLatin1(kFlasherName));
    job.flasherFolders = helperProgramFolders(paths.ExeDir, paths.DataDir);
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
