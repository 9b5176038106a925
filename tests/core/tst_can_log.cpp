#include "core/bank/bank_compiler.h"
#include "core/documents/general_parameters.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace quillner;

namespace {

QString dataPath(const char* name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/") + QString::fromLatin1(name);
}

// A frame as "ID e r f @line": the identifier in hex, then e for extended, r for remote, f for
// CAN FD, and its line number.
QString frameText(const LogFrame& frame)
{
    QString text = QString::number(frame.id, 16).toUpper();
    if (frame.extended)
        text += QStringLiteral(" e");
    if (frame.remote)
        text += QStringLiteral(" r");
    if (frame.fd)
        text += QStringLiteral(" f");
    return text + QStringLiteral(" @%1").arg(frame.lineNumber);
}

// The project's documents: pargen.xml for the frame format, and a filter document when given.
struct Project
{
    QTemporaryDir dir;
    QString pargen() const { return dir.filePath(QStringLiteral("pargen.xml")); }
    QString filter20A() const { return dir.filePath(QStringLiteral("Filter20A.xml")); }
    QString filter20B() const { return dir.filePath(QStringLiteral("Filter20B.xml")); }

    explicit Project(bool canTypeB)
    {
        GeneralParameters parameters;
        parameters.canTypeB = canTypeB;
        saveGeneralParameters(pargen(), parameters);
    }

    FrameFilter compiled() const
    {
        return FrameFilter(CompileBank(pargen(), filter20A(), filter20B()).value);
    }
};

Filter20B listFilter(bool positive, const QStringList& ids)
{
    Filter20B filter;
    filter.cobIdFilter = true;
    filter.typePositive = positive;
    filter.cobIds = ids;
    return filter;
}

Filter20B maskFilter(const QStringList& patterns)
{
    Filter20B filter;
    filter.cobIdFilter = false;
    filter.patterns = patterns;
    return filter;
}

} // namespace

Q_DECLARE_METATYPE(quillner::FrameVerdict)

class TestCanLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("format");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QStringList>("otherLines");
        QTest::addColumn<QStringList>("unreadable");
        QTest::newRow("candump")
            << dataPath("logs/candump_mixed.log") << int(LogFormat::Candump)
            << QStringList{"123 @1",   "7DF r @2",      "18FEF100 e @3",
                           "100 f @4", "1FFFFFFF e @8", "123 @9"}
            << QStringList{"(1700000000.000005) can0 20000080#0000000000000000",
                           "this line is no frame", ""}
            << QStringList{"candump_mixed.log, line 6: not a candump frame"};
        QTest::newRow("asc") << dataPath("logs/vector_mixed.asc") << int(LogFormat::VectorAsc)
                             << QStringList{"123 @7", "18FEF100 e @8", "7DF r @9", "100 f @10"}
                             << QStringList{"date Mon Nov 13 10:00:00.000 am 2023",
                                            "base hex  timestamps absolute",
                                            "internal events logged",
                                            "// version 9.0.0",
                                            "Begin Triggerblock Mon Nov 13 10:00:00.000 am 2023",
                                            "   0.000000 Start of measurement",
                                            "   0.005000 1  ErrorFrame",
                                            "End TriggerBlock"}
                             << QStringList{};
        QTest::newRow("asc decimal base")
            << dataPath("logs/vector_base_dec.asc") << int(LogFormat::VectorAsc)
            << QStringList{"123 @3", "18FEED00 e @4"}
            << QStringList{"date Mon Nov 13 10:00:00.000 am 2023", "base dec  timestamps absolute"}
            << QStringList{};
    }

    void read()
    {
        QFETCH(QString, file);
        QFETCH(int, format);
        QFETCH(QStringList, frames);
        QFETCH(QStringList, otherLines);
        QFETCH(QStringList, unreadable);
        QStringList seen;
        QStringList others;
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) { seen << frameText(frame); };
        visitor.otherLine = [&](QByteArrayView line) {
            others << QString::fromUtf8(line.data(), line.size());
        };
        const Result<LogReading> read = readCanLog(file, visitor);
        QVERIFY(read.whole());
        const LogReading& reading = read.value;
        QCOMPARE(int(reading.format), format);
        QCOMPARE(seen, frames);
        QCOMPARE(others, otherLines);
        QCOMPARE(problemLines(reading.unreadable), unreadable);
        QCOMPARE(reading.frames, qint64(frames.size()));
    }

    void frameLinesAreTheLogsOwn()
    {
        QStringList lines;
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) {
            lines << QString::fromUtf8(frame.line.data(), frame.line.size());
        };
        QVERIFY(readCanLog(dataPath("logs/vector_mixed.asc"), visitor).whole());
        QCOMPARE(lines.first(), QStringLiteral("   0.001000 1  123             Rx   d 4 DE AD BE "
                                               "EF  Length = 0 BitCount = 0 ID = 291"));
    }

    void missingLogIsAProblem()
    {
        const Result<LogReading> read = readCanLog(dataPath("logs/no_such.log"), {});
        QCOMPARE(read.problems.size(), 1);
        QVERIFY(read.problems.first().text.startsWith(QStringLiteral("Cannot open file")));
    }

    // The verdict comes from the compiled bank, so it is what the device does with the filter.
    void verdictOfCompiledBank_data()
    {
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<QString>("filter20A"); // hidden identifiers, or "-" for no document
        QTest::addColumn<int>("filter20B");     // index into the documents below, -1 for none
        QTest::addColumn<quint32>("id");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<FrameVerdict>("verdict");
        const auto pass = FrameVerdict::Passed;
        const auto block = FrameVerdict::Blocked;
        const auto wrong = FrameVerdict::WrongForm;
        QTest::newRow("2.0A no document") << false << "-" << -1 << 0x7FFu << false << pass;
        QTest::newRow("2.0A extended frame") << false << "-" << -1 << 0x123u << true << wrong;
        QTest::newRow("2.0A hidden")
            << false << "0x123, 0x200-0x2FF" << -1 << 0x250u << false << block;
        QTest::newRow("2.0A visible")
            << false << "0x123, 0x200-0x2FF" << -1 << 0x124u << false << pass;
        QTest::newRow("2.0B no document") << true << "-" << -1 << 0x1FFFFFFFu << true << pass;
        QTest::newRow("2.0B standard frame") << true << "-" << -1 << 0x123u << false << wrong;
        QTest::newRow("2.0B positive listed") << true << "-" << 0 << 0x18FEF100u << true << pass;
        QTest::newRow("2.0B positive unlisted") << true << "-" << 0 << 0x18FEF101u << true << block;
        QTest::newRow("2.0B negative listed") << true << "-" << 1 << 0x18FEF100u << true << block;
        QTest::newRow("2.0B negative unlisted") << true << "-" << 1 << 0x7u << true << pass;
        QTest::newRow("2.0B pattern passes") << true << "-" << 2 << 0x18FEF1A5u << true << pass;
        QTest::newRow("2.0B pattern blocks") << true << "-" << 2 << 0x18FEF2A5u << true << block;
        QTest::newRow("2.0B second pattern") << true << "-" << 2 << 0x00000123u << true << pass;
        QTest::newRow("2.0B no patterns") << true << "-" << 3 << 0x5u << true << pass;
    }

    void verdictOfCompiledBank()
    {
        QFETCH(bool, canTypeB);
        QFETCH(QString, filter20A);
        QFETCH(int, filter20B);
        QFETCH(quint32, id);
        QFETCH(bool, extended);
        QFETCH(FrameVerdict, verdict);
        const Filter20B documents[] = {
            listFilter(true, {"$18FEF100", "5"}),
            listFilter(false, {"419361024"}),
            maskFilter({QStringLiteral("110001111111011110001xxxxxxxx"),
                        QString(20, u'0') + QStringLiteral("100100011")}),
            maskFilter({}),
        };
        Project project(canTypeB);
        if (filter20A != QStringLiteral("-")) {
            Filter20A filter;
            setVisibility(filter, parseIdSet(filter20A, IdWidth::Standard).value, false);
            saveFilter20A(project.filter20A(), filter);
        }
        if (filter20B >= 0)
            saveFilter20B(project.filter20B(), documents[filter20B]);
        QCOMPARE(project.compiled().verdict(id, extended), verdict);
    }

    // Counted as the device sees the frames: with remote frames off (a new project's choice) the
    // remote frame is blocked, the CAN FD frame is never received, the error frame is counted.
    void tally()
    {
        Project project(false);
        Filter20A filter;
        setVisibility(filter, parseIdSet(u"0x123", IdWidth::Standard).value, false);
        saveFilter20A(project.filter20A(), filter);
        const FrameFilter frameFilter = project.compiled();
        FilterTally tally;
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) {
            tally.add(frame, frameFilter.verdict(frame.busFrame()));
        };
        tally.addReading(readCanLog(dataPath("logs/candump_mixed.log"), visitor).value);
        QCOMPARE(filterTallyText(tally),
                 QStringLiteral("0x100 passed 0 blocked 1 (1 CAN FD frame, which a classic CAN "
                                "controller does not receive)\n"
                                "0x123 passed 0 blocked 2\n"
                                "0x7DF passed 0 blocked 1 (1 remote frame, while remote frames "
                                "are off)\n"
                                "0x18FEF100 passed 0 blocked 1 (extended frame on a CAN 2.0A "
                                "gateway)\n"
                                "0x1FFFFFFF passed 0 blocked 1 (extended frame on a CAN 2.0A "
                                "gateway)\n"
                                "Read: candump_mixed.log (candump log, 6 frames, 1 error frame)\n"
                                "Total: 6 frames, 0 passed, 6 blocked (2 of another identifier "
                                "form, 1 remote, 1 CAN FD), 1 error frame, 1 unreadable line\n"));
        const QJsonObject json = filterTallyJson(tally);
        QCOMPARE(json.value(QStringLiteral("passed")).toInt(), 0);
        QCOMPARE(json.value(QStringLiteral("wrongForm")).toInt(), 2);
        QCOMPARE(json.value(QStringLiteral("remote")).toInt(), 1);
        QCOMPARE(json.value(QStringLiteral("fd")).toInt(), 1);
        QCOMPARE(json.value(QStringLiteral("error")).toInt(), 1);
        QCOMPARE(json.value(QStringLiteral("identifiers")).toArray().size(), 5);
    }

    void dbcMessages()
    {
        const Result<QList<DbcMessage>> read =
            readDbcMessages(dataPath("filters/engine_messages.dbc"));
        const QList<DbcMessage> expected{{QStringLiteral("Status"), 0x123, false, 9},
                                         {QStringLiteral("EEC1"), 0x18FEF100, true, 12},
                                         {QStringLiteral("ExtendedLow"), 0x100, true, 15},
                                         {QStringLiteral("Diagnostic"), 0x7DF, false, 17}};
        QCOMPARE(read.value, expected);
        QVERIFY(read.whole());
        QCOMPARE(problemLines(read.warnings),
                 (QStringList{"engine_messages.dbc, line 19: the identifier of TooLarge, "
                              "0x00001000, is not an 11-bit identifier; for an extended frame "
                              "the DBC sets bit 31",
                              "engine_messages.dbc, line 21: not a message line"}));
    }
};

QTEST_GUILESS_MAIN(TestCanLog)
#include "tst_can_log.moc"
