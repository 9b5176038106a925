// How fast recordings are read and judged, and what memory they take.
//   bench_recordings blf [FRAMES [FOLDER]]
//                                   the same frames (10 million by default) as a candump -L log
//                                   and as a Vector BLF file: time of each and their ratio; the
//                                   files are kept in FOLDER and read again from there
//   bench_recordings ids [COUNT]    a candump log of COUNT (5 million by default) distinct 29-bit
//                                   identifiers: time and peak memory of the tally, text and JSON
// Peak memory is the process's resident high-water mark (getrusage), measured after each step.
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTextStream>

#include "support/blf_writer.h"

#include <sys/resource.h>

using namespace quillner;

namespace {

double peakMegabytes()
{
    struct rusage usage
    {
    };
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// 300 identifiers as on a real bus, data of 0 to 8 bytes.
struct FrameSource
{
    quint32 id(qint64 i) const
    {
        const int k = int(i * 7919 % 300);
        return k < 200 ? quint32(k * 10) : 0x18FE0000u | quint32(k - 200) << 8 | 0x21;
    }
    bool extended(qint64 i) const { return i * 7919 % 300 >= 200; }
    QByteArray data(qint64 i) const
    {
        return QByteArray("\x11\x22\x33\x44\x55\x66\x77\x88").left(int(i % 9));
    }
};

QByteArray candumpLine(qint64 i, quint32 id, bool extended, const QByteArray& data)
{
    return "(" + QByteArray::number(1700000000 + i / 4000) + '.' +
           QByteArray::number(i % 4000 * 250).rightJustified(6, '0') + ") can0 " +
           QByteArray::number(id, 16).toUpper().rightJustified(extended ? 8 : 3, '0') + '#' +
           data.toHex().toUpper() + '\n';
}

struct Timed
{
    double seconds;
    LogReading reading;
    FilterTally tally;
};

Timed judge(const QString& path, const FrameFilter& filter)
{
    Timed result;
    QElapsedTimer timer;
    timer.start();
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        result.tally.add(frame, filter.verdict(frame.busFrame()));
    };
    result.reading = readCanLog(path, visitor).value;
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    return result;
}

ConfigurationBank halfHiddenBank()
{
    ConfigurationBank bank{};
    for (int byte = 0; byte < kBitmapBytes; byte += 2)
        bank[size_t(kFilterAreaOffset + byte)] = 0xFF;
    return bank;
}

int benchBlf(QTextStream& out, qint64 frames, const QString& keep)
{
    QTemporaryDir dir;
    const QString folder = keep.isEmpty() ? dir.path() : keep;
    const QString logPath = folder + QStringLiteral("/frames.log");
    const QString blfPath = folder + QStringLiteral("/frames.blf");
    QFile log(logPath);
    QFile blf(blfPath);
    if (!keep.isEmpty() && log.exists() && blf.exists()) {
        out << "reading the files kept in " << keep << '\n';
    } else if (!log.open(QIODevice::WriteOnly) || !blf.open(QIODevice::WriteOnly)) {
        return 1;
    } else {
        const FrameSource source;
        quillner::testing::BlfWriter writer(blf);
        QByteArray text;
        for (qint64 i = 0; i < frames; ++i) {
            const QByteArray data = source.data(i);
            text += candumpLine(i, source.id(i), source.extended(i), data);
            writer.add(quillner::testing::blfCanMessage(source.id(i), source.extended(i), data,
                                                        false, 1, 1, quint64(i) * 250000));
            if (text.size() > (4 << 20)) {
                log.write(text);
                text.clear();
            }
        }
        log.write(text);
        writer.finish();
    }
    log.close();
    blf.close();
    out << QStringLiteral("%1 frames: candump log %2 MB, BLF %3 MB; peak after writing %4 MB\n")
               .arg(frames)
               .arg(double(QFile(logPath).size()) / (1 << 20), 0, 'f', 0)
               .arg(double(QFile(blfPath).size()) / (1 << 20), 0, 'f', 0)
               .arg(peakMegabytes(), 0, 'f', 0);
    out.flush();
    const FrameFilter filter(halfHiddenBank());
    const Timed text = judge(logPath, filter);
    const double afterText = peakMegabytes();
    const Timed binary = judge(blfPath, filter);
    const double afterBinary = peakMegabytes();
    out << QStringLiteral("candump log: %1 s (%2 frames, %3 passed); peak %4 MB\n")
               .arg(text.seconds, 0, 'f', 2)
               .arg(text.reading.frames)
               .arg(text.tally.passed)
               .arg(afterText, 0, 'f', 0);
    out << QStringLiteral("Vector BLF:  %1 s (%2 frames, %3 passed); peak %4 MB\n")
               .arg(binary.seconds, 0, 'f', 2)
               .arg(binary.reading.frames)
               .arg(binary.tally.passed)
               .arg(afterBinary, 0, 'f', 0);
    out << QStringLiteral("BLF / candump log: %1\n").arg(binary.seconds / text.seconds, 0, 'f', 2);
    return binary.reading.frames == text.reading.frames ? 0 : 1;
}

int benchIdentifiers(QTextStream& out, qint64 count)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ids.log"));
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly))
        return 1;
    QByteArray text;
    for (qint64 i = 0; i < count; ++i) {
        // Distinct identifiers spread over the 29 bits.
        const quint32 id = quint32((i * 2654435761LL) & 0x1FFFFFFF);
        text += candumpLine(i, id, true, "\x01");
        if (text.size() > (4 << 20)) {
            log.write(text);
            text.clear();
        }
    }
    log.write(text);
    log.close();
    const double before = peakMegabytes();
    ConfigurationBank bank{};
    bank[kCanTypeOffset] = 1;
    const Timed timed = judge(path, FrameFilter(bank));
    const double afterRead = peakMegabytes();
    QElapsedTimer timer;
    timer.start();
    const qsizetype textSize = filterTallyText(timed.tally).size();
    const double afterText = peakMegabytes();
    const qsizetype jsonSize = QJsonDocument(filterTallyJson(timed.tally)).toJson().size();
    const double afterJson = peakMegabytes();
    out << QStringLiteral("%1 distinct extended identifiers, %2 MB log: read and counted in %3 s, "
                          "%4 listed singly\n")
               .arg(count)
               .arg(double(QFile(path).size()) / (1 << 20), 0, 'f', 0)
               .arg(timed.seconds, 0, 'f', 2)
               .arg(timed.tally.extended.size());
    out << QStringLiteral("peak memory: %1 MB before, %2 MB after counting, %3 MB after the text "
                          "(%4 KB), %5 MB after the JSON (%6 KB), %7 s for both\n")
               .arg(before, 0, 'f', 0)
               .arg(afterRead, 0, 'f', 0)
               .arg(afterText, 0, 'f', 0)
               .arg(textSize / 1024)
               .arg(afterJson, 0, 'f', 0)
               .arg(jsonSize / 1024)
               .arg(double(timer.nsecsElapsed()) / 1e9, 0, 'f', 2);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = application.arguments();
    const QString mode = arguments.value(1, QStringLiteral("blf"));
    if (mode == QStringLiteral("blf"))
        return benchBlf(out, arguments.value(2, QStringLiteral("10000000")).toLongLong(),
                        arguments.value(3));
    if (mode == QStringLiteral("ids"))
        return benchIdentifiers(out, arguments.value(2, QStringLiteral("5000000")).toLongLong());
    out << "bench_recordings blf [FRAMES] | ids [COUNT]\n";
    return 2;
}
