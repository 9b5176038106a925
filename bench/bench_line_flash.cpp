// A production line: several stations, each with its ports, flash one table through a shared
// PostgreSQL journal (a server of its own, started here), with a stand-in flashing tool that takes
// a fixed time per device; the wall time against the ideal of rows x duration / all ports.
//
//   bench_line_flash quillner-cli [rows] [seconds per device] [stations] [ports per station]
//
// Defaults: 200 rows, 1 s, 3 stations of 4 ports. The stations are timed from their start
// together to the end of the last, building and verifying their rows as well.

#include "core/app/error.h"
#include "support/line_station.h"
#include "support/postgres_server.h"
#include "support/synthetic_firmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using namespace quillner;

namespace {

QByteArray tableText(int rows)
{
    QByteArray text = "name,serial,serial.baud,can.format\n";
    for (int i = 0; i < rows; ++i)
        text += QStringLiteral("Line%1,SN%2,%3,%4\n")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .arg(100000 + i)
                    .arg(i % 2 ? "9600" : "115200", i % 2 ? "2.0B" : "")
                    .toUtf8();
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_line_flash quillner-cli [rows] [seconds] [stations] "
                             "[ports per station]\n");
        return 2;
    }
    const int rows = args.size() > 2 ? std::max(1, args[2].toInt()) : 200;
    const double duration = args.size() > 3 ? std::max(0.0, args[3].toDouble()) : 1.0;
    const int stationCount = args.size() > 4 ? std::max(1, args[4].toInt()) : 3;
    const int portCount = args.size() > 5 ? std::clamp(args[5].toInt(), 1, 8) : 4;
    try {
        QTemporaryDir dir;
        testing::PostgresServer server(dir.path());
        if (!server.start() || !server.createDatabase(QStringLiteral("line")))
            throw Error(server.failure());
        const QString toolDir = dir.filePath(QStringLiteral("tool"));
        const QString masterDir = toolDir + QStringLiteral("/MASTER");
        QDir().mkpath(masterDir);
        const QString tool = toolDir + QStringLiteral("/quillner-cli");
        if (!QFile::copy(args[1], tool))
            throw Error(QStringLiteral("cannot copy %1").arg(args[1]));
        testing::writeLineFlasher(toolDir, duration);
        writeSyntheticFirmware(masterDir + QStringLiteral("/SX51804.sx"), 0x350000, 0x3B0000, 32,
                               "BENCH FIRMWARE");
        QFile table(toolDir + QStringLiteral("/lines.csv"));
        if (!table.open(QIODevice::WriteOnly) || table.write(tableText(rows)) < 0)
            throw Error(QStringLiteral("cannot write the table"));
        table.close();

        QStringList ports;
        for (int port = 0; port < portCount; ++port)
            ports.append(QString::number(port));
        QElapsedTimer clock;
        clock.start();
        std::vector<std::unique_ptr<QProcess>> stations;
        for (int s = 0; s < stationCount; ++s) {
            const QString name = QStringLiteral("S%1").arg(s + 1);
            // Each station is a machine of its own, with its own serial ports: the ports' locks
            // live in its data folder. One data folder would make the stations' COM1 one port.
            const QString home = toolDir + u'/' + name + QStringLiteral(".home");
            QDir().mkpath(home);
            auto process = std::make_unique<QProcess>();
            process->setWorkingDirectory(toolDir);
            process->start(
                tool,
                {QStringLiteral("-q"), QStringLiteral("batch"), QStringLiteral("lines.csv"),
                 QStringLiteral("--master"), masterDir, QStringLiteral("--out"),
                 toolDir + u'/' + name, QStringLiteral("--home"), home, QStringLiteral("--flash"),
                 QStringLiteral("--ports"), ports.join(u','), QStringLiteral("--journal"),
                 server.address(QStringLiteral("line")), QStringLiteral("--station"), name});
            stations.push_back(std::move(process));
        }
        for (const auto& process : stations) {
            if (!process->waitForFinished(-1) || process->exitStatus() != QProcess::NormalExit ||
                process->exitCode() != 0)
                throw Error(QStringLiteral("a station failed: %1")
                                .arg(QString::fromLocal8Bit(process->readAllStandardError())));
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;

        const QHash<QString, QStringList> flashed = testing::flashedRows(toolDir);
        QHash<QString, int> perStation;
        for (auto it = flashed.cbegin(); it != flashed.cend(); ++it) {
            if (it.value().size() != 1)
                throw Error(
                    QStringLiteral("%1 was flashed %2 times").arg(it.key()).arg(it.value().size()));
            ++perStation[it.value().front()];
        }
        if (flashed.size() != rows)
            throw Error(QStringLiteral("%1 rows flashed, not %2").arg(flashed.size()).arg(rows));
        const double ideal = rows * duration / (stationCount * portCount);
        std::printf("%d rows; %d stations of %d ports; %.3f s per device\n", rows, stationCount,
                    portCount, duration);
        for (auto it = perStation.cbegin(); it != perStation.cend(); ++it)
            std::printf("  station %s: %d rows\n", qPrintable(it.key()), it.value());
        std::printf("line wall time:                      %8.3f s\n", seconds);
        std::printf("ideal (rows x duration / all ports): %8.3f s\n", ideal);
        std::printf("wall / ideal:                        %8.3f\n", seconds / ideal);
    } catch (const Error& error) {
        std::fprintf(stderr, "error: %s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
