#include "core/bank/bank_description.h"
#include "core/bank/configuration_diff.h"
#include "core/device/bank_filter.h"
#include "core/device/receive_filter.h"
#include "core/device/socketcan_filter.h"

#include <QTest>

using namespace quillner;

namespace {

struct Header
{
    int present;
    int mode;
    int function;
    int count;
};

// A 2.0B bank with remote frames off and the given header and filter words.
ConfigurationBank bank20B(Header header, const QList<quint32>& words)
{
    ConfigurationBank bank{};
    bank[kCanTypeOffset] = 1;
    bank[kFilterPresentOffset] = quint8(header.present);
    bank[kFilterModeOffset] = quint8(header.mode);
    bank[kListFunctionOffset] = quint8(header.function);
    bank[kEntryCountOffset] = quint8(header.count);
    for (int i = 0; i < words.size(); ++i)
        setFilterWord(bank, i, words[i]);
    return bank;
}

// The stored pair of a pattern whose low `freeBits` bits are free and whose others are those
// of `value`.
QList<quint32> patternWords(quint32 value, quint32 freeBits)
{
    const StoredPattern pattern = storedPatternOf(value, freeBits);
    return {pattern.nonZeroBits, pattern.oneBits};
}

} // namespace

Q_DECLARE_METATYPE(BankFilter::Kind)

// What the device does with a bank's 2.0B filter, read once and asked by every command: the
// receive filter, the SocketCAN export, the description and the comparison of two banks.
class TestBankFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reading_data()
    {
        QTest::addColumn<QByteArray>("bank");
        QTest::addColumn<BankFilter::Kind>("kind");
        QTest::addColumn<bool>("passesEvery");
        QTest::addColumn<quint32>("listed"); // an identifier the entries name
        QTest::addColumn<bool>("listedPasses");
        QTest::addColumn<QString>("description"); // the description's filter line

        const auto row = [](const char* name, const ConfigurationBank& bank, BankFilter::Kind kind,
                            bool every, quint32 listed, bool passes, const QString& line) {
            QTest::newRow(name) << QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize)
                                << kind << every << listed << passes << line;
        };
        row("no filter", bank20B({0, 0, 0, 0}, {}), BankFilter::Kind::None, true, 0x123, true,
            "Filter: 2.0B, none: every extended frame passes");
        // A list whose entries were counted but never marked present (a document that could not
        // be read, compiled --lenient): the device ignores them.
        row("entries not marked present", bank20B({0, 1, 1, 1}, {0x0}), BankFilter::Kind::None,
            true, 0x0, true, "Filter: 2.0B, none: every extended frame passes");
        row("positive list", bank20B({1, 1, 1, 1}, {0x18FEF100}), BankFilter::Kind::List, false,
            0x18FEF100, true, "Filter: 2.0B identifier list, type positive, 1 identifier");
        row("negative list", bank20B({1, 1, 0, 1}, {0x18FEF100}), BankFilter::Kind::List, false,
            0x18FEF100, false, "Filter: 2.0B identifier list, type negative, 1 identifier");
        row("negative list of no identifier", bank20B({1, 1, 0, 1}, {0xFFFFFFFF}),
            BankFilter::Kind::List, true, 0x123, true,
            "Filter: 2.0B identifier list, type negative, 1 identifier");
        row("empty positive list", bank20B({1, 1, 1, 0}, {}), BankFilter::Kind::List, false, 0x123,
            false, "Filter: 2.0B identifier list, type positive, 0 identifiers");
        row("pattern", bank20B({1, 0, 0, 1}, patternWords(0x18FEF100, 0xFF)),
            BankFilter::Kind::Patterns, false, 0x18FEF1AB, true, "Filter: 2.0B mask, 1 pattern");
        row("pattern without a fixed bit", bank20B({1, 0, 0, 1}, patternWords(0, kPatternBits)),
            BankFilter::Kind::Patterns, true, 0x123, true, "Filter: 2.0B mask, 1 pattern");
        row("mode byte other than 1 is patterns", bank20B({1, 2, 0, 1}, patternWords(0x100, 0)),
            BankFilter::Kind::Patterns, false, 0x100, true, "Filter: 2.0B mask, 1 pattern");
    }

    void reading()
    {
        QFETCH(QByteArray, bank);
        QFETCH(BankFilter::Kind, kind);
        QFETCH(bool, passesEvery);
        QFETCH(quint32, listed);
        QFETCH(bool, listedPasses);
        QFETCH(QString, description);
        ConfigurationBank image{};
        std::copy(bank.begin(), bank.end(), image.begin());

        const BankFilter filter = readBankFilter(image);
        QCOMPARE(filter.kind, kind);
        QCOMPARE(filter.passesEveryExtendedFrame(), passesEvery);
        QCOMPARE(filter.passes(listed), listedPasses);

        // Every face of the bank tells the same.
        const FrameFilter device(image);
        QCOMPARE(device.verdict(listed, true) == FrameVerdict::Passed, listedPasses);
        QCOMPARE(socketCanReceives(socketCanFilters(image), listed, true, false), listedPasses);
        const BankDescription described = describeBank(image);
        QCOMPARE(described.filter, filter);
        QCOMPARE(described.passesEveryIdentifier(), passesEvery);
        QVERIFY2(bankDescriptionText(described).contains(description + u'\n'),
                 qPrintable(bankDescriptionText(described)));
        if (passesEvery) {
            QVERIFY(device.verdict(0x1ABCDEF, true) == FrameVerdict::Passed);
            QVERIFY(device.verdict(0, true) == FrameVerdict::Passed);
        }
    }

    // Two banks that differ only in whether the filter is present are not the same
    // configuration: the device passes every extended frame with one of them.
    void presentByteMakesADifference()
    {
        const ConfigurationBank present = bank20B({1, 1, 1, 1}, {0x18FEF100});
        const ConfigurationBank absent = bank20B({0, 1, 1, 1}, {0x18FEF100});
        const ConfigurationDiff diff = compareConfigurations(present, absent);
        QVERIFY(!diff.same());
        QVERIFY2(configurationDiffText(diff).contains(
                     QStringLiteral("filter kind: A 2.0B list, B 2.0B none")),
                 qPrintable(configurationDiffText(diff)));
        QVERIFY(compareConfigurations(absent, bank20B({0, 0, 0, 0}, {})).filterSame());
    }
};

QTEST_GUILESS_MAIN(TestBankFilter)
#include "tst_bank_filter.moc"
