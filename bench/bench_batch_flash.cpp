// A production station: a batch of rows flashed on several ports by a stand-in flashing tool that
// takes a fixed time per device, against the ideal wall time of rows x duration / ports.
//
//   bench_batch_flash quillner-cli [rows] [seconds per device] [ports]
//
// Defaults: 200 rows, 0.25 s, 4 ports, a synthetic firmware of about 1 MB. The batch is timed
// from its start to its summary, building and verifying every row as well; the build alone is
// timed too (the same batch without --flash), so that the flashing's own overhead shows.

#include "core/app/error.h"
#include "support/synthetic_firmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace quillner;

namespace {

QByteArray tableText(int rows)
{
    QByteArray text = "name,serial,serial.baud,can.format,filter.hide\n";
    for (int i = 0; i < rows; ++i)
        text += QStringLiteral("Line%1,SN%2,%3,%4,%5\n")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .arg(100000 + i)
                    .arg(i % 2 ? "9600" : "115200", i % 2 ? "2.0B" : "",
                         i % 2 ? QString() : QStringLiteral("0x%1-0x7FF").arg(i + 0x100, 0, 16))
                    .toUtf8();
    return text;
}

void writeOrThrow(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw Error(QStringLiteral("cannot write %1").arg(path));
}

double runTimed(const QString& tool, const QStringList& arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw Error(QStringLiteral("%1 %2 failed: %3")
                        .arg(tool, arguments.join(u' '),
                             QString::fromLocal8Bit(process.readAllStandardError())));
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_batch_flash quillner-cli [rows] [seconds] [ports]\n");
        return 2;
    }
    const int rows = args.size() > 2 ? std::max(1, args[2].toInt()) : 200;
    const double duration = args.size() > 3 ? std::max(0.0, args[3].toDouble()) : 0.25;
    const int portCount = args.size() > 4 ? std::clamp(args[4].toInt(), 1, 8) : 4;
    try {
        QTemporaryDir dir;
        // The program runs from a tool folder of its own, with the stand-in beside it.
        const QString toolDir = dir.filePath(QStringLiteral("tool"));
        const QString masterDir = toolDir + QStringLiteral("/MASTER");
        QDir().mkpath(masterDir);
        const QString tool = toolDir + QStringLiteral("/quillner-cli");
        if (!QFile::copy(args[1], tool))
            throw Error(QStringLiteral("cannot copy %1").arg(args[1]));
        const QString flasher = toolDir + QStringLiteral("/Morvex.exe");
        writeOrThrow(flasher, QStringLiteral("#!/bin/sh\nsleep %1\necho \"flashed $1 on $2\"\n")
                                  .arg(duration, 0, 'f', 3)
                                  .toUtf8());
        QFile::setPermissions(flasher, QFile::permissions(flasher) | QFileDevice::ExeOwner);
        // 0x350000 to 0x3B0000: about 1 MB of 32-byte S2 records around bank 1.
        writeSyntheticFirmware(masterDir + QStringLiteral("/SX51804.sx"), 0x350000, 0x3B0000, 32,
                               "BENCH FIRMWARE");
        const QString table = dir.filePath(QStringLiteral("lines.csv"));
        writeOrThrow(table, tableText(rows));

        QStringList ports;
        for (int port = 0; port < portCount; ++port)
            ports.append(QString::number(port));
        const QStringList common{QStringLiteral("-q"), QStringLiteral("batch"), table,
                                 QStringLiteral("--master"), masterDir};
        const double buildSeconds =
            runTimed(tool, common + QStringList{QStringLiteral("--out"),
                                                dir.filePath(QStringLiteral("built"))});
        const double flashSeconds =
            runTimed(tool, common + QStringList{QStringLiteral("--out"),
                                                dir.filePath(QStringLiteral("flashed")),
                                                QStringLiteral("--flash"),
                                                QStringLiteral("--ports"), ports.join(u',')});
        const double ideal = rows * duration / portCount;
        const qint64 journalLines = [&] {
            QFile journal(dir.filePath(QStringLiteral("flashed/journal.jsonl")));
            return journal.open(QIODevice::ReadOnly) ? journal.readAll().count('\n') : 0;
        }();
        if (journalLines != rows)
            throw Error(
                QStringLiteral("the journal holds %1 lines, not %2").arg(journalLines).arg(rows));

        std::printf(
            "firmware: %lld bytes; %d rows; %d ports; %.3f s per device\n",
            static_cast<long long>(QFileInfo(masterDir + QStringLiteral("/SX51804.sx")).size()),
            rows, portCount, duration);
        std::printf("build alone (no --flash):            %8.3f s\n", buildSeconds);
        std::printf("build and flash:                     %8.3f s\n", flashSeconds);
        std::printf("ideal (rows x duration / ports):     %8.3f s\n", ideal);
        std::printf("wall / ideal:                        %8.3f\n", flashSeconds / ideal);
        std::printf("overhead per device and port:        %8.1f ms\n",
                    (flashSeconds - ideal) * 1000.0 * portCount / rows);
    } catch (const Error& error) {
        std::fprintf(stderr, "error: %s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
