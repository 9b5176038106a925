// How long fitting a set of 29-bit identifiers into at most 10 patterns takes: 63 scattered
// identifiers, 2000 scattered ones, 2000 consecutive ones (many prime patterns) and 80
// identifiers of five J1939 parameter groups (an exact cover). The target is under 100 ms each.
#include "core/filters/pattern_fit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <vector>

using namespace quillner;

namespace {

constexpr int kRounds = 20;

QList<quint32> scattered(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QSet<quint32> ids;
    while (ids.size() < count)
        ids.insert(0x18000000u | random.bounded(0x00FFFFFFu));
    return ids.values();
}

QList<quint32> consecutive(quint32 first, int count)
{
    QList<quint32> ids;
    for (int i = 0; i < count; ++i)
        ids.append(first + quint32(i));
    return ids;
}

QList<quint32> j1939()
{
    QList<quint32> ids;
    for (const quint32 pgn : {0xF004u, 0xFEEEu, 0xFEF1u, 0xFEE5u, 0xFEFCu}) {
        for (quint32 source = 0; source <= 0x0F; ++source)
            ids.append(0x18000000u | pgn << 8 | source);
    }
    return ids;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const struct
    {
        const char* name;
        QList<quint32> ids;
    } cases[] = {
        {"63 scattered", scattered(63, 1)},
        {"2000 scattered", scattered(2000, 2)},
        {"2000 consecutive", consecutive(0x18FE0123u, 2000)},
        {"80 J1939 (exact)", j1939()},
    };
    for (const auto& set : cases) {
        std::vector<double> times;
        PatternFit fit;
        for (int round = 0; round < kRounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            fit = fitPatterns(set.ids, 10);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(times.begin(), times.end());
        out << QStringLiteral("%1: %2 patterns, %3 extra; median %4 ms, max %5 ms\n")
                   .arg(QLatin1StringView(set.name))
                   .arg(fit.patterns.size())
                   .arg(fit.extras)
                   .arg(times[times.size() / 2], 0, 'f', 2)
                   .arg(times.back(), 0, 'f', 2);
    }
    return 0;
}
