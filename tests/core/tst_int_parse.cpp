#include "core/app/error.h"
#include "core/app/int_parse.h"

#include <QTest>

using namespace quillner;

class TestIntParse : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void strict_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        const auto row = [](const char* name, const char* text, bool valid, int value) {
            QTest::newRow(name) << QString::fromUtf8(text) << valid << value;
        };
        row("decimal", "123", true, 123);
        row("zero", "0", true, 0);
        row("leading zeros", "007", true, 7);
        row("plus", "+5", true, 5);
        row("minus", "-1", true, -1);
        row("int max", "2147483647", true, 2147483647);
        row("int min", "-2147483648", true, int(0x80000000u));
        row("overflow", "2147483648", false, 0);
        row("negative overflow", "-2147483649", false, 0);
        row("long overflow", "99999999999999999999", false, 0);
        row("dollar", "$1F", true, 31);
        row("x", "x1f", true, 31);
        row("X", "X1F", true, 31);
        row("0x", "0x1F", true, 31);
        row("0X", "0X1f", true, 31);
        row("eight digits", "$7FFFFFFF", true, 2147483647);
        row("wraps above 0x7FFFFFFF", "$FFFFFFFF", true, -1);
        row("wraps to int min", "0x80000000", true, int(0x80000000u));
        row("bank identifier", "$1FFFFFFF", true, 0x1FFFFFFF);
        row("nine digits", "$000000001", false, 0);
        row("negative hex", "-$10", true, -16);
        row("prefix alone", "$", false, 0);
        row("0x alone", "0x", false, 0);
        row("hex digit in decimal", "1F", false, 0);
        row("bad hex digit", "$1G", false, 0);
        row("leading blanks", "   42", true, 42);
        row("leading blanks before sign", "  -42", true, -42);
        row("trailing blank", "42 ", false, 0);
        row("blank after sign", "- 42", false, 0);
        row("empty", "", false, 0);
        row("blanks only", "   ", false, 0);
        row("sign only", "-", false, 0);
        row("two signs", "+-1", false, 0);
        row("word", "abc", false, 0);
        row("decimal point", "1.0", false, 0);
    }

    void strict()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        if (valid) {
            QCOMPARE(parseIntStrict(text), value);
        } else {
            try {
                parseIntStrict(text);
                QFAIL("accepted");
            } catch (const Error& error) {
                QCOMPARE(error.message(),
                         QStringLiteral("'%1' is not a valid integer value").arg(text));
            }
        }
    }

    void lenientGivesTheCallersDefault()
    {
        QCOMPARE(parseIntLenient(u"abc", 0x20000000), 0x20000000);
        QCOMPARE(parseIntLenient(u"", -7), -7);
        QCOMPARE(parseIntLenient(u" 12", -7), 12);
    }
};

QTEST_APPLESS_MAIN(TestIntParse)
#include "tst_int_parse.moc"
