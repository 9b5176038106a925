#include "core/app/error.h"
#include "core/filters/filter_entries.h"
#include "core/filters/mask_pattern.h"

#include <QTest>

using namespace quillner;

Q_DECLARE_METATYPE(quillner::NumberBase)

namespace {

const QString kZeros29(kPatternLength, u'0');

QString symbolRefusal(char symbol)
{
    return QStringLiteral("Error! The simbol '%1' is not supported. You have to use only these "
                          "simbol '1', '0', 'x', 'X'")
        .arg(QLatin1Char(symbol));
}

} // namespace

class TestFilterEntries : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void standardIdText_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<NumberBase>("base");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 hex") << 0 << NumberBase::Hexadecimal << "0x0000";
        QTest::newRow("2047 hex") << 2047 << NumberBase::Hexadecimal << "0x07FF";
        QTest::newRow("171 hex") << 171 << NumberBase::Hexadecimal << "0x00AB";
        QTest::newRow("0 dec") << 0 << NumberBase::Decimal << "0";
        QTest::newRow("2047 dec") << 2047 << NumberBase::Decimal << "2047";
    }

    void standardIdText()
    {
        QFETCH(int, id);
        QFETCH(NumberBase, base);
        QFETCH(QString, text);
        QCOMPARE(quillner::standardIdText(id, base), text);
    }

    void convertCobIdEntry_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<NumberBase>("base");
        QTest::addColumn<QString>("converted");
        QTest::newRow("dec to hex") << "123" << NumberBase::Hexadecimal << "$0000007B";
        QTest::newRow("hex to dec") << "$0000007B" << NumberBase::Decimal << "123";
        QTest::newRow("hex stays hex") << "$0000007B" << NumberBase::Hexadecimal << "$0000007B";
        QTest::newRow("0x form to dec") << "0x1F" << NumberBase::Decimal << "31";
        QTest::newRow("largest to hex") << "536870911" << NumberBase::Hexadecimal << "$1FFFFFFF";
        // A hand-edited negative entry goes back and forth without change of value.
        QTest::newRow("negative to hex") << "-1" << NumberBase::Hexadecimal << "$FFFFFFFF";
        QTest::newRow("all ones to dec") << "$FFFFFFFF" << NumberBase::Decimal << "-1";
    }

    void convertCobIdEntry()
    {
        QFETCH(QString, entry);
        QFETCH(NumberBase, base);
        QFETCH(QString, converted);
        QCOMPARE(quillner::convertCobIdEntry(entry, base), converted);
    }

    void convertCobIdEntryRefusesNonInteger()
    {
        try {
            quillner::convertCobIdEntry(QStringLiteral("abc"), NumberBase::Decimal);
            QFAIL("no error");
        } catch (const Error& error) {
            QCOMPARE(error.message(), QStringLiteral("'abc' is not a valid integer value"));
        }
    }

    void checkCobIdEntry_data()
    {
        QTest::addColumn<int>("listCount");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<NumberBase>("base");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("refusal");
        const QString range = QString::fromLatin1(kCobIdOutOfRange);
        const QString full = QString::fromLatin1(kAllFilterInUse);
        const auto dec = NumberBase::Decimal;
        const auto hex = NumberBase::Hexadecimal;
        QTest::newRow("largest dec") << 0 << "536870911" << dec << "536870911"
                                     << "";
        QTest::newRow("largest $") << 0 << "$1FFFFFFF" << dec << "536870911"
                                   << "";
        QTest::newRow("largest 0x") << 0 << "0x1FFFFFFF" << hex << "$1FFFFFFF"
                                    << "";
        QTest::newRow("past the range") << 0 << "536870912" << dec << "" << range;
        QTest::newRow("minus one") << 0 << "-1" << dec << "" << range;
        QTest::newRow("empty") << 0 << "" << dec << "" << range;
        QTest::newRow("hex digits without prefix") << 0 << "1F" << hex << "" << range;
        QTest::newRow("typed base, hex shown") << 0 << "$1F" << hex << "$0000001F"
                                               << "";
        QTest::newRow("typed base, dec shown") << 0 << "0x1F" << dec << "31"
                                               << "";
        QTest::newRow("zero") << 0 << "0" << hex << "$00000000"
                              << "";
        QTest::newRow("63rd") << 62 << "5" << dec << "5"
                              << "";
        QTest::newRow("64th") << 63 << "5" << dec << "" << full;
        QTest::newRow("full list checked first") << 63 << "abc" << dec << "" << full;
    }

    void checkCobIdEntry()
    {
        QFETCH(int, listCount);
        QFETCH(QString, typed);
        QFETCH(NumberBase, base);
        QFETCH(QString, entry);
        QFETCH(QString, refusal);
        const EntryCheck check = quillner::checkCobIdEntry(listCount, typed, base);
        QCOMPARE(check.value, entry);
        QCOMPARE(refusalOf(check), refusal);
        QCOMPARE(check.whole(), refusal.isEmpty());
    }

    void checkPatternEntry_data()
    {
        QTest::addColumn<int>("listCount");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("example") << 0 << "111xxx1010"
                                 << "0000000000000000000111xxx1010"
                                 << "";
        QTest::newRow("upper-case X kept") << 0 << "1X0" << kZeros29.left(26) + "1X0"
                                           << "";
        QTest::newRow("empty") << 0 << "" << kZeros29 << "";
        QTest::newRow("full length") << 0 << QString(29, u'1') << QString(29, u'1') << "";
        QTest::newRow("too long") << 0 << QString(30, u'1') << "" << kPatternTooLong;
        QTest::newRow("letter a") << 0 << "11a0"
                                  << "" << symbolRefusal('a');
        QTest::newRow("digit 2") << 0 << "12"
                                 << "" << symbolRefusal('2');
        QTest::newRow("first bad symbol named") << 0 << "1 2"
                                                << "" << symbolRefusal(' ');
        QTest::newRow("10th") << 9 << "1" << kZeros29.left(28) + u'1' << "";
        QTest::newRow("11th") << 10 << "1"
                              << "" << kAllFilterInUse;
    }

    void checkPatternEntry()
    {
        QFETCH(int, listCount);
        QFETCH(QString, typed);
        QFETCH(QString, entry);
        QFETCH(QString, refusal);
        const EntryCheck check = quillner::checkPatternEntry(listCount, typed);
        QCOMPARE(check.value, entry);
        QCOMPARE(refusalOf(check), refusal);
    }

    void patternValues_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<quint32>("nonZeroBits");
        QTest::addColumn<quint32>("oneBits");
        QTest::addColumn<QString>("decoded");
        QTest::addColumn<QString>("idMask");
        const QString example = PadPattern(QStringLiteral("111xxx1010"));
        QTest::newRow("example") << example << 1018u << 906u << example << "0x0000038A/0x1FFFFF8F";
        QTest::newRow("upper-case X") << PadPattern(QStringLiteral("111XXX1010")) << 1018u << 906u
                                      << example << "0x0000038A/0x1FFFFF8F";
        QTest::newRow("zeros") << kZeros29 << 0u << 0u << kZeros29 << "0x00000000/0x1FFFFFFF";
        QTest::newRow("ones") << QString(29, u'1') << 0x1FFFFFFFu << 0x1FFFFFFFu
                              << QString(29, u'1') << "0x1FFFFFFF/0x1FFFFFFF";
        QTest::newRow("all free") << QString(29, u'x') << 0x1FFFFFFFu << 0u << QString(29, u'x')
                                  << "0x00000000/0x00000000";
        QTest::newRow("bit 28 alone") << u'1' + kZeros29.left(28) << 0x10000000u << 0x10000000u
                                      << u'1' + kZeros29.left(28) << "0x10000000/0x1FFFFFFF";
    }

    void patternValues()
    {
        QFETCH(QString, pattern);
        QFETCH(quint32, nonZeroBits);
        QFETCH(quint32, oneBits);
        QFETCH(QString, decoded);
        QFETCH(QString, idMask);
        QCOMPARE(PatternNonZeroBits(pattern), nonZeroBits);
        QCOMPARE(PatternOneBits(pattern), oneBits);
        QCOMPARE(BitsToPattern(nonZeroBits, oneBits), decoded);
        QCOMPARE(patternIdMaskText(pattern), idMask);
    }

    // The pattern of a stored pair, as the filter window and the bank description show it.
    void bitsToPatternOfStoredPair_data()
    {
        QTest::addColumn<quint32>("first");
        QTest::addColumn<quint32>("second");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("bit in second only is free") << 0u << 1u << kZeros29.left(28) + u'x';
        QTest::newRow("bits above 28 ignored") << 0xE0000000u << 0xFFFFFFFFu << QString(29, u'x');
        QTest::newRow("window example")
            << 1018u << 906u << QStringLiteral("0000000000000000000111xxx1010");
        QTest::newRow("all zero") << 0u << 0u << QString(29, u'0');
        QTest::newRow("all one") << 0x1FFFFFFFu << 0x1FFFFFFFu << QString(29, u'1');
        QTest::newRow("all free") << 0x1FFFFFFFu << 0u << QString(29, u'x');
        QTest::newRow("bits above 28 ignored, bit 0 in second")
            << 0xE0000000u << 0xE0000001u << QString(28, u'0') + u'x';
    }

    void bitsToPatternOfStoredPair()
    {
        QFETCH(quint32, first);
        QFETCH(quint32, second);
        QFETCH(QString, pattern);
        QCOMPARE(BitsToPattern(first, second), pattern);
    }
};

QTEST_GUILESS_MAIN(TestFilterEntries)
#include "tst_filter_entries.moc"
