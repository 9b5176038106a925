#include "core/filters/filter_entries.h"
#include "core/filters/mask_pattern.h"
#include "core/filters/pattern_fit.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <bit>

using namespace quillner;

namespace {

// Five J1939 parameter groups at priority 6, each from source addresses 0x00 to 0x0F. No two of
// the groups differ in one bit only, so no pattern passes two of them without extras.
QList<quint32> j1939Groups()
{
    QList<quint32> ids;
    for (const quint32 pgn : {0xF004u, 0xFEEEu, 0xFEF1u, 0xFEE5u, 0xFEFCu}) {
        for (quint32 source = 0; source <= 0x0F; ++source)
            ids.append(0x18000000u | pgn << 8 | source);
    }
    return ids;
}

QList<quint32> range(quint32 first, quint32 last)
{
    QList<quint32> ids;
    for (quint32 id = first; id <= last; ++id)
        ids.append(id);
    return ids;
}

// Identifiers scattered over the low 12 bits of one parameter group region.
QList<quint32> scattered(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QSet<quint32> ids;
    while (ids.size() < count)
        ids.insert(0x18FE0000u | random.bounded(0x1000u));
    return ids.values();
}

struct BruteForce
{
    quint64 extras = 0;
    bool coversAll = true;
};

// Every identifier each pattern passes, enumerated over its free bits.
BruteForce bruteForce(const QList<IdPattern>& patterns, const QList<quint32>& ids)
{
    const QSet<quint32> wanted(ids.begin(), ids.end());
    QSet<quint32> passed;
    for (const IdPattern& pattern : patterns) {
        Q_ASSERT(std::popcount(pattern.free) <= 20);
        quint32 subset = 0;
        do {
            passed.insert(pattern.value | subset);
            subset = (subset - pattern.free) & pattern.free;
        } while (subset != 0);
    }
    BruteForce result;
    for (const quint32 id : passed)
        result.extras += !wanted.contains(id);
    for (const quint32 id : wanted)
        result.coversAll = result.coversAll && passed.contains(id);
    return result;
}

} // namespace

class TestPatternFit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fit_data()
    {
        QTest::addColumn<QList<quint32>>("ids");
        QTest::addColumn<int>("maxPatterns");
        // At most this many patterns and no extra identifier; -1: no exact cover within
        // maxPatterns.
        QTest::addColumn<int>("exactPatterns");
        QTest::newRow("one identifier") << QList<quint32>{0x123} << 10 << 1;
        QTest::newRow("aligned block") << range(0x100, 0x1FF) << 10 << 1;
        QTest::newRow("two halves apart") << QList<quint32>{0, 1, 2, 3, 8, 9, 10, 11} << 10 << 1;
        QTest::newRow("0 to 999") << range(0, 999) << 10 << 6;
        QTest::newRow("j1939 five groups") << j1939Groups() << 10 << 5;
        QTest::newRow("j1939 five groups, exactly five") << j1939Groups() << 5 << 5;
        QTest::newRow("j1939 into four") << j1939Groups() << 4 << -1;
        QTest::newRow("j1939 into one") << j1939Groups() << 1 << -1;
        QTest::newRow("scattered 200 into 10") << scattered(200, 7) << 10 << -1;
        QTest::newRow("scattered 63 into 10") << scattered(63, 11) << 10 << -1;
        QTest::newRow("duplicates count once") << QList<quint32>{5, 4, 5, 4, 6, 7} << 10 << 1;
    }

    void fit()
    {
        QFETCH(QList<quint32>, ids);
        QFETCH(int, maxPatterns);
        QFETCH(int, exactPatterns);
        const PatternFit fit = fitPatterns(ids, maxPatterns);
        QVERIFY(fit.patterns.size() <= maxPatterns);
        QVERIFY(!fit.patterns.isEmpty());
        const BruteForce checked = bruteForce(fit.patterns, ids);
        QVERIFY(checked.coversAll);
        QCOMPARE(fit.extras, checked.extras);
        if (exactPatterns >= 0) {
            QCOMPARE(fit.extras, quint64(0));
            QVERIFY(fit.patterns.size() <= exactPatterns);
        } else {
            QVERIFY(fit.extras > 0);
        }
    }

    void fewerPatternsLetMoreThrough()
    {
        const QList<quint32> ids = j1939Groups();
        quint64 previous = 0;
        for (int patterns = 5; patterns >= 1; --patterns) {
            const PatternFit fit = fitPatterns(ids, patterns);
            QVERIFY(fit.extras >= previous);
            previous = fit.extras;
        }
        QVERIFY(previous > 0);
    }

    void form()
    {
        const FilterForm list = chooseFilterForm(range(1, 63), kPatternListMax);
        QVERIFY(list.identifierList);
        QCOMPARE(list.identifiers.size(), 63);
        const FilterForm patterns = chooseFilterForm(j1939Groups(), kPatternListMax);
        QVERIFY(!patterns.identifierList);
        QCOMPARE(patterns.fit.patterns.size(), 5);
        QCOMPARE(patterns.fit.extras, quint64(0));
        QVERIFY(chooseFilterForm({}, kPatternListMax).identifierList);
    }

    void passedCount_data()
    {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<quint64>("count");
        const QString zeros(kPatternLength, u'0');
        QTest::newRow("none") << QStringList{} << quint64(0);
        QTest::newRow("one fixed") << QStringList{zeros} << quint64(1);
        QTest::newRow("all free") << QStringList{QString(kPatternLength, u'x')}
                                  << (quint64(1) << 29);
        QTest::newRow("overlapping")
            << QStringList{PadPattern(QStringLiteral("xx0")), PadPattern(QStringLiteral("x0x")),
                           PadPattern(QStringLiteral("0xx"))}
            << quint64(7);
        QTest::newRow("contained")
            << QStringList{PadPattern(QStringLiteral("1xxx")), PadPattern(QStringLiteral("1x1x"))}
            << quint64(8);
        QTest::newRow("high and low free")
            << QStringList{QStringLiteral("x") + zeros.left(27) + u'x',
                           QStringLiteral("x") + zeros.left(27) + u'1'}
            << quint64(4);
    }

    void passedCount()
    {
        QFETCH(QStringList, patterns);
        QFETCH(quint64, count);
        QList<IdPattern> bits;
        for (const QString& pattern : patterns) {
            bits.append(idPatternOf(pattern));
            QCOMPARE(idPatternText(bits.last()), pattern);
        }
        QCOMPARE(quillner::passedCount(bits), count);
    }
};

QTEST_GUILESS_MAIN(TestPatternFit)
#include "tst_pattern_fit.moc"
