// How long fitting a set of 29-bit identifiers into patterns takes, and how well it fits:
// - single sets into 10 patterns: 63 and 2000 scattered identifiers, 2000 consecutive ones (many
//   prime patterns), 80 of five J1939 parameter groups (an exact cover), and 500 J1939-like and
//   500 uniform ones, which must take at most 200 ms each;
// - the same 500 with a recording's weights (5000 identifiers outside the set);
// - 400 id:mask pairs of 20 free bits each, kept as patterns: time and peak memory;
// - the fixed table of 200 sets of the tests: the portfolio against the first way alone;
// - sets of 64 to 100 identifiers into 2 and 3 patterns, which are searched exactly: how many the
//   search proves best, and how long the fit takes; the J1939-like set of 68 of the tests alone.
#include "core/filters/identifier_set.h"
#include "core/filters/pattern_fit.h"
#include "support/identifier_sets.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <bit>
#include <sys/resource.h>
#include <vector>

using namespace quillner;

namespace {

constexpr int kRounds = 10;

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

double millisecondsSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Timing
{
    double median = 0;
    double most = 0;
};

template <typename Run> Timing timed(Run run)
{
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(millisecondsSince(timer));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

QString fitText(const PatternFit& fit)
{
    return QStringLiteral("%1 patterns, %2 extra (%3)")
        .arg(fit.patterns.size())
        .arg(fit.extras)
        .arg(fit.optimal() ? QStringLiteral("optimal")
                           : QStringLiteral("at least %1").arg(fit.lowerBound));
}

long peakKibibytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString manyPairs(int count, int freeBits, quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList pairs;
    for (int i = 0; i < count; ++i) {
        quint32 free = 0;
        while (std::popcount(free) < freeBits)
            free |= 1u << random.bounded(29);
        pairs << QStringLiteral("%1:%2")
                     .arg(random.bounded(0x20000000u) & ~free, 0, 16)
                     .arg(0x1FFFFFFFu & ~free, 0, 16);
    }
    return pairs.join(u' ');
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
        {"500 J1939-like", testing::j1939LikeIds(7, 500)},
        {"500 uniform", testing::uniformIds(7, 500)},
    };
    for (const auto& set : cases) {
        PatternFit fit;
        const Timing portfolio = timed([&] { fit = fitPatterns(set.ids, 10); });
        PatternFit first;
        const Timing firstWay = timed([&] { first = fitPatternsFirstWay(set.ids, 10); });
        out << QStringLiteral(
                   "%1: %2; median %3 ms, max %4 ms (first way alone: %5 extra, %6 ms)\n")
                   .arg(QLatin1StringView(set.name), fitText(fit))
                   .arg(portfolio.median, 0, 'f', 2)
                   .arg(portfolio.most, 0, 'f', 2)
                   .arg(first.extras)
                   .arg(firstWay.median, 0, 'f', 2);
    }

    for (const auto& set : {cases[4], cases[5]}) {
        const IdPatternSet ids = patternSetOfIds(set.ids);
        QRandomGenerator random(11);
        RecordedTraffic recorded;
        while (recorded.framesById.size() < 5000) {
            const quint32 near =
                set.ids[random.bounded(int(set.ids.size()))] ^ (1u << random.bounded(29));
            recorded.framesById[near] += 1 + random.bounded(1000);
        }
        const ExtraTraffic traffic(recorded, ids);
        PatternFit fit;
        const Timing timing = timed([&] { fit = fitPatterns(ids, 10, &traffic); });
        out << QStringLiteral("%1 weighed by 5000 recorded identifiers: %2 extra frames of %3, "
                              "%4 extra identifiers; median %5 ms, max %6 ms\n")
                   .arg(QLatin1StringView(set.name))
                   .arg(fit.extraFrames)
                   .arg(traffic.total())
                   .arg(fit.extras)
                   .arg(timing.median, 0, 'f', 2)
                   .arg(timing.most, 0, 'f', 2);
    }

    const QString pairs = manyPairs(400, 20, 5);
    const long before = peakKibibytes();
    QElapsedTimer timer;
    timer.start();
    const IdPatternSet set =
        termPatternSet(parseIdTerms(pairs, IdWidth::Extended).value, IdWidth::Extended).value;
    const double setMs = millisecondsSince(timer);
    const PatternFit fit = fitPatterns(set, 10);
    out << QStringLiteral("400 id:mask pairs of 20 free bits (%1 identifiers, %2): set %3 ms, fit "
                          "%4 ms in all, %5; peak memory %6 MiB (%7 MiB before)\n")
               .arg(set.count)
               .arg(set.overlapping() ? QStringLiteral("counted by bitmap")
                                      : QStringLiteral("%1 disjoint parts").arg(set.parts.size()))
               .arg(setMs, 0, 'f', 1)
               .arg(millisecondsSince(timer), 0, 'f', 1)
               .arg(fitText(fit))
               .arg(peakKibibytes() / 1024)
               .arg(before / 1024);

    int better = 0;
    int worse = 0;
    double firstTotal = 0;
    double portfolioTotal = 0;
    std::vector<double> times;
    int optimal = 0;
    const QList<testing::FitCase> table = testing::fitCaseTable();
    for (const testing::FitCase& entry : table) {
        const PatternFit first = fitPatternsFirstWay(entry.ids, entry.maxPatterns);
        QElapsedTimer one;
        one.start();
        const PatternFit best = fitPatterns(entry.ids, entry.maxPatterns);
        times.push_back(millisecondsSince(one));
        better += best.extras < first.extras;
        worse += best.extras > first.extras;
        optimal += best.optimal();
        firstTotal += double(first.extras);
        portfolioTotal += double(best.extras);
    }
    std::sort(times.begin(), times.end());
    out << QStringLiteral("Table of %1 sets: portfolio better on %2, worse on %3, optimal on %4; "
                          "extra identifiers in all %5 of the first way's; median %6 ms, max %7 "
                          "ms\n")
               .arg(table.size())
               .arg(better)
               .arg(worse)
               .arg(optimal)
               .arg(portfolioTotal / firstTotal, 0, 'f', 3)
               .arg(times[times.size() / 2], 0, 'f', 2)
               .arg(times.back(), 0, 'f', 2);

    const PatternFit j1939Fit = fitPatterns(testing::j1939LikeIds(68, 68), 3);
    const Timing j1939Timing = timed([&] { fitPatterns(testing::j1939LikeIds(68, 68), 3); });
    out << QStringLiteral("J1939-like 68 into 3: %1; median %2 ms, max %3 ms\n")
               .arg(fitText(j1939Fit))
               .arg(j1939Timing.median, 0, 'f', 2)
               .arg(j1939Timing.most, 0, 'f', 2);
    for (const int patterns : {2, 3}) {
        for (const bool uniform : {false, true}) {
            std::vector<double> fewTimes;
            int proven = 0;
            constexpr int kFewSets = 100;
            for (quint32 seed = 1; seed <= kFewSets; ++seed) {
                const int count = 64 + int(seed % 37);
                const QList<quint32> ids =
                    uniform ? testing::uniformIds(seed, count) : testing::j1939LikeIds(seed, count);
                QElapsedTimer one;
                one.start();
                proven += fitPatterns(ids, patterns).optimal();
                fewTimes.push_back(millisecondsSince(one));
            }
            std::sort(fewTimes.begin(), fewTimes.end());
            out << QStringLiteral("%1 %2 sets of 64 to 100 into %3: proven best %4; median %5 "
                                  "ms, max %6 ms\n")
                       .arg(kFewSets)
                       .arg(uniform ? QStringLiteral("uniform") : QStringLiteral("J1939-like"))
                       .arg(patterns)
                       .arg(proven)
                       .arg(fewTimes[fewTimes.size() / 2], 0, 'f', 2)
                       .arg(fewTimes.back(), 0, 'f', 2);
        }
    }
    return 0;
}
