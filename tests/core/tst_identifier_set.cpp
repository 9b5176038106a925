#include "core/app/error.h"
#include "core/filters/filter_edits.h"
#include "core/filters/identifier_set.h"
#include "core/filters/mask_pattern.h"

#include <QTest>

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
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(IdWidth, width);
        QFETCH(QString, set);
        QCOMPARE(idSetText(parseIdSet(text, width)), set);
        // The printed set reads back as the same set.
        QCOMPARE(parseIdSet(set, width), parseIdSet(text, width));
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
        QCOMPARE(members(parseIdSet(pair, IdWidth::Standard)), match);
        QString inverse = pair;
        inverse.replace(u':', u'~');
        QCOMPARE(members(parseIdSet(inverse, IdWidth::Standard)), noMatch);
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
    }

    void errors()
    {
        QFETCH(QString, text);
        QFETCH(IdWidth, width);
        QFETCH(QString, message);
        try {
            parseIdSet(text, width);
            QFAIL("no error");
        } catch (const Error& error) {
            QCOMPARE(error.message(), message);
        }
    }

    void identifiersInTypedOrder()
    {
        const QList<IdTerm> terms = parseIdTerms(u"7, 1-3, 0x10:0x7FE", IdWidth::Standard);
        QCOMPARE(termIdentifiers(terms, IdWidth::Standard, 100),
                 (QList<quint32>{7, 1, 2, 3, 0x10, 0x11}));
        QVERIFY_THROWS_EXCEPTION(Error, termIdentifiers(terms, IdWidth::Standard, 5));
    }

    void idMaskPattern()
    {
        QCOMPARE(patternFromIdMask(QStringLiteral("0x18FEF100:0x1FFFFF00")),
                 QStringLiteral("110001111111011110001xxxxxxxx"));
        QCOMPARE(patternFromIdMask(QStringLiteral("111xxx1010")), QStringLiteral("111xxx1010"));
        // The pattern's identifier/mask text names the same pair.
        QCOMPARE(patternIdMaskText(patternFromIdMask(QStringLiteral("0x600:0x7F0"))),
                 QStringLiteral("0x00000600/0x000007F0"));
        QVERIFY_THROWS_EXCEPTION(Error, patternFromIdMask(QStringLiteral("0x600~0x7F0")));
    }

    void visibility()
    {
        Filter20A filter;
        QCOMPARE(visibleCountText(visibleCount(filter)), QStringLiteral("2048 of 2048 visible"));
        setVisibility(filter, parseIdSet(u"0x100-0x1FF, 0x7FF", IdWidth::Standard), false);
        QCOMPARE(visibleCountText(visibleCount(filter)), QStringLiteral("1791 of 2048 visible"));
        QCOMPARE(filter.IdVisible[0x100], quint8(0));
        QCOMPARE(filter.IdVisible[0x200], quint8(1));
        setVisibility(filter, parseIdSet(u"0x180:0x7F0", IdWidth::Standard), true);
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
        const CobIdAddition added = quillner::addCobIds(list, typed, base);
        QCOMPARE(added.entries, after);
        QCOMPARE(added.refusal, refusal);
    }

    void rangeFillsTheListThenRefuses()
    {
        const CobIdAddition added = quillner::addCobIds({}, u"0-99", NumberBase::Decimal);
        QCOMPARE(added.entries.size(), kCobIdListMax);
        QCOMPARE(added.entries.last(), QStringLiteral("62"));
        QCOMPARE(added.refusal, QString::fromLatin1(kAllFilterInUse));
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
        const CobIdAddition result = quillner::addPattern(before, typed);
        QCOMPARE(result.refusal, refusal);
        QCOMPARE(result.entries.size(), listed + (refusal.isEmpty() ? 1 : 0));
        if (refusal.isEmpty())
            QCOMPARE(result.entries.last(), added);
    }
};

QTEST_GUILESS_MAIN(TestIdentifierSet)
#include "tst_identifier_set.moc"
