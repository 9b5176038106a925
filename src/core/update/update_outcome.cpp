#include "core/update/update_outcome.h"

#include "core/app/app_paths.h"
#include "core/app/counted_noun.h"
#include "core/bank/bank_files.h"
#include "core/update/device_update.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

namespace {

// Each line of a text that may hold several, indented below the stage's first line.
void appendIndented(QStringList& lines, const QStringList& details)
{
    for (const QString& detail : details) {
        for (const QString& line : detail.split(u'\n'))
            lines << QStringLiteral("  ") + line;
    }
}

} // namespace

QString flasherPortName(int portIndex)
{
    return QStringLiteral("COM%1").arg(portIndex + 1);
}

QStringList compileOutcomeLines(const CompiledBank& compiled, const QString& projectDir)
{
    QStringList lines{QStringLiteral("Compiled: %1 and %2 written")
                          .arg(QDir::toNativeSeparators(bankBinaryPath(projectDir)),
                               QFileInfo(bankSourcePath(projectDir)).fileName())};
    if (!compiled.problems.isEmpty()) {
        lines << QStringLiteral("Not read, zero in the bank (you chose to go on):");
        appendIndented(lines, problemLines(compiled.problems));
    }
    if (!compiled.warnings.isEmpty()) {
        lines << counted(compiled.warnings.size(), "warning") + u':';
        appendIndented(lines, problemLines(compiled.warnings));
    }
    return lines;
}

QStringList mergeOutcomeLines(const FirmwareJob& job, const MergeResult& merged)
{
    const QString file = QDir::toNativeSeparators(job.mergedPath());
    QStringList lines;
    if (!merged.value.verification.isEmpty()) {
        lines << QStringLiteral("Not merged: the new file failed its check and was not kept");
        appendIndented(lines, problemLines(merged.value.verification));
    } else if (!merged.value.copyCompleted) {
        lines << QStringLiteral("Not merged:");
        appendIndented(lines,
                       {merged.whole() ? mergedFileNotFoundMessage() : mergeMessage(merged)});
    } else if (!merged.value.bankInserted) {
        lines << QStringLiteral("Merged without bank %1: %2").arg(job.bank).arg(file);
        appendIndented(lines, {bankNotInFirmwareMessage(job.bank, job.firmwareName)});
    } else if (!merged.value.verified) {
        lines << QStringLiteral("Merged, not verified: %1").arg(file);
    } else {
        lines << QStringLiteral("Merged and verified: %1").arg(file);
    }
    return lines;
}

QStringList flasherOutcomeLines(const FirmwareJob& job, const FlashDecision& decision,
                                int portIndex, std::optional<qint64> processId)
{
    const QString flasher = QString::fromLatin1(kFlasherName);
    if (!decision.refused() && processId) {
        return {QStringLiteral("Flasher started: %1, process %2, port %3")
                    .arg(QDir::toNativeSeparators(decision.launch.value.program))
                    .arg(*processId)
                    .arg(flasherPortName(portIndex))};
    }
    QString why;
    switch (decision.refusal) {
    case FlashRefusal::None:
        why = QStringLiteral("it could not be started");
        break;
    case FlashRefusal::MergeFailed:
        why = QStringLiteral("the merge did not complete the new file");
        break;
    case FlashRefusal::VerificationFailed:
        why = QStringLiteral("the new file failed its check");
        break;
    case FlashRefusal::NotVerified:
        why = QStringLiteral("the new file was not verified");
        break;
    case FlashRefusal::BankNotInFirmware:
        why = QStringLiteral("the new file does not hold bank %1").arg(job.bank);
        break;
    case FlashRefusal::CannotLaunch:
        why =
            QFileInfo(decision.launch.value.program).isFile()
                ? QStringLiteral("%1 is not there").arg(QDir::toNativeSeparators(job.mergedPath()))
                : QStringLiteral("%1 not found in %2")
                      .arg(flasher, QDir::toNativeSeparators(job.flasherDir));
        break;
    }
    return {QStringLiteral("Flasher not started: %1").arg(why)};
}

} // namespace quillner
