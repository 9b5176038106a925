// Times the firmware merge on a synthetic firmware that covers the whole 24-bit address space
// with 32-byte S2 records (about 40 MB) and on one of about 1 MB: the merge alone, and the merge
// as an update runs it (FirmwareJob: the check of the new file and manifest.json with its three
// SHA-256), each against a copy of the same file (QFile::copy, as cp does it). Target for the
// update's merge: at most 3 times the copy.
//
//   bench_merge [folder] [runs]
//
// Without a folder the files go to a temporary folder that is removed at the end; with one they
// stay there: MASTER/full.sx, MASTER/small.sx, bin/bank1.bin and the merged New_*.sx files, and
// a later run reuses the firmware files it finds there. Each merge is timed on the wall clock
// and in processor time (user and system) of this process.

#include "core/app/error.h"
#include "core/bank/bank_compiler.h"
#include "core/device/srec_record.h"
#include "core/firmware/srec_merge.h"
#include "core/update/firmware_job.h"
#include "support/synthetic_firmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <optional>
#include <sys/resource.h>

using namespace quillner;

namespace {

struct Firmware
{
    const char* name;
    quint32 firstAddress;
    quint32 endAddress;
};

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

double processorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double timeCopy(const QString& from, const QString& to)
{
    QFile::remove(to);
    QElapsedTimer timer;
    timer.start();
    QFile::copy(from, to);
    const double elapsed = seconds(timer);
    QFile::remove(to);
    return elapsed;
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
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 3;

    const QDir dir(folder);
    dir.mkpath(QStringLiteral("MASTER"));
    dir.mkpath(QStringLiteral("bin"));
    QByteArray bank(kBankSize, Qt::Uninitialized);
    for (int i = 0; i < kBankSize; ++i)
        bank[i] = char(i * 13);
    {
        QFile file(dir.filePath(QStringLiteral("bin/bank1.bin")));
        if (!file.open(QIODevice::WriteOnly) || file.write(bank) != bank.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }

    const Firmware firmwares[] = {
        {"full.sx", 0x000000, 0x1000000}, // 524 288 records
        {"small.sx", 0x360000, 0x3C9000}, // 13 440 records
    };
    try {
        for (const Firmware& firmware : firmwares) {
            const QString path = dir.filePath(QStringLiteral("MASTER/") + firmware.name);
            QElapsedTimer timer;
            timer.start();
            const bool reused = args.size() > 1 && QFileInfo::exists(path);
            if (!reused) {
                writeSyntheticFirmware(path, firmware.firstAddress, firmware.endAddress, 32,
                                       QByteArrayLiteral("SX51804"));
            }
            const double generated = seconds(timer);
            const qint64 size = QFileInfo(path).size();
            if (reused) {
                std::printf("%s: %lld bytes, reused\n", firmware.name,
                            static_cast<long long>(size));
            } else {
                std::printf("%s: %lld bytes, written in %.3f s\n", firmware.name,
                            static_cast<long long>(size), generated);
            }

            MergeRequest request;
            request.firmwarePath = path;
            request.binFolder = dir.filePath(QStringLiteral("bin"));
            request.outputFolder = folder;
            request.newFileName = QStringLiteral("New_") + firmware.name;
            FirmwareJob job;
            job.firmwareName = QString::fromLatin1(firmware.name);
            job.firmwarePath = path;
            job.binFolder = request.binFolder + QDir::separator();
            job.outputFolder = folder + QDir::separator();
            job.newFileName = request.newFileName;
            double best = 0;
            double bestJob = 0;
            double bestCopy = 0;
            for (int run = 0; run < runs; ++run) {
                qint64 lastPosition = 0;
                qint64 maximum = 0;
                double processorStart = processorSeconds();
                timer.restart();
                const MergeResult result = MergeBankSx(request, [&](qint64 position, qint64 max) {
                    lastPosition = position;
                    maximum = max;
                });
                double elapsed = seconds(timer);
                double processor = processorSeconds() - processorStart;
                best = run == 0 ? elapsed : std::min(best, elapsed);
                std::printf("  merge run %d: %.3f s (processor %.3f s), outcome %d, %s, "
                            "progress %lld/%lld\n",
                            run + 1, elapsed, processor, result.outcome,
                            result.copyCompleted ? "complete" : "NOT complete",
                            static_cast<long long>(lastPosition), static_cast<long long>(maximum));

                processorStart = processorSeconds();
                timer.restart();
                const MergeResult checked = job.merge().value;
                elapsed = seconds(timer);
                processor = processorSeconds() - processorStart;
                bestJob = run == 0 ? elapsed : std::min(bestJob, elapsed);
                std::printf("  merge + check + manifest run %d: %.3f s (processor %.3f s), %s\n",
                            run + 1, elapsed, processor,
                            checked.verified ? "verified" : qPrintable(checked.message));

                const double copy = timeCopy(path, dir.filePath(QStringLiteral("copy.sx")));
                bestCopy = run == 0 ? copy : std::min(bestCopy, copy);
            }
            std::printf("  best merge %.3f s (%.1f MB/s); best merge + check + manifest %.3f s; "
                        "best QFile::copy %.3f s; merge + check + manifest / copy = %.2f "
                        "(target <= 3)\n",
                        best, double(size) / 1e6 / best, bestJob, bestCopy, bestJob / bestCopy);
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("peak memory of this process: %.1f MB\n", double(usage.ru_maxrss) / 1024);
    } catch (const Error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
