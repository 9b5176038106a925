// Times the check of a merged firmware (verifyMergedFirmwareFiles) on the synthetic firmware that
// covers the whole 24-bit address space (about 40 MB), against reading both files as cat does.
//
//   bench_verify [folder] [runs]
//
// Without a folder the files go to a temporary folder that is removed at the end.

#include "core/app/error.h"
#include "core/device/bank_layout.h"
#include "core/firmware/firmware_verify.h"
#include "core/firmware/srec_merge.h"
#include "support/synthetic_firmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

using namespace quillner;

namespace {

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// Both files read to their end in large blocks, nothing done with the bytes.
double readBoth(const QStringList& paths)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray buffer(1 << 18, Qt::Uninitialized);
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return -1;
        while (file.read(buffer.data(), buffer.size()) > 0) {
        }
    }
    return seconds(timer);
}

double catBoth(const QStringList& paths)
{
    const QString cat = QStandardPaths::findExecutable(QStringLiteral("cat"));
    if (cat.isEmpty())
        return -1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(cat, paths);
    process.waitForFinished(-1);
    return seconds(timer);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    std::optional<QTemporaryDir> temporary;
    QString folder;
    if (args.size() > 1) {
        folder = args[1];
        QDir().mkpath(folder);
    } else {
        temporary.emplace();
        folder = temporary->path();
    }
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 5;
    const QDir dir(folder);
    dir.mkpath(QStringLiteral("bin"));
    QByteArray bank(kBankSize, Qt::Uninitialized);
    for (int i = 0; i < kBankSize; ++i)
        bank[i] = char(i * 13);
    try {
        const QString bankPath = dir.filePath(QStringLiteral("bin/bank1.bin"));
        QFile bankFile(bankPath);
        if (!bankFile.open(QIODevice::WriteOnly) || bankFile.write(bank) != bank.size())
            throw Error(QStringLiteral("cannot write ") + bankPath);
        bankFile.close();
        const QString master = dir.filePath(QStringLiteral("SX51804.sx"));
        if (!QFileInfo::exists(master))
            writeSyntheticFirmware(master, 0, 0x1000000, 32, QByteArrayLiteral("SX51804"));
        MergeRequest request;
        request.firmwarePath = master;
        request.binFolder = dir.filePath(QStringLiteral("bin"));
        request.outputFolder = folder;
        request.newFileName = QStringLiteral("New_SX51804.sx");
        if (!MergeBankSx(request).value.copyCompleted)
            throw Error(QStringLiteral("the merge did not complete"));
        const QString merged = dir.filePath(request.newFileName);
        std::printf("master %lld bytes, merged %lld bytes\n",
                    static_cast<long long>(QFileInfo(master).size()),
                    static_cast<long long>(QFileInfo(merged).size()));

        double bestVerify = 0;
        double bestRead = 0;
        double bestCat = 0;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const Result<FirmwareVerification> result =
                verifyMergedFirmwareFiles(merged, master, bankPath);
            const double verify = seconds(timer);
            const double read = readBoth({merged, master});
            const double cat = catBoth({merged, master});
            std::printf("  run %d: verify %.3f s (%s), read both %.3f s, cat both %.3f s\n",
                        run + 1, verify,
                        result.whole() && result.value.holds() ? "holds" : "DOES NOT HOLD", read,
                        cat);
            bestVerify = run == 0 ? verify : std::min(bestVerify, verify);
            bestRead = run == 0 ? read : std::min(bestRead, read);
            bestCat = run == 0 ? cat : std::min(bestCat, cat);
        }
        std::printf("best verify %.3f s; best read %.3f s (%.1fx); best cat %.3f s (%.1fx)\n",
                    bestVerify, bestRead, bestVerify / bestRead, bestCat, bestVerify / bestCat);
    } catch (const Error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
