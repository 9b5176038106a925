#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/filter_entries.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <bit>

#include "support/blf_writer.h"
#include "support/program_run.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;

namespace {

using quillner::testing::Run;

Run runCli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

QString data(const char* name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/") + QString::fromLatin1(name);
}

// Five J1939 parameter groups from source addresses 0x00 to 0x0F, in the identifier notation.
const QString kJ1939 = QStringLiteral("0x18F00400-0x18F0040F 0x18FEEE00-0x18FEEE0F "
                                      "0x18FEF100-0x18FEF10F 0x18FEE500-0x18FEE50F "
                                      "0x18FEFC00-0x18FEFC0F");

} // namespace

class TestCliFilter : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_project;

    QString document(const char* name) const { return QDir(m_project).filePath(name); }

    void makeProject(bool canTypeB)
    {
        m_project = m_dir.filePath(canTypeB ? QStringLiteral("b") : QStringLiteral("a"));
        QDir().mkpath(m_project);
        GeneralParameters parameters;
        parameters.canTypeB = canTypeB;
        saveGeneralParameters(document("pargen.xml"), parameters);
        QFile::remove(document("Filter20A.xml"));
        QFile::remove(document("Filter20B.xml"));
    }

private Q_SLOTS:
    // filter export writes the compiled filter in another tool's notation; what cannot be said
    // to a tool is refused rather than written wrong.
    void exportNotations()
    {
        makeProject(false);
        QCOMPARE(runCli({"filter", "set", m_project, "--hide", "0x100-0x1FF"}).exitCode, 0);
        const Run candump = runCli({"filter", "export", m_project, "--as", "candump"});
        QCOMPARE(candump.exitCode, 0);
        QCOMPARE(candump.out, QStringLiteral("000:C0000700,200:C0000600,400:C0000400\n"));
        const Run json = runCli({"filter", "export", m_project, "--as", "json"});
        QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8())["filters"].toArray().size(), 3);
        const Run unknown = runCli({"filter", "export", m_project, "--as", "pcap"});
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY2(unknown.err.contains(QStringLiteral("--as takes candump, socketcan, python-can, "
                                                     "json, not 'pcap'")),
                 qPrintable(unknown.err));
        QCOMPARE(runCli({"filter", "set", m_project, "--hide", "0-0x7FF"}).exitCode, 0);
        const Run nothing = runCli({"filter", "export", m_project, "--as", "python-can"});
        QCOMPARE(nothing.exitCode, 1);
        QVERIFY2(nothing.err.contains(QStringLiteral("the device receives no frame")),
                 qPrintable(nothing.err));
    }

    // Patterns fitted to a set that pass almost every 29-bit identifier barely filter: said
    // with the share.
    void broadFitsAreWarnedOf()
    {
        const Run broad =
            runCli({"filter", "fit", "--ids", "0x0-0x40 0x1FFFFFFF", "--max-patterns", "1"});
        QCOMPARE(broad.exitCode, 0);
        QVERIFY2(broad.err.startsWith(QStringLiteral("warning: the patterns pass 100.0 % of all "
                                                     "29-bit identifiers")),
                 qPrintable(broad.err));
        const Run asked = runCli({"filter", "fit", "--ids", "0x0:0x0"});
        QCOMPARE(asked.err, QString());
    }

    // "-" is standard input wherever a filter command reads a file.
    void standardInputIsAFile()
    {
        const Run fit = quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI),
                                                      {"filter", "fit", "--ids-file", "-"}, {},
                                                      "0x18FEF100-0x18FEF1FF\n");
        QCOMPARE(fit.exitCode, 0);
        QVERIFY2(fit.out.contains(QStringLiteral("(0x18FEF100/0x1FFFFF00)")), qPrintable(fit.out));
        makeProject(true);
        const Run dbc = quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI),
                                                      {"filter", "import-dbc", m_project, "-"}, {},
                                                      "BO_ 2566844672 EEC1: 8 Engine\n");
        QCOMPARE(dbc.exitCode, 0);
        QCOMPARE(loadFilter20B(document("Filter20B.xml")).value.cobIds,
                 QStringList{QStringLiteral("419361024")});
    }

    // A set of no identifier is no set to fit, however it came.
    void fitOfNothingIsRefused()
    {
        const Run piped = quillner::testing::runProgram(
            QStringLiteral(QUILLNER_CLI), {"filter", "fit", "--ids-file", "-"}, {}, "\n");
        QCOMPARE(piped.exitCode, 1);
        QCOMPARE(piped.err, QStringLiteral("error: standard input holds no identifier to fit\n"));
        const Run typed = runCli({"filter", "fit", "--ids", " "});
        QCOMPARE(typed.exitCode, 2);
        QVERIFY2(typed.err.startsWith(QStringLiteral("error: --ids holds no identifier to fit")),
                 qPrintable(typed.err));
    }

    void setShowAndHide()
    {
        makeProject(false);
        Run run = runCli({"filter", "set", m_project, "--hide", "0x100-0x1FF"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("(1792 of 2048 visible)")));
        run = runCli({"filter", "set", m_project, "--show", "0x180:0x7F0"});
        QCOMPARE(run.exitCode, 0);
        const Filter20A filter = loadFilter20A(document("Filter20A.xml")).value;
        QCOMPARE(visibleCount(filter), 1808);
        QCOMPARE(filter.IdVisible[0x100], quint8(0));
        QCOMPARE(filter.IdVisible[0x185], quint8(1));
        // A set of no identifier is no edit: refused, the filter as it was.
        const QByteArray before = readFile(document("Filter20A.xml"));
        run = runCli({"filter", "set", m_project, "--hide", " "});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith(QStringLiteral("error: --hide holds no identifier")),
                 qPrintable(run.err));
        QCOMPARE(readFile(document("Filter20A.xml")), before);
    }

    void setList()
    {
        makeProject(true);
        const Run run = runCli({"filter", "set", m_project, "--list", "1-3, 0x10", "--negative"});
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(filter.cobIdFilter);
        QVERIFY(!filter.typePositive);
        QCOMPARE(filter.cobIds, (QStringList{"1", "2", "3", "16"}));
    }

    void setPatterns()
    {
        makeProject(true);
        const Run run = runCli({"filter", "set", m_project, "--patterns",
                                "0x600:0x7F0, 0000000000000000000111xxx1010"});
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(!filter.cobIdFilter);
        QCOMPARE(filter.patterns,
                 (QStringList{"xxxxxxxxxxxxxxxxxx1100000xxxx", "0000000000000000000111xxx1010"}));
    }

    // The windows' refusals, word for word, and nothing written.
    void setRefusals_data()
    {
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("duplicate")
            << true << QStringList{"--list", "5 5"} << "Error! The ID 5 is already in the list";
        QTest::newRow("out of range")
            << true << QStringList{"--list", "-1"} << QString::fromLatin1(kCobIdOutOfRange);
        // Read as a 32-bit integer, -0xFFFFFFF0 is 16: a typed sign is refused all the same.
        QTest::newRow("negative hexadecimal") << true << QStringList{"--list", "-0xFFFFFFF0"}
                                              << QString::fromLatin1(kCobIdOutOfRange);
        QTest::newRow("negative hexadecimal in a list")
            << true << QStringList{"--list", "1, -0xFFFFFFF0"}
            << "Column 4: '-0xFFFFFFF0' is outside the identifiers 0x00000000 to 0x1FFFFFFF";
        QTest::newRow("pair outside 11 bits")
            << false << QStringList{"--hide", "800:7FF"}
            << "Column 1: '800:7FF' is outside the identifiers 0x000 to 0x7FF";
        QTest::newRow("eleven patterns")
            << true
            << QStringList{"--patterns", "0:1FFFFFFF,1:1FFFFFFF,2:1FFFFFFF,3:1FFFFFFF,4:1FFFFFFF,"
                                         "5:1FFFFFFF,6:1FFFFFFF,7:1FFFFFFF,8:1FFFFFFF,9:1FFFFFFF,"
                                         "A:1FFFFFFF"}
            << QString::fromLatin1(kAllFilterInUse);
        // A symbol left out would shift every bit after it: the command takes no guess.
        QTest::newRow("pattern of 28 symbols")
            << true << QStringList{"--patterns", "110001111111011110001xxxxxxx"}
            << QStringLiteral("Pattern 110001111111011110001xxxxxxx: a pattern has 29 symbols, "
                              "this one has 28 (the window fills one up with 0 in front; write "
                              "them out, or use id:mask)");
        // Every notation of a pattern that fixes no bit opens the gateway.
        QTest::newRow("pattern of 29 x")
            << true << QStringList{"--patterns", QString(29, u'x')}
            << QStringLiteral("A 2.0B pattern fixes no bit (every position free): the device "
                              "would let every extended frame through; nothing was written "
                              "(--allow-all writes it on purpose)");
        QTest::newRow("pattern 0:0")
            << true << QStringList{"--patterns", "0:0"}
            << QStringLiteral("A 2.0B pattern fixes no bit (every position free): the device "
                              "would let every extended frame through; nothing was written "
                              "(--allow-all writes it on purpose)");
        QTest::newRow("pattern symbol")
            << true << QStringList{"--patterns", "12"}
            << "Error! The simbol '2' is not supported. You have to use only these simbol "
               "'1', '0', 'x', 'X'";
        QTest::newRow("notation") << false << QStringList{"--hide", "0x800"}
                                  << "Column 1: '0x800' is outside the identifiers 0x000 to 0x7FF";
        // An empty list is refused for what it would do, whichever list it is.
        QTest::newRow("empty list")
            << true << QStringList{"--list", ""}
            << "The 2.0B COB-ID list is empty: the device would let every extended frame "
               "through; nothing was written (--allow-all writes it on purpose)";
        QTest::newRow("blank negative list")
            << true << QStringList{"--list", " ", "--negative"}
            << "The 2.0B COB-ID list is empty: the device would let every extended frame "
               "through; nothing was written (--allow-all writes it on purpose)";
        QTest::newRow("empty patterns")
            << true << QStringList{"--patterns", ""}
            << "The 2.0B pattern list is empty: the device would let every extended frame "
               "through; nothing was written (--allow-all writes it on purpose)";
        QTest::newRow("list on 2.0A") << false << QStringList{"--list", "1"}
                                      << "--list applies to a CAN 2.0B project; this one is CAN "
                                         "2.0A";
    }

    void setRefusals()
    {
        QFETCH(bool, canTypeB);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        makeProject(canTypeB);
        const Run run = runCli(QStringList{"filter", "set", m_project} + options);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("error: ") + message + u'\n');
        QVERIFY(!QFile::exists(document("Filter20A.xml")));
        QVERIFY(!QFile::exists(document("Filter20B.xml")));
    }

    // A count of one names one thing: "1 identifier", "1 pattern".
    void countsOfOne_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("line");
        QTest::newRow("set, one identifier") << QStringList{"set", "--list", "0x100"}
                                             << "(COB-ID list, 1 identifier, type positive)";
        QTest::newRow("set, two identifiers") << QStringList{"set", "--list", "0x100 0x101"}
                                              << "(COB-ID list, 2 identifiers, type positive)";
        QTest::newRow("set, one pattern")
            << QStringList{"set", "--patterns", "0x100:0x1FFFFFFF"} << "(1 pattern)\n";
        QTest::newRow("fit, one identifier")
            << QStringList{"fit", "--ids", "0x18FEF100"} << "Form: COB-ID list, 1 identifier\n";
        QTest::newRow("fit, one pattern")
            << QStringList{"fit", "--ids", "0x18FEF100-0x18FEF1FF 0x18FEF200", "--max-patterns",
                           "1"}
            << "Form: mask patterns, 1 pattern\n";
    }

    void countsOfOne()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, line);
        makeProject(true);
        if (arguments.front() == QLatin1String("set"))
            arguments.insert(1, m_project);
        const Run run = runCli(QStringList{"filter"} + arguments);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(line), qPrintable(run.out));
    }

    // Every writer prints what it stored, so that a slip in typing shows at once.
    void writersTellWhatTheyStored_data()
    {
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("stored");
        QTest::newRow("hidden range") << false << QStringList{"set", "--hide", "0x100-0x1FF"}
                                      << "Visible: 0x0-0xFF, 0x200-0x7FF\n";
        QTest::newRow("all hidden")
            << false << QStringList{"set", "--hide", "0-0x7FF"} << "Visible: none\n";
        QTest::newRow("list") << true << QStringList{"set", "--list", "0x18FEF100 7"}
                              << "Identifiers: 0x18FEF100, 0x00000007\n";
        QTest::newRow("id:mask pattern")
            << true << QStringList{"set", "--patterns", "0x100:0x1FFFFFFF"}
            << "Patterns: 00000000000000000000100000000\n";
        QTest::newRow("fit applied")
            << true << QStringList{"fit", "--ids", "0x18FEF100-0x18FEF1FF", "--apply"}
            << "Patterns: 110001111111011110001xxxxxxxx\n";
    }

    void writersTellWhatTheyStored()
    {
        QFETCH(bool, canTypeB);
        QFETCH(QStringList, arguments);
        QFETCH(QString, stored);
        makeProject(canTypeB);
        if (arguments.front() == QLatin1String("set"))
            arguments.insert(1, m_project);
        else
            arguments.append(m_project);
        const Run run = runCli(QStringList{"filter"} + arguments);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith(stored), qPrintable(run.out));
    }

    // A fit of every 29-bit identifier is a pattern without a fixed bit: applied only when asked.
    void fitThatOpensTheGatewayIsAppliedOnlyWhenAsked()
    {
        makeProject(true);
        const QStringList fit{"filter", "fit", "--ids", "0-0x1FFFFFFF", "--apply", m_project};
        const Run refused = runCli(fit);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.endsWith(QStringLiteral("nothing was written (--allow-all writes it "
                                                     "on purpose)\n")),
                 qPrintable(refused.err));
        QVERIFY(!QFile::exists(document("Filter20B.xml")));
        const Run allowed = runCli(fit + QStringList{"--allow-all"});
        QCOMPARE(allowed.exitCode, 0);
        QVERIFY2(allowed.out.endsWith(QStringLiteral("Patterns: xxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n")),
                 qPrintable(allowed.out));
    }

    // The full list names its limit and the command that fits a larger set; nothing is written.
    void setListFull_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<int>("count");
        QTest::newRow("64") << "0-63" << 64;
        QTest::newRow("parameter group") << "0x18FEF100-0x18FEF1FF" << 256;
        QTest::newRow("pair") << "18FEF100:1FFFFF00" << 256;
    }

    void setListFull()
    {
        QFETCH(QString, set);
        QFETCH(int, count);
        makeProject(true);
        const Run run = runCli({"filter", "set", m_project, "--list", set});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("error: Error! All filter in use: a COB-ID list holds at "
                                         "most 63 identifiers and this set has %1; fit it into "
                                         "patterns with: quillner-cli filter fit --ids '%2' "
                                         "--apply %3\n")
                              .arg(count)
                              .arg(set, m_project));
        QVERIFY(!QFile::exists(document("Filter20B.xml")));
    }

    // Both numbers of an id:mask are hexadecimal, as candump writes them.
    void setPairsAreHexadecimal()
    {
        makeProject(false);
        const Run run = runCli({"filter", "set", m_project, "--hide", "100:700"});
        QCOMPARE(run.exitCode, 0);
        const Filter20A filter = loadFilter20A(document("Filter20A.xml")).value;
        QCOMPARE(visibleCount(filter), 2048 - 256);
        QCOMPARE(filter.IdVisible[0x1FF], quint8(0));
        QCOMPARE(filter.IdVisible[0x200], quint8(1));
    }

    // Every id:mask pair is one pattern, however its free bits lie.
    void setPatternsTakesEveryPair()
    {
        makeProject(true);
        const Run run =
            runCli({"filter", "set", m_project, "--patterns", "1:1, 0x15555555:0x0AAAAAAA"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QCOMPARE(filter.patterns,
                 (QStringList{"xxxxxxxxxxxxxxxxxxxxxxxxxxxx1", "x0x0x0x0x0x0x0x0x0x0x0x0x0x0x"}));
    }

    void fit_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("exact");
        QTest::newRow("list") << QStringList{"--ids", "1-5"} << "Form: COB-ID list, 5 identifiers\n"
                              << true;
        QTest::newRow("five patterns")
            << QStringList{"--ids", kJ1939} << "Form: mask patterns, 5 patterns\n"
            << true;
        QTest::newRow("four patterns") << QStringList{"--ids", kJ1939, "--max-patterns", "4"}
                                       << "Form: mask patterns, 4 patterns\n"
                                       << false;
    }

    void fit()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, form);
        QFETCH(bool, exact);
        const Run run = runCli(QStringList{"filter", "fit"} + options);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(form), qPrintable(run.out));
        // Patterns now tell whether no fit does better: "Extra identifiers: 0 (optimal)".
        QCOMPARE(run.out.contains(
                     QRegularExpression(QStringLiteral("Extra identifiers: 0( \\(optimal\\))?\n"))),
                 exact);
    }

    // Beside the count, the least any fit could let through; "optimal" when it is reached.
    void fitSaysHowGood_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("extras");
        QTest::newRow("exact cover")
            << QStringList{"--ids", kJ1939} << "Extra identifiers: 0 (optimal)\n";
        // One pattern over a set passes at least what its smallest pattern passes.
        QTest::newRow("one pattern") << QStringList{"--ids", kJ1939, "--max-patterns", "1"}
                                     << "Extra identifiers: 32688 (optimal)\n";
        QTest::newRow("four patterns") << QStringList{"--ids", kJ1939, "--max-patterns", "4"}
                                       << "Extra identifiers: 32 (at least ";
    }

    void fitSaysHowGood()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, extras);
        const Run run = runCli(QStringList{"filter", "fit"} + options);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(extras), qPrintable(run.out));
    }

    // A set that is one pattern is that pattern, however many identifiers it holds.
    void fitOnePattern_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("priority 6") << "0x18000000:0x1C000000"
                                    << "110xxxxxxxxxxxxxxxxxxxxxxxxxx (0x18000000/0x1C000000)";
        QTest::newRow("candump's notation")
            << "18FEF100:1FFFFF00"
            << "110001111111011110001xxxxxxxx (0x18FEF100/0x1FFFFF00)";
        QTest::newRow("ranges of one pattern")
            << "0x10000000-0x17FFFFFF 0x18000000-0x1FFFFFFF"
            << "1xxxxxxxxxxxxxxxxxxxxxxxxxxxx (0x10000000/0x10000000)";
    }

    void fitOnePattern()
    {
        QFETCH(QString, set);
        QFETCH(QString, pattern);
        const Run run = runCli({"filter", "fit", "--ids", set});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringLiteral("Form: mask patterns, 1 pattern\nPattern: %1\n"
                                         "Extra identifiers: 0 (optimal)\n"
                                         "Note: one pattern holds this set\n")
                              .arg(pattern));
    }

    // 400 pairs of 20 free bits each stay 400 patterns: counted and fitted within bounds.
    void fitKeepsPairsWhole()
    {
        QRandomGenerator random(5);
        QStringList pairs;
        for (int i = 0; i < 400; ++i) {
            quint32 free = 0;
            while (std::popcount(free) < 20)
                free |= 1u << random.bounded(29);
            pairs << QStringLiteral("%1:%2")
                         .arg(random.bounded(0x20000000u) & ~free, 0, 16)
                         .arg(0x1FFFFFFFu & ~free, 0, 16);
        }
        const Run run = runCli({"filter", "fit", "--ids", pairs.join(u' ')});
        // Ten patterns for 400 scattered pairs pass nearly everything: a warning, no error.
        QVERIFY2(!run.err.contains(QStringLiteral("error:")), qPrintable(run.err));
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(QStringLiteral("Form: mask patterns")), qPrintable(run.out));
    }

    // A file that never ends, or whose line never ends, is refused after a bounded read.
    void fitIdsFileBounded()
    {
        const Run run = runCli({"filter", "fit", "--ids-file", "/dev/zero"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QStringLiteral("error: zero, line 1: longer than 1048576 bytes, which "
                                         "no list of identifiers is\n"));
    }

    // With a recording, the patterns let through the fewest frames the set did not ask for.
    // The set is four blocks, high nibbles 0, 3, C and F of the byte above the low nibble; two
    // patterns pass either the blocks 1, 2, D, E or 4, 8, 7, B beyond it, four blocks each. The
    // bus carries 50 frames in block 1 and 2 in block 4.
    void fitToRecording()
    {
        QTemporaryDir files;
        QByteArray log;
        for (int i = 0; i < 62; ++i) {
            const char* id = i < 50 ? "00000015" : i < 52 ? "00000045" : "00000031";
            log += QStringLiteral("(%1) can0 %2#11\n")
                       .arg(1700000000.0 + double(i) * 10.0 / 61.0, 0, 'f', 6)
                       .arg(QLatin1StringView(id))
                       .toLatin1();
        }
        const QString path = files.filePath(QStringLiteral("traffic.log"));
        QVERIFY(quillner::testing::writeFile(path, log));
        const QStringList set{"--ids", "0x00-0x0F 0x30-0x3F 0xC0-0xCF 0xF0-0xFF", "--max-patterns",
                              "2"};
        const Run run = runCli(QStringList{"filter", "fit"} + set + QStringList{"--log", path});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QStringLiteral("Extra identifiers: 64\n")), qPrintable(run.out));
        // Two patterns of a few identifiers are searched whole: the fit is known to be the best.
        QVERIFY2(run.out.contains(QStringLiteral("Extra frames: 2 (optimal) of the 62 extended "
                                                 "frames in traffic.log, 0.20 per second over "
                                                 "10.000 s\n")),
                 qPrintable(run.out));
    }

    void fitApplies()
    {
        makeProject(true);
        QTemporaryDir files;
        const QString idsFile = files.filePath(QStringLiteral("ids.txt"));
        QVERIFY(quillner::testing::writeFile(idsFile, kJ1939 + u'\n'));
        const Run run = runCli({"filter", "fit", "--ids-file", idsFile, "--apply", m_project});
        QCOMPARE(run.exitCode, 0);
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(!filter.cobIdFilter);
        QCOMPARE(filter.patterns.size(), 5);
        QVERIFY(filter.patterns.contains(QStringLiteral("1100011111110111100010000xxxx")));
    }

    void testLog()
    {
        makeProject(false);
        QCOMPARE(runCli({"filter", "set", m_project, "--hide", "0x123"}).exitCode, 0);
        QCOMPARE(runCli({"set", m_project, "can.rtr=on"}).exitCode, 0);
        const QString log = data("logs/candump_mixed.log");
        Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 0);
        // The CAN FD frame of 0x100 is blocked: the device's classic controller cannot take it.
        QVERIFY(run.out.startsWith(QStringLiteral("0x100 passed 0 blocked 1 (1 CAN FD frame, "
                                                  "which a classic CAN controller does not "
                                                  "receive)\n"
                                                  "0x123 passed 0 blocked 2\n"
                                                  "0x7DF passed 1 blocked 0\n")));
        QVERIFY(run.out.endsWith(QStringLiteral("Read: candump_mixed.log (candump log, 6 frames, "
                                                "1 error frame)\n"
                                                "Total: 6 frames, 1 passed, 5 blocked (2 of "
                                                "another identifier form, 0 remote, 1 CAN FD), "
                                                "1 error frame, 1 unreadable line\n")));
        QVERIFY(run.err.contains(QStringLiteral("candump_mixed.log, line 6: not a candump frame")));

        run = runCli({"filter", "test", m_project, log, "--json"});
        const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(json.value(QStringLiteral("frames")).toInt(), 6);
        QCOMPARE(json.value(QStringLiteral("blocked")).toInt(), 5);
        QCOMPARE(json.value(QStringLiteral("fd")).toInt(), 1);
        QCOMPARE(json.value(QStringLiteral("error")).toInt(), 1);

        run = runCli({"filter", "test", m_project, log, "--passed"});
        QCOMPARE(run.out, QStringLiteral("(1700000000.000002) can0 7DF#R\n"));
    }

    // A recording that ends inside a line is refused saying where, unless --partial, which
    // counts the frames before the cut and warns.
    void testCutShortRecording()
    {
        makeProject(false);
        const QString log = data("logs/candump_cut_short.log");
        const QString cut =
            QStringLiteral("candump_cut_short.log: cut short at byte 94, after 2 frames");
        Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(cut), qPrintable(run.err));
        run = runCli({"filter", "test", m_project, log, "--partial"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(cut + QStringLiteral("; those are counted")),
                 qPrintable(run.err));
        QVERIFY(run.out.contains(QStringLiteral(
            "Read: candump_cut_short.log (candump log, 2 frames, cut short at byte 94)")));
        run = runCli({"filter", "fit", "--ids", "0x18FEF100", "--log", log});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(cut), qPrintable(run.err));
        run = runCli({"filter", "fit", "--ids", "0x18FEF100", "--log", log, "--partial"});
        QCOMPARE(run.exitCode, 0);
    }

    void testAscKeepsItsHeader()
    {
        makeProject(true);
        const Run run =
            runCli({"filter", "test", m_project, data("logs/vector_mixed.asc"), "--blocked"});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(u'\n');
        QCOMPARE(lines.first(), QStringLiteral("date Mon Nov 13 10:00:00.000 am 2023"));
        QVERIFY(!run.out.contains(QStringLiteral("18FEF100x")));
        QVERIFY(run.out.contains(QStringLiteral("   0.003000 1  7DF             Tx   r")));
    }

    // An unreadable document stops the test, as it stops compile: a bank of zeros would judge
    // every frame by settings the device does not have.
    void testUnreadableProject()
    {
        makeProject(false);
        QVERIFY(quillner::testing::writeFile(document("pargen.xml"), "<General_Parameter><Ser"));
        const QString log = data("logs/candump_mixed.log");
        Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QString());
        QVERIFY(run.err.contains(QStringLiteral("could not be read; no frame was judged")));
        run = runCli({"filter", "test", m_project, log, "--lenient"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("Total: 6 frames")));
    }

    // A recording with nothing to take is an error that says what was there.
    void testRefusals_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("error");
        QTest::newRow("passwd") << "/etc/passwd"
                                << "passwd: no frame in any known format; first line: root:";
        QTest::newRow("device") << "/dev/zero"
                                << "neither a regular file nor a pipe";
        QTest::newRow("missing") << "no-such.log"
                                 << "Cannot open file";
    }

    void testRefusals()
    {
        QFETCH(QString, log);
        QFETCH(QString, error);
        makeProject(false);
        const Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(error), qPrintable(run.err));
    }

    // --threads takes 1 or 2; the tally is the same with either.
    void testThreads_data()
    {
        QTest::addColumn<QString>("threads");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("one") << "1" << 0;
        QTest::newRow("two") << "2" << 0;
        QTest::newRow("three") << "3" << 2;
        QTest::newRow("a word") << "two" << 2;
    }

    void testThreads()
    {
        QFETCH(QString, threads);
        QFETCH(int, exitCode);
        makeProject(false);
        const QString log = m_dir.filePath(QStringLiteral("threads.log"));
        QVERIFY(quillner::testing::writeFile(
            log, "(1.000000) can0 123#11\n(1.000001) can0 124#R\n(1.000002) can0 12#R\n"));
        const Run run = runCli({"filter", "test", m_project, log, "--threads", threads});
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0)
            QCOMPARE(run.out, runCli({"filter", "test", m_project, log}).out);
        else
            QVERIFY2(run.err.contains(QStringLiteral("--threads takes 1 or 2")),
                     qPrintable(run.err));
    }

    void testEmptyFile()
    {
        makeProject(false);
        const QString empty = m_dir.filePath(QStringLiteral("empty.log"));
        QVERIFY(quillner::testing::writeFile(empty, QByteArray()));
        const Run run = runCli({"filter", "test", m_project, empty});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("empty.log: empty, no recording")));
    }

    // "-" reads standard input as it comes, as candump -L can0 | quillner-cli filter test P -.
    void testStandardInput()
    {
        makeProject(false);
        const Run run = quillner::testing::runProgram(
            QStringLiteral(QUILLNER_CLI), {"filter", "test", m_project, "-"}, {},
            "# from the bench\n(1.000000) can0 123#11\n(1.000001) can0 124#R\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith(QStringLiteral("Read: standard input (candump log, 2 frames)\n"
                                                 "Total: 2 frames, 1 passed, 1 blocked (0 of "
                                                 "another identifier form, 1 remote, 0 CAN FD), "
                                                 "0 error frames, 0 unreadable lines\n")),
                 qPrintable(run.out));
    }

    // A BLF file is named by its format, and its frames are printed as candump log lines.
    void testBlf()
    {
        makeProject(true);
        const QString blf = m_dir.filePath(QStringLiteral("trace.blf"));
        QVERIFY(quillner::testing::writeFile(
            blf,
            quillner::testing::blfFile(quillner::testing::blfCanMessage(
                                           0x18FEF100, true, "\x01\x02", false, 1, 1, 1500000000) +
                                       quillner::testing::blfCanMessage(0x123, false, "\x03"))));
        Run run = runCli({"filter", "test", m_project, blf});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral("Read: trace.blf (Vector BLF, 2 frames)\n")));
        run = runCli({"filter", "test", m_project, blf, "--passed"});
        QCOMPARE(run.out, QStringLiteral("(1.500000) can1 18FEF100#0102\n"));
    }

    // The device's view of each kind of frame, with remote frames off and on.
    void testDeviceView_data()
    {
        QTest::addColumn<QString>("rtr");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("counts");
        QTest::newRow("data frame") << "off"
                                    << "(1.0) can0 123#11"
                                    << "1 passed, 0 blocked";
        QTest::newRow("remote frame, remote frames off")
            << "off"
            << "(1.0) can0 123#R"
            << "0 passed, 1 blocked (0 of another identifier "
               "form, 1 remote";
        QTest::newRow("remote frame, remote frames on")
            << "on"
            << "(1.0) can0 123#R"
            << "1 passed, 0 blocked (0 of another identifier "
               "form, 0 remote";
        QTest::newRow("CAN FD frame") << "on"
                                      << "(1.0) can0 123##1AA"
                                      << "0 passed, 1 blocked (0 of another identifier form, 0 "
                                         "remote, 1 CAN FD), 0 error frames";
        QTest::newRow("error frame") << "on"
                                     << "(1.0) can0 123#11\n(1.1) can0 20000080#00"
                                     << "1 passed, 0 blocked (0 of another identifier form, 0 "
                                        "remote, 0 CAN FD), 1 error frame";
    }

    void testDeviceView()
    {
        QFETCH(QString, rtr);
        QFETCH(QString, line);
        QFETCH(QString, counts);
        makeProject(false);
        QCOMPARE(runCli({"set", m_project, QStringLiteral("can.rtr=") + rtr}).exitCode, 0);
        const QString log = m_dir.filePath(QStringLiteral("one.log"));
        QVERIFY(quillner::testing::writeFile(log, line.toUtf8() + '\n'));
        const Run run = runCli({"filter", "test", m_project, log});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(counts), qPrintable(run.out));
    }

    void importDbc_data()
    {
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("skipped");
        QTest::newRow("2.0A") << false << QStringList{} << QStringList{"EEC1", "ExtendedLow"};
        QTest::newRow("2.0B") << true << QStringList{} << QStringList{"Status", "Diagnostic"};
        QTest::newRow("2.0B chosen") << true << QStringList{"--messages", "EEC1"} << QStringList{};
    }

    void importDbc()
    {
        QFETCH(bool, canTypeB);
        QFETCH(QStringList, options);
        QFETCH(QStringList, skipped);
        makeProject(canTypeB);
        const Run run = runCli(
            QStringList{"filter", "import-dbc", m_project, data("filters/engine_messages.dbc")} +
            options);
        QCOMPARE(run.exitCode, 0);
        QStringList seen;
        for (const QString& line : run.out.split(u'\n')) {
            if (line.startsWith(QStringLiteral("Skipped: ")))
                seen << line.mid(9).section(u' ', 0, 0);
        }
        QCOMPARE(seen, skipped);
        QVERIFY(run.err.contains(QStringLiteral("line 19: the identifier of TooLarge")));
        if (!canTypeB) {
            const Filter20A filter = loadFilter20A(document("Filter20A.xml")).value;
            QCOMPARE(visibleCount(filter), 2);
            QCOMPARE(filter.IdVisible[0x123], quint8(1));
            QCOMPARE(filter.IdVisible[0x7DF], quint8(1));
            return;
        }
        const Filter20B filter = loadFilter20B(document("Filter20B.xml")).value;
        QVERIFY(filter.cobIdFilter);
        QCOMPARE(filter.cobIds, options.isEmpty() ? (QStringList{"256", "419361024"})
                                                  : (QStringList{"419361024"}));
    }

    void importDbcUnknownMessage()
    {
        makeProject(true);
        const Run run = runCli({"filter", "import-dbc", m_project,
                                data("filters/engine_messages.dbc"), "--messages", "Nope"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("No message named Nope in engine_messages.dbc")));
    }
};

QTEST_GUILESS_MAIN(TestCliFilter)
#include "tst_cli_filter.moc"
