// The device's receive filter written for other CAN tools receives exactly the frames the device
// does: over every 11-bit identifier by trying each, over the 29-bit ones by counting.

#include "core/bank/filter_export.h"
#include "core/device/receive_filter.h"
#include "core/device/socketcan_filter.h"
#include "core/filters/id_pattern.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;

namespace {

ConfigurationBank standardBank(const QList<std::pair<int, int>>& hidden, quint8 remoteFrames)
{
    ConfigurationBank bank{};
    bank[kSerialBaudOffset] = 7;
    bank[kCanBaudOffset] = 6;
    bank[kRemoteFramesOffset] = remoteFrames;
    IdentifierBitmap bitmap;
    bitmap.fill(0xFF);
    for (const auto& [first, last] : hidden) {
        for (int id = first; id <= last; ++id)
            bitmap[size_t(id / 8)] &= quint8(~(1u << (id % 8)));
    }
    storeBitmap(bank, bitmap);
    return bank;
}

ConfigurationBank extendedBank(quint8 mode, quint8 function, const QList<quint32>& words,
                               quint8 remoteFrames)
{
    ConfigurationBank bank{};
    bank[kCanTypeOffset] = 1;
    bank[kRemoteFramesOffset] = remoteFrames;
    bank[kFilterModeOffset] = mode;
    bank[kListFunctionOffset] = function;
    bank[kFilterPresentOffset] = words.isEmpty() ? 0 : 1;
    bank[kEntryCountOffset] = quint8(mode == 1 ? words.size() : words.size() / 2);
    for (int i = 0; i < words.size(); ++i)
        setFilterWord(bank, i, words[i]);
    return bank;
}

bool devicePasses(const FrameFilter& device, quint32 id, bool extended, bool remote)
{
    return device.verdict(BusFrame{id, extended, remote, false}) == FrameVerdict::Passed;
}

// The 29-bit identifiers an extended filter passes, as a pattern.
IdPattern patternOf(const SocketCanFilter& filter)
{
    const quint32 fixed = filter.canMask & kCanEffMask;
    return {filter.canId & fixed, ~fixed & kCanEffMask};
}

} // namespace

class TestSocketCanFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sameFramesAsTheDevice_data()
    {
        QTest::addColumn<ConfigurationBank>("bank");
        QTest::newRow("2.0A all visible, remote off") << standardBank({}, 0);
        QTest::newRow("2.0A all visible, remote on") << standardBank({}, 1);
        QTest::newRow("2.0A ranges hidden")
            << standardBank({{0x100, 0x1FF}, {0x7DF, 0x7DF}, {0, 0}}, 0);
        QTest::newRow("2.0A every other one") << standardBank(
            [] {
                QList<std::pair<int, int>> odd;
                for (int id = 1; id < 2048; id += 2)
                    odd.append({id, id});
                return odd;
            }(),
            1);
        QTest::newRow("2.0A all but the last hidden") << standardBank({{0, 0x7FE}}, 1);
        QTest::newRow("2.0A all hidden") << standardBank({{0, 0x7FF}}, 1);
        QTest::newRow("2.0B no entries") << extendedBank(1, 1, {}, 0);
        QTest::newRow("2.0B positive list")
            << extendedBank(1, 1, {0x18FEF100, 0x123, 0x1FFFFFFF, 0x18FEF100, 0xFFFFFFFF}, 0);
        QTest::newRow("2.0B negative list")
            << extendedBank(1, 0, {0x0, 0x18FEF100, 0x1FFFFFFF, 0x7FF}, 1);
        QTest::newRow("2.0B patterns")
            << extendedBank(0, 0, {0x1FFFFFFF, 0x18FEF100, 0x0C000000, 0x0C000000}, 0);
        QTest::newRow("2.0B pattern of two-word oddities")
            << extendedBank(0, 0, {0x0000FFFF, 0x00FF00FF}, 1);
    }

    // Every 11-bit identifier, data and remote, in both forms, and 29-bit identifiers near every
    // filter's edges and at random.
    void sameFramesAsTheDevice()
    {
        QFETCH(ConfigurationBank, bank);
        const FrameFilter device(bank);
        const QList<SocketCanFilter> filters = socketCanFilters(bank);
        for (quint32 id = 0; id < 2048; ++id) {
            for (const bool remote : {false, true}) {
                for (const bool extended : {false, true}) {
                    QVERIFY2(socketCanReceives(filters, id, extended, remote) ==
                                 devicePasses(device, id, extended, remote),
                             qPrintable(QStringLiteral("0x%1 %2 %3")
                                            .arg(id, 0, 16)
                                            .arg(extended ? "extended" : "standard")
                                            .arg(remote ? "remote" : "data")));
                }
            }
        }
        QList<quint32> probes{0x1FFFFFFF, 0x18FEF100, 0x18FEF0FF, 0x18FEF101, 0x0C000000};
        QRandomGenerator random(7);
        for (int i = 0; i < 20000; ++i)
            probes.append(random.bounded(0x20000000u));
        for (const quint32 id : std::as_const(probes)) {
            for (const bool remote : {false, true})
                QCOMPARE(socketCanReceives(filters, id, true, remote),
                         devicePasses(device, id, true, remote));
        }
    }

    // The 29-bit identifiers an extended bank's filters pass are exactly the device's: for the
    // patterns, their unions are counted equal; for a negative list, the blocks are disjoint, hold
    // no listed identifier and count 2^29 less the listed ones.
    void extendedIdentifiersByCounting()
    {
        const ConfigurationBank patterns =
            extendedBank(0, 0, {0x1FFFFFFF, 0x18FEF100, 0x0C000000, 0x0C000000}, 0);
        QList<IdPattern> exported;
        for (const SocketCanFilter& filter : socketCanFilters(patterns))
            exported.append(patternOf(filter));
        QList<IdPattern> device;
        for (int k = 0; k < patterns[kEntryCountOffset]; ++k) {
            const StoredPattern stored = storedPattern(patterns, k);
            device.append({stored.fixedValues(), stored.freeBits()});
        }
        const quint64 deviceCount = passedCount(device);
        QCOMPARE(passedCount(exported), deviceCount);
        QCOMPARE(passedCount(exported + device), deviceCount);

        const QList<quint32> listed{0x0, 0x18FEF100, 0x1FFFFFFF, 0x7FF};
        const QList<SocketCanFilter> blocks = socketCanFilters(extendedBank(1, 0, listed, 1));
        quint64 total = 0;
        for (qsizetype i = 0; i < blocks.size(); ++i) {
            const IdPattern block = patternOf(blocks[i]);
            total += quint64(block.free) + 1;
            for (const quint32 id : listed)
                QVERIFY(!block.passes(id));
            for (qsizetype j = i + 1; j < blocks.size(); ++j)
                QCOMPARE(passedCount(QList<IdPattern>{block, patternOf(blocks[j])}),
                         quint64(block.free) + 1 + patternOf(blocks[j]).free + 1);
        }
        QCOMPARE(total, (quint64(1) << 29) - quint64(listed.size()));
    }

    void notations()
    {
        const ConfigurationBank bank = standardBank({{0x100, 0x1FF}}, 0);
        QCOMPARE(exportFilter(bank, FilterNotation::Candump).value,
                 QStringLiteral("000:C0000700,200:C0000600,400:C0000400\n"));
        const QString c = exportFilter(bank, FilterNotation::SocketCan).value;
        QVERIFY2(c.contains(QStringLiteral("    {0x00000200, 0xC0000600},\n")), qPrintable(c));
        const QString python = exportFilter(bank, FilterNotation::PythonCan).value;
        QVERIFY(python.startsWith(QStringLiteral("# The device receives no remote frame")));
        QVERIFY(python.contains(
            QStringLiteral("{\"can_id\": 0x400, \"can_mask\": 0x400, \"extended\": False}")));
        const ConfigurationBank extended = extendedBank(1, 1, {0x18FEF100}, 1);
        QCOMPARE(exportFilter(extended, FilterNotation::Candump).value,
                 QStringLiteral("18FEF100:9FFFFFFF\n"));
        // Nothing received cannot be told to tools that receive everything without filters.
        const Result<QString> nothing =
            exportFilter(standardBank({{0, 0x7FF}}, 1), FilterNotation::Candump);
        QCOMPARE(nothing.problems.size(), 1);
        QVERIFY(nothing.value.isEmpty());
    }

    // python-can itself, on its virtual bus, receives with the exported filters exactly the data
    // frames the device receives.
    void pythonCanReceivesTheSameFrames_data()
    {
        QTest::addColumn<ConfigurationBank>("bank");
        QTest::newRow("2.0A ranges hidden") << standardBank({{0x100, 0x1FF}, {0x7DF, 0x7DF}}, 0);
        QTest::newRow("2.0B patterns")
            << extendedBank(0, 0, {0x1FFFFF0F, 0x18FEF100, 0x0C000000, 0x0C000000}, 1);
        QTest::newRow("2.0B negative list") << extendedBank(1, 0, {0x18FEF100, 0x18FEF105}, 1);
    }

    void pythonCanReceivesTheSameFrames()
    {
        QFETCH(ConfigurationBank, bank);
        const QString python = QStringLiteral("/usr/bin/python3");
        if (QProcess::execute(python, {QStringLiteral("-c"), QStringLiteral("import can")}) != 0)
            QSKIP("python3-can is not installed (scripts/setup installs it)");
        const FrameFilter device(bank);
        QList<std::pair<quint32, bool>> frames;
        for (quint32 id = 0; id < 2048; ++id)
            frames.append({id, false});
        for (quint32 id = 0x18FEF0F0; id < 0x18FEF120; ++id)
            frames.append({id, true});
        for (const quint32 id : {0x0C000000u, 0x0C0000FFu, 0x1FFFFFFFu, 0x123u})
            frames.append({id, true});
        QString sent;
        QSet<QString> expected;
        for (const auto& [id, extended] : std::as_const(frames)) {
            const QString key = QStringLiteral("%1 %2").arg(id).arg(extended ? 1 : 0);
            sent += key + u'\n';
            if (devicePasses(device, id, extended, false))
                expected.insert(key);
        }
        const QString script =
            exportFilter(bank, FilterNotation::PythonCan).value + QStringLiteral(R"(
import sys, can
receiver = can.Bus("quillner", interface="virtual", can_filters=can_filters)
sender = can.Bus("quillner", interface="virtual")
for line in sys.stdin:
    identifier, extended = line.split()
    sender.send(can.Message(arbitration_id=int(identifier), is_extended_id=extended == "1"))
while True:
    message = receiver.recv(0.5)
    if message is None:
        break
    print(message.arbitration_id, 1 if message.is_extended_id else 0)
)");
        QProcess process;
        process.start(python, {QStringLiteral("-c"), script});
        QVERIFY(process.waitForStarted());
        process.write(sent.toUtf8());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(QSet<QString>(lines.begin(), lines.end()), expected);
    }
};

QTEST_GUILESS_MAIN(TestSocketCanFilter)
#include "tst_socketcan_filter.moc"
