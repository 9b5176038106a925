// How fast a candump log is read and every frame judged against a filter, compared with
// "wc -l" on the same file. Writes a log of the given size (1 GB by default; less when the disk
// has no room, as it says) into a temporary folder, or reads the file given.
//   bench_log_filter [SIZE_MB | LOG_FILE]
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTextStream>

using namespace quillner;

namespace {

// Lines like candump -L writes them: 300 identifiers as on a real bus (200 standard, 100
// extended), some remote frames.
bool writeLog(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QList<QByteArray> frames;
    for (int i = 0; i < 200; ++i) {
        const QByteArray id = QByteArray::number(i * 10, 16).toUpper().rightJustified(3, '0');
        frames << id + (i % 50 == 1 ? "#R" : "#DEADBEEF");
    }
    for (int i = 0; i < 100; ++i)
        frames << QByteArray::number(0x18FE0000u | quint32(i) << 8 | 0x21, 16).toUpper() +
                      "#0102030405060708";
    QByteArray chunk;
    qint64 written = 0;
    qint64 line = 0;
    while (written < bytes) {
        chunk.clear();
        for (int i = 0; i < 10000; ++i, ++line) {
            chunk += "(17000" + QByteArray::number(line / 8000 + 10000) + '.' +
                     QByteArray::number(line % 8000 * 125 + 100000) + ") can0 " +
                     frames[int(line * 7919 % frames.size())] + '\n';
        }
        if (file.write(chunk) != chunk.size())
            return false;
        written += chunk.size();
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    QString path;
    const QString argument = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    bool isNumber = false;
    qint64 megabytes = argument.toLongLong(&isNumber);
    if (!argument.isEmpty() && !isNumber) {
        path = argument;
    } else {
        if (!isNumber)
            megabytes = 1024;
        const qint64 room = QStorageInfo(dir.path()).bytesAvailable() / (1 << 20);
        if (megabytes > room / 2) {
            out << QStringLiteral("Only %1 MB free: writing %2 MB instead of %3 MB\n")
                       .arg(room)
                       .arg(room / 2)
                       .arg(megabytes);
            megabytes = room / 2;
        }
        path = dir.filePath(QStringLiteral("bench.log"));
        if (!writeLog(path, megabytes << 20)) {
            out << "Cannot write " << path << '\n';
            return 1;
        }
    }
    out.flush();

    // A 2.0A bank that hides half the identifiers.
    ConfigurationBank bank{};
    for (int byte = 0; byte < kBitmapBytes; byte += 2)
        bank[size_t(kFilterAreaOffset + byte)] = 0xFF;
    const FrameFilter filter(bank);

    QElapsedTimer timer;
    timer.start();
    FilterTally tally;
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        tally.add(frame, filter.verdict(frame.id, frame.extended));
    };
    const LogReading reading = readCanLog(path, visitor);
    const double readSeconds = double(timer.nsecsElapsed()) / 1e9;

    timer.restart();
    QProcess wc;
    wc.start(QStringLiteral("wc"), {QStringLiteral("-l"), path});
    wc.waitForFinished(-1);
    const double wcSeconds = double(timer.nsecsElapsed()) / 1e9;

    const double mb = double(QFile(path).size()) / (1 << 20);
    out << QStringLiteral("%1 MB, %2 lines, %3 frames (%4 passed, %5 blocked)\n")
               .arg(mb, 0, 'f', 0)
               .arg(reading.lines)
               .arg(reading.frames)
               .arg(tally.passed)
               .arg(tally.blocked);
    out << QStringLiteral("filter test: %1 s (%2 MB/s); wc -l: %3 s (%4 MB/s); ratio %5\n")
               .arg(readSeconds, 0, 'f', 2)
               .arg(mb / readSeconds, 0, 'f', 0)
               .arg(wcSeconds, 0, 'f', 2)
               .arg(mb / wcSeconds, 0, 'f', 0)
               .arg(readSeconds / wcSeconds, 0, 'f', 2);
    return 0;
}
