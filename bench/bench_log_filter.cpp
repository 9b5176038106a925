// How fast a candump log is read and every frame judged against a filter, by one thread and by
// two, compared with "wc -l" on the same file, in processor time. Writes a log of the given size (1
// GB by default; less when the disk has no room, as it says) into a temporary folder, or reads the
// file given.
//   bench_log_filter [SIZE_MB | LOG_FILE]
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"
#include "core/logs/recording_tally.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

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

// Processor time (user and system, of this process and of the programs it ran) and elapsed
// time: the machine is shared, so processor time is what tells the work done.
struct Timing
{
    double processor = 0;
    double elapsed = 0;

    QString text(double mb) const
    {
        return QStringLiteral("%1 s processor, %2 s elapsed (%3 MB/s)")
            .arg(processor, 0, 'f', 3)
            .arg(elapsed, 0, 'f', 3)
            .arg(mb / elapsed, 0, 'f', 0);
    }
};

double processorSeconds()
{
    double seconds = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& time : {usage.ru_utime, usage.ru_stime})
            seconds += double(time.tv_sec) + double(time.tv_usec) / 1e6;
    }
    return seconds;
}

// The fastest of a few runs, the file in the page cache after the first.
template <typename Run> Timing fastest(Run run)
{
    run();
    Timing best{1e9, 1e9};
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double processor = processorSeconds();
        run();
        best.processor = std::min(best.processor, processorSeconds() - processor);
        best.elapsed = std::min(best.elapsed, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
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

    const Timing wc = fastest([&] {
        QProcess process;
        process.start(QStringLiteral("wc"), {QStringLiteral("-l"), path});
        process.waitForFinished(-1);
    });
    const double mb = double(QFile(path).size()) / (1 << 20);
    out << QStringLiteral("%1 MB; wc -l: %2\n").arg(mb, 0, 'f', 0).arg(wc.text(mb));
    QString tallies[2];
    for (const int threads : {1, 2}) {
        LogReading reading;
        const Timing timing = fastest([&] {
            FilterTally tally;
            TallyThreads plan;
            plan.count = threads;
            reading = tallyRecording(path, filter, tally, CutShort::Refused, plan).value;
            tallies[threads - 1] = filterTallyText(tally);
        });
        out << QStringLiteral("filter test, %1 thread%2: %3; %4 x wc -l in processor time\n")
                   .arg(threads)
                   .arg(threads == 1 ? "" : "s")
                   .arg(timing.text(mb))
                   .arg(timing.processor / wc.processor, 0, 'f', 2);
    }
    out << QStringLiteral("%1 lines, %2\n")
               .arg(tallies[0].count(u'\n'))
               .arg(tallies[0] == tallies[1] ? QStringLiteral("the same tally with two threads")
                                             : QStringLiteral("ANOTHER TALLY WITH TWO THREADS"));
    return tallies[0] == tallies[1] ? 0 : 1;
}
