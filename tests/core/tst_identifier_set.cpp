#include "core/filters/filter_edits.h"
#include "core/filters/identifier_set.h"
#include "core/filters/mask_pattern.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <bit>

using namespace quillner;

Q_DECLARE_METATYPE(quillner::IdWidth)
Q_DECLARE_METATYPE(quillner::NumberBase)

namespace {

// The identifiers of a set one by one, for comparing with what a brute force finds.
QList<quint32> members(const QList<IdRange>& ranges)
{
    QList<quint32> ids;
    for (const IdRange& range : ranges) {
        for (quint32 id = range.first; id <= range.last; ++id)
            ids.append(id);
    }
    return ids;
}

} // namespace

class TestIdentifierSet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<IdWidth>("width");
        QTest::addColumn<QString>("set");
        const IdWidth a = IdWidth::Standard;
        const IdWidth b = IdWidth::Extended;
        QTest::newRow("empty") << "" << a << "";
        QTest::newRow("one") << "0x7DF" << a << "0x7DF";
        QTest::newRow("decimal") << "1024" << a << "0x400";
        QTest::newRow("dollar and x") << "$10 x11" << a << "0x10-0x11";
        QTest::newRow("range list and number")
            << "0x100-0x1FF, 0x7DF 1024" << a << "0x100-0x1FF, 0x400, 0x7DF";
        QTest::newRow("overlaps merge") << "1-5,3-9, 10" << a << "0x1-0xA";
        QTest::newRow("id:mask low bits free") << "0x600:0x7F0" << a << "0x600-0x60F";
        QTest::newRow("id bits outside the mask ignored") << "0x605:0x7F0" << a << "0x600-0x60F";
        QTest::newRow("id:mask scattered") << "0x101:0x7FD" << a << "0x101, 0x103";
        QTest::newRow("id~mask") << "0x600~0x7F0" << a << "0x0-0x5FF, 0x610-0x7FF";
        QTest::newRow("mask 0 passes all") << "0:0" << a << "0x0-0x7FF";
        QTest::newRow("~ mask 0 passes none") << "0~0" << a << "";
        QTest::newRow("29-bit pgn") << "0x18FEF100:0x1FFFFF00" << b << "0x18FEF100-0x18FEF1FF";
        QTest::newRow("29-bit largest") << "0x1FFFFFFF" << b << "0x1FFFFFFF";
        QTest::newRow("29-bit inverse") << "0x10000000~0x10000000" << b << "0x0-0xFFFFFFF";
        // Both numbers of a pair are hexadecimal, as candump writes them, with or without 0x.
        QTest::newRow("pair without 0x") << "100:700" << a << "0x100-0x1FF";
        QTest::newRow("pair mask without 0x") << "123:7FF" << a << "0x123";
        QTest::newRow("pair mixed") << "0x600:7f0" << a << "0x600-0x60F";
        QTest::newRow("pair 29-bit") << "18FEF100:1FFFFF00" << b << "0x18FEF100-0x18FEF1FF";
        QTest::newRow("inverse without 0x") << "600~7F0" << a << "0x0-0x5FF, 0x610-0x7FF";
        QTest::newRow("single stays decimal") << "100 100:7FF" << a << "0x64, 0x100";
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(IdWidth, width);
        QFETCH(QString, set);
        const Result<QList<IdRange>> read = parseIdSet(text, width);
        QVERIFY(read.whole());
        QCOMPARE(idSetText(read.value), set);
        // The printed set reads back as the same set.
        QCOMPARE(parseIdSet(set, width).value, read.value);
    }

    void idMaskMatchesBruteForce_data()
    {
        QTest::addColumn<quint32>("id");
        QTest::addColumn<quint32>("mask");
        QTest::newRow("low run") << 0x600u << 0x7F0u;
        QTest::newRow("scattered") << 0x2A5u << 0x5AAu;
        QTest::newRow("single bit") << 0x001u << 0x001u;
        QTest::newRow("all fixed") << 0x123u << 0x7FFu;
    }

    void idMaskMatchesBruteForce()
    {
        QFETCH(quint32, id);
        QFETCH(quint32, mask);
        QList<quint32> match;
        QList<quint32> noMatch;
        for (quint32 candidate = 0; candidate <= 0x7FF; ++candidate)
            ((candidate & mask) == (id & mask) ? match : noMatch).append(candidate);
        const QString pair = QStringLiteral("0x") + QString::number(id, 16) +
                             QStringLiteral(":0x") + QString::number(mask, 16);
        QCOMPARE(members(parseIdSet(pair, IdWidth::Standard).value), match);
        QString inverse = pair;
        inverse.replace(u':', u'~');
        QCOMPARE(members(parseIdSet(inverse, IdWidth::Standard).value), noMatch);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<IdWidth>("width");
        QTest::addColumn<QString>("message");
        const IdWidth a = IdWidth::Standard;
        QTest::newRow("not a number")
            << "0x100, 0x1G" << a
            << "Column 8: '0x1G' is not an identifier, a range or an id:mask pair";
        QTest::newRow("too large for 11 bits")
            << "0x800" << a << "Column 1: '0x800' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("too large for 29 bits")
            << "  0x20000000" << IdWidth::Extended
            << "Column 3: '0x20000000' is outside the identifiers 0x00000000 to 0x1FFFFFFF";
        QTest::newRow("negative") << "-1" << a
                                  << "Column 1: '-1' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("reversed range") << "1 9-3" << a << "Column 3: '9-3' ends before it starts";
        QTest::newRow("bad mask")
            << "0x600:zz" << a
            << "Column 1: '0x600:zz' is not an identifier, a range or an id:mask pair";
        QTest::newRow("blank inside a range")
            << "5- 9" << a << "Column 1: '5-' is not an identifier, a range or an id:mask pair";
        QTest::newRow("too many ranges")
            << "1:1" << IdWidth::Extended
            << "Column 1: '1:1' passes identifiers in too many separate ranges";
        // A sign is refused, whatever the digits: read as a 32-bit integer, -0xFFFFFFF0 is 16.
        QTest::newRow("negative hexadecimal")
            << "-0x10" << a << "Column 1: '-0x10' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("negative hexadecimal that wraps")
            << "1 -0xFFFFFFF0" << a
            << "Column 3: '-0xFFFFFFF0' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("negative hexadecimal that wraps, 29-bit")
            << "-0xE0000010" << IdWidth::Extended
            << "Column 1: '-0xE0000010' is outside the identifiers 0x00000000 to 0x1FFFFFFF";
        QTest::newRow("range ending negative")
            << "5--0xFFFFFFF0" << a
            << "Column 1: '5--0xFFFFFFF0' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("pair digit not hexadecimal")
            << "600:7G0" << a
            << "Column 1: '600:7G0' is not an identifier, a range or an id:mask pair";
        QTest::newRow("pair signed")
            << "-600:7F0" << a
            << "Column 1: '-600:7F0' is not an identifier, a range or an id:mask pair";
        QTest::newRow("pair outside 11 bits")
            << "1024:7FF" << a << "Column 1: '1024:7FF' is outside the identifiers 0x000 to 0x7FF";
    }

    void errors()
    {
        QFETCH(QString, text);
        QFETCH(IdWidth, width);
        QFETCH(QString, message);
        const Result<QList<IdRange>> read = parseIdSet(text, width);
        QCOMPARE(problemLines(read.problems), QStringList{message});
        QVERIFY(read.value.isEmpty());
    }

    void identifiersInTypedOrder()
    {
        const QList<IdTerm> terms = parseIdTerms(u"7, 1-3, 0x10:0x7FE", IdWidth::Standard).value;
        QCOMPARE(termIdentifiers(terms, IdWidth::Standard, 100).value,
                 (QList<quint32>{7, 1, 2, 3, 0x10, 0x11}));
        QVERIFY(!termIdentifiers(terms, IdWidth::Standard, 5).whole());
    }

    // Counting before making: a pair that names too many identifiers is refused by its count,
    // whatever its ranges.
    void identifiersRefusedByCount()
    {
        const QList<IdTerm> terms = parseIdTerms(u"5, 1:1", IdWidth::Extended).value;
        const Result<QList<quint32>> identifiers = termIdentifiers(terms, IdWidth::Extended, 100);
        QCOMPARE(problemLines(identifiers.problems),
                 QStringList{QStringLiteral("The text names more than 100 identifiers")});
        QVERIFY(identifiers.value.isEmpty());
    }

    // The set of the terms as patterns agrees with the set as ranges, identifier by identifier.
    void patternSetMatchesRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ranges and numbers") << "0x100-0x1FF, 0x7DF 1024 3-17";
        QTest::newRow("overlapping ranges") << "1-5,3-9, 10 0x7F0-0x7FF 0x7FA";
        QTest::newRow("pairs") << "600:7F0 101:7FD 2A5:5AA";
        QTest::newRow("inverse pairs") << "600~7F0 0x2A5~0x5AA";
        QTest::newRow("all and nothing") << "0:0 0~0";
        QTest::newRow("mixed") << "0x10-0x30 15:7FE 0x400~0x400 0x7FF";
    }

    void patternSetMatchesRanges()
    {
        QFETCH(QString, text);
        const QList<IdTerm> terms = parseIdTerms(text, IdWidth::Standard).value;
        const IdPatternSet set = termPatternSet(terms, IdWidth::Standard).value;
        const QList<quint32> expected = members(termRanges(terms, IdWidth::Standard).value);
        QCOMPARE(identifiersOf(set), expected);
        QCOMPARE(set.count, quint64(expected.size()));
        QCOMPARE(termCount(terms, IdWidth::Standard).value, quint64(expected.size()));
    }

    // A pair stays one pattern however many identifiers it passes: nothing is made of them one
    // by one.
    void patternSetKeepsPairsWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint64>("count");
        QTest::addColumn<qsizetype>("parts");
        QTest::newRow("one pattern")
            << "0x18000000:0x1C000000" << (quint64(1) << 26) << qsizetype(1);
        QTest::newRow("every identifier") << "0-0x1FFFFFFF" << (quint64(1) << 29) << qsizetype(1);
        QTest::newRow("scattered free bits") << "1:1" << (quint64(1) << 28) << qsizetype(1);
        QTest::newRow("inverse") << "1~1" << (quint64(1) << 28) << qsizetype(1);
        QTest::newRow("one inside another")
            << "0x18000000:0x1C000000 0x10000000:0x10000000" << (quint64(1) << 28) << qsizetype(1);
        QTest::newRow("two that overlap")
            << "0x10000000:0x18000000 1:1"
            << (quint64(1) << 27) + (quint64(1) << 28) - (quint64(1) << 26) << qsizetype(-1);
    }

    void patternSetKeepsPairsWhole()
    {
        QFETCH(QString, text);
        QFETCH(quint64, count);
        QFETCH(qsizetype, parts);
        const IdPatternSet set =
            termPatternSet(parseIdTerms(text, IdWidth::Extended).value, IdWidth::Extended).value;
        QCOMPARE(set.count, count);
        if (parts >= 0)
            QCOMPARE(set.parts.size(), parts);
        QVERIFY(!set.overlapping());
    }

    // Pairs that overlap in more ways than parts can be cut are counted through a bitmap; the
    // count agrees with the union counted by splitting.
    void intricatePairsAreCounted()
    {
        QRandomGenerator random(5);
        QString text;
        QList<IdPattern> patterns;
        for (int i = 0; i < 40; ++i) {
            quint32 free = 0;
            while (std::popcount(free) < 20)
                free |= 1u << random.bounded(kPatternLength);
            const quint32 id = random.bounded(0x20000000u) & ~free;
            patterns.append({id, free});
            text += QStringLiteral("%1:%2 ").arg(id, 0, 16).arg(kPatternBits & ~free, 0, 16);
        }
        const IdPatternSet set =
            termPatternSet(parseIdTerms(text, IdWidth::Extended).value, IdWidth::Extended).value;
        QVERIFY(set.overlapping());
        QCOMPARE(set.count, passedCount(patterns));
        for (const IdPattern& pattern : std::as_const(patterns)) {
            QVERIFY(set.contains(pattern.value | pattern.free));
            QCOMPARE(set.countWithin(pattern), pattern.size());
        }
    }

    void tooManyItemsRefused()
    {
        const QString text = QStringLiteral("1 ").repeated(kMostIdTerms + 1);
        QCOMPARE(
            problemLines(parseIdTerms(text, IdWidth::Extended).problems),
            QStringList{QStringLiteral("The text holds more than %1 items").arg(kMostIdTerms)});
        QCOMPARE(parseIdTerms(QStringLiteral("1 ").repeated(1000), IdWidth::Extended).value.size(),
                 1000);
    }

    // Every identifier/mask pair that a pattern holds is taken as that pattern.
    void everyPairIsAPattern()
    {
        QRandomGenerator random(150);
        for (int i = 0; i < 150; ++i) {
            const quint32 id = random.bounded(0x20000000u);
            const quint32 mask = random.bounded(0x20000000u);
            const QString typed = QStringLiteral("0x%1:0x%2").arg(id, 0, 16).arg(mask, 0, 16);
            const IdPattern pattern = idPatternOf(patternFromIdMask(typed).value);
            QCOMPARE(pattern, (IdPattern{id & mask, kPatternBits & ~mask}));
            const Result<ListAddition> added = quillner::addPattern({}, typed);
            QVERIFY2(added.whole(),
                     qPrintable(typed + u' ' + problemLines(added.problems).join(u' ')));
        }
    }

    void readsIdentifierFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ids.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("0x100-0x1FF\r\n0x7DF, 1024\n");
        file.close();
        QCOMPARE(readIdentifierFile(path).value, QStringLiteral("0x100-0x1FF\r\n0x7DF, 1024\n"));
        // A file that is not there is a problem of the reading, not an exception.
        const Result<QString> missing = readIdentifierFile(dir.filePath(QStringLiteral("none")));
        QCOMPARE(missing.problems.size(), 1);
        QVERIFY(missing.problems.first().text.startsWith(QStringLiteral("Cannot open file")));
    }

    // A file without an end, a line without an end, or more text than any list: refused with
    // the reason, after reading a bounded amount.
    void boundlessIdentifierFilesRefused()
    {
        QCOMPARE(problemLines(readIdentifierFile(QStringLiteral("/dev/zero")).problems),
                 QStringList{QStringLiteral("zero, line 1: longer than 1048576 bytes, which no "
                                            "list of identifiers is")});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("long.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray lines = QByteArray("0x18FEF100 ").repeated(1000) + '\n';
        while (file.size() <= 16 << 20)
            file.write(lines);
        file.close();
        QCOMPARE(problemLines(readIdentifierFile(path).problems),
                 QStringList{QStringLiteral("long.txt: longer than 16777216 bytes, which no list "
                                            "of identifiers is")});
    }

    void idMaskPattern()
    {
        QCOMPARE(patternFromIdMask(QStringLiteral("0x18FEF100:0x1FFFFF00")).value,
                 QStringLiteral("110001111111011110001xxxxxxxx"));
        QCOMPARE(patternFromIdMask(QStringLiteral("111xxx1010")).value,
                 QStringLiteral("111xxx1010"));
        // The pattern's identifier/mask text names the same pair.
        QCOMPARE(patternIdMaskText(patternFromIdMask(QStringLiteral("0x600:0x7F0")).value),
                 QStringLiteral("0x00000600/0x000007F0"));
        QVERIFY(!patternFromIdMask(QStringLiteral("0x600~0x7F0")).whole());
    }

    void visibility()
    {
        Filter20A filter;
        QCOMPARE(visibleCountText(visibleCount(filter)), QStringLiteral("2048 of 2048 visible"));
        setVisibility(filter, parseIdSet(u"0x100-0x1FF, 0x7FF", IdWidth::Standard).value, false);
        QCOMPARE(visibleCountText(visibleCount(filter)), QStringLiteral("1791 of 2048 visible"));
        QCOMPARE(filter.IdVisible[0x100], quint8(0));
        QCOMPARE(filter.IdVisible[0x200], quint8(1));
        setVisibility(filter, parseIdSet(u"0x180:0x7F0", IdWidth::Standard).value, true);
        QCOMPARE(visibleCount(filter), 1807);
    }

    void addCobIds_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<NumberBase>("base");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("refusal");
        const NumberBase dec = NumberBase::Decimal;
        const QString range = QString::fromLatin1(kCobIdOutOfRange);
        QTest::newRow("one as before") << QStringList{} << "$1F" << dec << QStringList{"31"} << "";
        QTest::newRow("one not a number as before")
            << QStringList{} << "1F" << dec << QStringList{} << range;
        QTest::newRow("negative as before")
            << QStringList{} << "-1" << dec << QStringList{} << range;
        QTest::newRow("range and list in order")
            << QStringList{"1"} << "0x10-0x12, 5" << NumberBase::Hexadecimal
            << QStringList{"1", "$00000010", "$00000011", "$00000012", "$00000005"} << "";
        QTest::newRow("duplicate refused")
            << QStringList{"$00000100"} << "256" << dec << QStringList{"$00000100"}
            << "Error! The ID 256 is already in the list";
        QTest::newRow("duplicate stops a list")
            << QStringList{"3"} << "1-5" << dec << QStringList{"3", "1", "2"}
            << "Error! The ID 3 is already in the list";
        QTest::newRow("notation error")
            << QStringList{} << "1, 2x" << dec << QStringList{}
            << "Column 4: '2x' is not an identifier, a range or an id:mask pair";
    }

    void addCobIds()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, typed);
        QFETCH(NumberBase, base);
        QFETCH(QStringList, after);
        QFETCH(QString, refusal);
        const Result<ListAddition> added = quillner::addCobIds(list, typed, base);
        QCOMPARE(added.value.entries, after);
        QCOMPARE(problemLines(added.problems).join(u'\n'), refusal);
        QVERIFY(!added.value.full);
    }

    void rangeFillsTheListThenRefuses()
    {
        const Result<ListAddition> added = quillner::addCobIds({}, u"0-99", NumberBase::Decimal);
        QCOMPARE(added.value.entries.size(), kCobIdListMax);
        QCOMPARE(added.value.entries.last(), QStringLiteral("62"));
        QCOMPARE(problemLines(added.problems), QStringList{QString::fromLatin1(kAllFilterInUse)});
        QVERIFY(added.value.full);
    }

    void addPattern_data()
    {
        QTest::addColumn<int>("listed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("added");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("typed pattern") << 0 << "111xxx1010"
                                       << "0000000000000000000111xxx1010"
                                       << "";
        QTest::newRow("id:mask") << 0 << "0x600:0x7F0"
                                 << "xxxxxxxxxxxxxxxxxx1100000xxxx"
                                 << "";
        QTest::newRow("scattered id:mask") << 0 << "1:1"
                                           << "xxxxxxxxxxxxxxxxxxxxxxxxxxxx1"
                                           << "";
        QTest::newRow("id:mask hexadecimal") << 0 << "123:7FF"
                                             << "xxxxxxxxxxxxxxxxxx00100100011"
                                             << "";
        QTest::newRow("full list first") << 10 << "0x600:zz"
                                         << "" << QString::fromLatin1(kAllFilterInUse);
        QTest::newRow("symbol") << 0 << "12"
                                << ""
                                << "Error! The simbol '2' is not supported. You have to use only "
                                   "these simbol '1', '0', 'x', 'X'";
    }

    void addPattern()
    {
        QFETCH(int, listed);
        QFETCH(QString, typed);
        QFETCH(QString, added);
        QFETCH(QString, refusal);
        const QStringList before(listed, PadPattern(QString()));
        const Result<ListAddition> result = quillner::addPattern(before, typed);
        QCOMPARE(problemLines(result.problems).join(u'\n'), refusal);
        QCOMPARE(result.value.full, listed == kPatternListMax);
        QCOMPARE(result.value.entries.size(), listed + (refusal.isEmpty() ? 1 : 0));
        if (refusal.isEmpty())
            QCOMPARE(result.value.entries.last(), added);
    }
};

QTEST_GUILESS_MAIN(TestIdentifierSet)
#include "tst_identifier_set.moc"
