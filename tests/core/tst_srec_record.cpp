#include "core/device/srec_record.h"

#include <QTest>

using namespace quillner;

namespace {

struct Expected
{
    char type;
    quint32 address;
    QByteArray data;
    quint8 checksum;
};

} // namespace

Q_DECLARE_METATYPE(Expected)

// An S2 record of 32 data bytes, 0x00 to 0xF8 in steps of 8.
const QByteArray
    kLongRecord("S2243880200008101820283038404850586068707880889098A0A8B0B8C0C8D0D8E0E8F0F883");
const QByteArray kLongData =
    QByteArray::fromHex("0008101820283038404850586068707880889098A0A8B0B8C0C8D0D8E0E8F0F8");

class TestSRecordRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsAGoodRecord_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<Expected>("expected");
        QTest::newRow("S0 header")
            << QByteArray("S00600004844521B") << Expected{'0', 0, "HDR", 0x1B};
        QTest::newRow("S1 16-bit address")
            << QByteArray("S1061234010203AD") << Expected{'1', 0x1234, "\x01\x02\x03", 0xAD};
        QTest::newRow("S2 24-bit address")
            << QByteArray("S206388000ABCDC9") << Expected{'2', 0x388000, "\xAB\xCD", 0xC9};
        QTest::newRow("S3 32-bit address")
            << QByteArray("S30612345678FFE6") << Expected{'3', 0x12345678, "\xFF", 0xE6};
        QTest::newRow("S5 count") << QByteArray("S5030003F9") << Expected{'5', 3, {}, 0xF9};
        QTest::newRow("S7 end, 32-bit")
            << QByteArray("S70512345678E6") << Expected{'7', 0x12345678, {}, 0xE6};
        QTest::newRow("S8 end, 24-bit")
            << QByteArray("S80438800043") << Expected{'8', 0x388000, {}, 0x43};
        QTest::newRow("S9 end, 16-bit")
            << QByteArray("S9030100FB") << Expected{'9', 0x0100, {}, 0xFB};
        QTest::newRow("lower-case digits")
            << QByteArray("S206388000abcdc9") << Expected{'2', 0x388000, "\xAB\xCD", 0xC9};
        // Long enough to be read eight bytes at a time, every digit value in it.
        QTest::newRow("32 data bytes") << kLongRecord << Expected{'2', 0x388020, kLongData, 0x83};
        QTest::newRow("32 data bytes, lower-case")
            << "S2" + kLongRecord.sliced(2).toLower() << Expected{'2', 0x388020, kLongData, 0x83};
    }

    void readsAGoodRecord()
    {
        QFETCH(QByteArray, line);
        QFETCH(Expected, expected);
        const Result<SRecord> parsed = parseSRecord(line);
        QVERIFY2(parsed.whole(), qPrintable(problemLines(parsed.problems).join(u'\n')));
        QCOMPARE(parsed.value.type, expected.type);
        QCOMPARE(parsed.value.address, expected.address);
        QCOMPARE(parsed.value.data, expected.data);
        QCOMPARE(parsed.value.checksum, expected.checksum);
        QCOMPARE(sRecordLineAddress(line.constData(), line.size()), qint64(expected.address));
    }

    void namesWhyALineIsNoRecord_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("fault");
        QTest::newRow("no S") << QByteArray("X1061234010203AD") << "not an S-record";
        QTest::newRow("type not a digit") << QByteArray("SA061234010203AD") << "not an S-record";
        QTest::newRow("too short") << QByteArray("S1") << "not an S-record";
        QTest::newRow("odd digits")
            << QByteArray("S1061234010203A") << "odd number of hexadecimal digits";
        QTest::newRow("not hex") << QByteArray("S1061234G10203AD")
                                 << "'G1' is not a hexadecimal byte";
        // In each eight bytes of a long record, and in those after them.
        const auto longWith = [](int at, char c) {
            QByteArray line = kLongRecord;
            line[at] = c;
            return line;
        };
        QTest::newRow("not hex, first eight bytes")
            << longWith(5, 'G') << "'3G' is not a hexadecimal byte";
        QTest::newRow("not hex, second eight bytes")
            << longWith(20, ':') << "':8' is not a hexadecimal byte";
        QTest::newRow("one below 'a', third eight bytes")
            << longWith(37, '`') << "'6`' is not a hexadecimal byte";
        QTest::newRow("not hex, fourth eight bytes")
            << longWith(60, 'g') << "'g8' is not a hexadecimal byte";
        QTest::newRow("not hex, checksum") << longWith(75, '@') << "'8@' is not a hexadecimal byte";
        QTest::newRow("a byte past 0x7F") << longWith(40, char(0xB0))
                                          << QString::fromLatin1("'\xB0"
                                                                 "8' is not a hexadecimal byte");
        QTest::newRow("byte count mismatch")
            << QByteArray("S1051234010203AD") << "the byte count says 5 bytes, the record holds 6";
        QTest::newRow("no room for the address")
            << QByteArray("S2030000FC") << "too short for its address";
        QTest::newRow("wrong checksum")
            << QByteArray("S1061234010203AE") << "checksum 0xAE, computed 0xAD";
    }

    void namesWhyALineIsNoRecord()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, fault);
        QCOMPARE(problemLines(parseSRecord(line).problems), QStringList{fault});
    }

    void addressOfALineWithoutOne_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("too short for an S2 address") << QByteArray("S206388");
        QTest::newRow("not hex") << QByteArray("S2063880X0ABCDC9");
        QTest::newRow("line end inside the address") << QByteArray("S20638800\n");
    }

    void addressOfALineWithoutOne()
    {
        QFETCH(QByteArray, line);
        QCOMPARE(sRecordLineAddress(line.constData(), line.size()), qint64(-1));
    }

    void formatsWhatItReadsBack_data()
    {
        QTest::addColumn<char>("type");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("S0") << '0' << 0u << QByteArray("HDR") << QByteArray("S00600004844521B");
        QTest::newRow("S1") << '1' << 0x1234u << QByteArray("\x01\x02\x03")
                            << QByteArray("S1061234010203AD");
        QTest::newRow("S2") << '2' << 0x388000u << QByteArray("\xAB\xCD")
                            << QByteArray("S206388000ABCDC9");
        QTest::newRow("S3") << '3' << 0x12345678u << QByteArray("\xFF")
                            << QByteArray("S30612345678FFE6");
        QTest::newRow("S5") << '5' << 3u << QByteArray() << QByteArray("S5030003F9");
        QTest::newRow("S7") << '7' << 0x12345678u << QByteArray() << QByteArray("S70512345678E6");
        QTest::newRow("S8") << '8' << 0x388000u << QByteArray() << QByteArray("S80438800043");
        QTest::newRow("S9") << '9' << 0x0100u << QByteArray() << QByteArray("S9030100FB");
        QTest::newRow("250 data bytes")
            << '2' << 0xFFFFFFu << QByteArray(250, char(0x80)) << QByteArray();
    }

    void formatsWhatItReadsBack()
    {
        QFETCH(char, type);
        QFETCH(quint32, address);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, text);
        const QByteArray formatted = formatSRecord(type, address, data);
        if (!text.isEmpty())
            QCOMPARE(formatted, text);
        const Result<SRecord> parsed = parseSRecord(formatted);
        QVERIFY2(parsed.whole(), qPrintable(problemLines(parsed.problems).join(u'\n')));
        QCOMPARE(parsed.value.type, type);
        QCOMPARE(parsed.value.address, address);
        QCOMPARE(parsed.value.data, data);
        QCOMPARE(parsed.value.checksum,
                 sRecordChecksum(QByteArray::fromHex(formatted.sliced(2).chopped(2))));
    }
};

QTEST_GUILESS_MAIN(TestSRecordRecord)
#include "tst_srec_record.moc"
