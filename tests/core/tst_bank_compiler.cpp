#include "core/bank/bank_compiler.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

#include <initializer_list>

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

// The expected image: zeros except where a row says otherwise.
class Image
{
public:
    Image& at(int offset, std::initializer_list<int> values)
    {
        for (const int v : values)
            m_bytes[offset++] = char(v);
        return *this;
    }
    Image& fill(int offset, int count, int value)
    {
        for (int i = 0; i < count; ++i)
            m_bytes[offset + i] = char(value);
        return *this;
    }
    Image& word(int offset, quint32 value)
    {
        for (int b = 0; b < 4; ++b)
            m_bytes[offset + b] = char(value >> (8 * b));
        return *this;
    }
    operator QByteArray() const { return m_bytes; }

private:
    QByteArray m_bytes = QByteArray(kBankSize, '\0');
};

QString element(const QString& name, const QString& text)
{
    return QStringLiteral("<%1>%2</%1>").arg(name, text);
}

QString pargen(const QString& serBaud, const QString& serPar, const QString& canType,
               const QString& canBaud, const QString& rtr)
{
    return QStringLiteral("<General_Parameter>") + element(QStringLiteral("Ser_Baud"), serBaud) +
           element(QStringLiteral("Ser_Par"), serPar) +
           element(QStringLiteral("Can_Type"), canType) +
           element(QStringLiteral("Can_Baud"), canBaud) +
           element(QStringLiteral("Can_Enable_RTR"), rtr) + QStringLiteral("</General_Parameter>");
}

QString pargenA()
{
    return pargen("7", "0", "0", "5", "0");
}
QString pargenB()
{
    return pargen("7", "0", "1", "5", "0");
}

// Filter20A.xml with count filter children, "1" at the given positions and "0" elsewhere,
// unless a text is given for a position.
QString filter20A(const QMap<int, QString>& texts, int count = 2048)
{
    QString xml = QStringLiteral("<Filter20A>");
    for (int i = 0; i < count; ++i)
        xml += element(QStringLiteral("filter"), texts.value(i, QStringLiteral("0")));
    return xml + QStringLiteral("</Filter20A>");
}

QString dataList(const QStringList& data)
{
    QString xml;
    for (const QString& d : data)
        xml += element(QStringLiteral("data"), d);
    return element(QStringLiteral("Filter"), xml);
}

QString filter20B(const QString& type, const QString& typeFunc, const QStringList& data)
{
    return QStringLiteral("<Filter20B>") + element(QStringLiteral("Type"), type) +
           element(QStringLiteral("Type_Func"), typeFunc) +
           element(QStringLiteral("Num_Frame"), QString::number(data.size())) + dataList(data) +
           QStringLiteral("</Filter20B>");
}

QStringList numbers(int count, int first = 0)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QString::number(first + i);
    return list;
}

} // namespace

class TestBankCompiler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void compile_data()
    {
        // A null text means the document does not exist.
        QTest::addColumn<QString>("pargenXml");
        QTest::addColumn<QString>("filter20AXml");
        QTest::addColumn<QString>("filter20BXml");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("unreadable");
        const QString none;
        const Image a = Image().at(0, {7, 0, 0, 6, 0});
        const Image b = Image().at(0, {7, 0, 1, 6, 0});
        const Image allVisible = Image(a).fill(100, 256, 0xFF);

        // General parameters.
        QTest::newRow("defaults, no Filter20A")
            << pargenA() << none << none << QByteArray(allVisible) << false;
        QTest::newRow("Ser_Par 1") << pargen("7", "1", "0", "5", "0") << none << none
                                   << QByteArray(Image(allVisible).at(1, {3})) << false;
        QTest::newRow("Ser_Par 2") << pargen("7", "2", "0", "5", "0") << none << none
                                   << QByteArray(Image(allVisible).at(1, {1})) << false;
        QTest::newRow("Ser_Par 5")
            << pargen("7", "5", "0", "5", "0") << none << none << QByteArray(allVisible) << false;
        QTest::newRow("Ser_Par 257 maps its low 8 bits")
            << pargen("7", "257", "0", "5", "0") << none << none
            << QByteArray(Image(allVisible).at(1, {3})) << false;
        QTest::newRow("Can_Baud 8") << pargen("7", "0", "0", "8", "0") << none << none
                                    << QByteArray(Image(allVisible).at(3, {9})) << false;
        QTest::newRow("Can_Baud 255 wraps") << pargen("7", "0", "0", "255", "0") << none << none
                                            << QByteArray(Image(allVisible).at(3, {0})) << false;
        QTest::newRow("Can_Baud int max wraps")
            << pargen("7", "0", "0", "2147483647", "0") << none << none
            << QByteArray(Image(allVisible).at(3, {0})) << false;
        QTest::newRow("Can_Baud -1") << pargen("7", "0", "0", "-1", "0") << none << none
                                     << QByteArray(Image(allVisible).at(3, {0})) << false;
        QTest::newRow("Ser_Baud 300 keeps low 8 bits")
            << pargen("300", "0", "0", "5", "0") << none << none
            << QByteArray(Image(allVisible).at(0, {44})) << false;
        QTest::newRow("hexadecimal RTR") << pargen("7", "0", "0", "5", "$101") << none << none
                                         << QByteArray(Image(allVisible).at(4, {1})) << false;
        QTest::newRow("Can_Type 256 is 2.0A")
            << pargen("7", "0", "256", "5", "0") << none << none << QByteArray(allVisible) << false;
        QTest::newRow("declaration and indentation")
            << QStringLiteral(
                   "<?xml version=\"1.0\"?>\n<General_Parameter>\n  <Ser_Baud>7</Ser_Baud>\n"
                   "  <Ser_Par>0</Ser_Par>\n  <Can_Type>0</Can_Type>\n"
                   "  <Can_Baud>5</Can_Baud>\n  <Can_Enable_RTR>0</Can_Enable_RTR>\n"
                   "</General_Parameter>\n")
            << none << none << QByteArray(allVisible) << false;

        // General-parameter failures.
        // A folder without pargen.xml is no project; its bank is all zeros, built only on request.
        QTest::newRow("pargen.xml missing") << none << none << none << QByteArray(Image()) << true;
        QTest::newRow("pargen.xml not well-formed")
            << QStringLiteral("<General_Parameter><Ser_Baud>7</Ser_Baud>") << none << none
            << QByteArray(Image()) << true;
        QTest::newRow("root name differs in case")
            << pargenA().replace("General_Parameter", "general_parameter") << none << none
            << QByteArray(Image()) << true;
        QTest::newRow("Ser_Baud empty")
            << pargen("", "0", "0", "5", "0") << none << none << QByteArray(Image()) << true;
        QTest::newRow("Ser_Par not an integer") << pargen("7", "abc", "0", "5", "0") << none << none
                                                << QByteArray(Image().at(0, {7})) << true;
        QTest::newRow("Can_Baud holds an element")
            << pargen("7", "1", "0", "<x>5</x>", "0") << none << none
            << QByteArray(Image().at(0, {7, 3, 0})) << true;
        QTest::newRow("no Can_Enable_RTR")
            << QStringLiteral("<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>2</Ser_Par>"
                              "<Can_Type>0</Can_Type><Can_Baud>5</Can_Baud></General_Parameter>")
            << none << none << QByteArray(Image().at(0, {7, 1, 0, 6})) << true;

        // CAN 2.0A.
        QTest::newRow("2.0B ignores Filter20A")
            << pargenB() << filter20A({{0, "1"}}) << none << QByteArray(b) << false;
        QTest::newRow("2.0A only child 9 visible") << pargenA() << filter20A({{9, "1"}}) << none
                                                   << QByteArray(Image(a).at(101, {0x02})) << false;
        QTest::newRow("2.0A first and last")
            << pargenA() << filter20A({{0, "1"}, {2047, "$1"}}) << none
            << QByteArray(Image(a).at(100, {1}).at(355, {0x80})) << false;
        QTest::newRow("2.0A text 2 is not visible")
            << pargenA() << filter20A({{9, "2"}}) << none << QByteArray(a) << false;
        QTest::newRow("2.0A child 5 abc")
            << pargenA() << filter20A({{0, "1"}, {5, "abc"}}) << none << QByteArray(a) << true;
        QTest::newRow("2.0A not well-formed")
            << pargenA() << QStringLiteral("<Filter20A><filter>") << none << QByteArray(a) << true;
        QTest::newRow("2.0A other root")
            << pargenA() << QStringLiteral("<Filter20B/>") << none << QByteArray(a) << true;
        QTest::newRow("2.0A few children") << pargenA() << filter20A({{1, "1"}}, 3) << none
                                           << QByteArray(Image(a).at(100, {0x02})) << false;
        QTest::newRow("2.0A children past 2048 ignored")
            << pargenA() << filter20A({{2047, "1"}, {2048, "1"}, {2049, "abc"}}, 2050) << none
            << QByteArray(Image(a).at(355, {0x80})) << false;

        // CAN 2.0B.
        QTest::newRow("2.0B without Filter20B")
            << pargenB() << none << none << QByteArray(b) << false;
        QTest::newRow("2.0B list")
            << pargenB() << none << filter20B("1", "1", {"291", "$1FFFFFFF"})
            << QByteArray(Image(b)
                              .at(10, {1, 1, 1, 2})
                              .at(100, {0x23, 0x01, 0, 0, 0xFF, 0xFF, 0xFF, 0x1F}))
            << false;
        QTest::newRow("2.0B list, Type 257 is the list")
            << pargenB() << none << filter20B("257", "0", {"-1"})
            << QByteArray(Image(b).at(10, {1, 1, 0, 1}).word(100, 0xFFFFFFFFu)) << false;
        QTest::newRow("2.0B mask two patterns")
            << pargenB() << none << filter20B("0", "1", {"7", "5", "1023", "0"})
            << QByteArray(Image(b).at(10, {1, 0, 0, 2}).word(100, 7).word(104, 5).word(108, 1023))
            << false;
        QTest::newRow("2.0B mask odd child ignored")
            << pargenB() << none << filter20B("2", "1", {"7", "5", "9"})
            << QByteArray(Image(b).at(10, {1, 2, 0, 1}).word(100, 7).word(104, 5)) << false;
        QTest::newRow("2.0B mask empty Filter")
            << pargenB() << none << filter20B("0", "1", {}) << QByteArray(b) << false;
        QTest::newRow("2.0B list empty Filter") << pargenB() << none << filter20B("1", "1", {})
                                                << QByteArray(Image(b).at(11, {1, 1})) << false;
        QTest::newRow("2.0B not well-formed")
            << pargenB() << none << QStringLiteral("<Filter20B>") << QByteArray(b) << true;
        QTest::newRow("2.0B no Filter20B element")
            << pargenB() << none << QStringLiteral("<Filter20A><Type>1</Type></Filter20A>")
            << QByteArray(b) << true;
        QTest::newRow("2.0B no Type") << pargenB() << none
                                      << QStringLiteral("<Filter20B><Type_Func>1</Type_Func>") +
                                             dataList({"1"}) + QStringLiteral("</Filter20B>")
                                      << QByteArray(b) << true;
        QTest::newRow("2.0B list without Type_Func")
            << pargenB() << none
            << QStringLiteral("<Filter20B><Type>1</Type>") + dataList({"1"}) +
                   QStringLiteral("</Filter20B>")
            << QByteArray(Image(b).at(11, {1})) << true;
        QTest::newRow("2.0B list without Filter")
            << pargenB() << none
            << QStringLiteral("<Filter20B><Type>1</Type><Type_Func>1</Type_Func></Filter20B>")
            << QByteArray(Image(b).at(11, {1, 1})) << true;
        QTest::newRow("2.0B list child 1 not an integer")
            << pargenB() << none << filter20B("1", "1", {"17", "x", "19"})
            << QByteArray(Image(b).at(10, {1, 1, 1, 3}).word(100, 17)) << true;
        QTest::newRow("2.0B list child 0 not an integer")
            << pargenB() << none << filter20B("1", "0", {"", "18"})
            << QByteArray(Image(b).at(11, {1, 0, 2})) << true;
        QTest::newRow("2.0B mask without Filter")
            << pargenB() << none
            << QStringLiteral("<Filter20B><Type>0</Type><Type_Func>1</Type_Func></Filter20B>")
            << QByteArray(b) << true;
        QTest::newRow("2.0B mask second value of pattern 1 bad")
            << pargenB() << none << filter20B("0", "1", {"1", "2", "3", "abc", "5", "6"})
            << QByteArray(Image(b).at(10, {1, 0, 0, 3}).word(100, 1).word(104, 2).word(108, 3))
            << true;
        QTest::newRow("2.0B mask first value bad")
            << pargenB() << none << filter20B("0", "1", {"abc", "2"})
            << QByteArray(Image(b).at(13, {1})) << true;

        Image sixtyFive = Image(b).at(10, {1, 1, 1, 70});
        for (int i = 0; i < 65; ++i)
            sixtyFive.word(100 + 4 * i, quint32(1000 + i));
        QTest::newRow("2.0B list past 65 identifiers")
            << pargenB() << none << filter20B("1", "1", numbers(70, 1000)) << QByteArray(sixtyFive)
            << false;
        Image thirtyTwo = Image(b).at(10, {1, 0, 0, 40});
        for (int i = 0; i < 64; ++i)
            thirtyTwo.word(100 + 4 * i, quint32(i));
        QTest::newRow("2.0B mask past 32 patterns")
            << pargenB() << none << filter20B("0", "1", numbers(80)) << QByteArray(thirtyTwo)
            << false;
    }

    void compile()
    {
        QFETCH(QString, pargenXml);
        QFETCH(QString, filter20AXml);
        QFETCH(QString, filter20BXml);
        QFETCH(QByteArray, expected);
        QFETCH(bool, unreadable);

        QTemporaryDir project;
        const QString pargenPath = project.filePath("pargen.xml");
        const QString filter20APath = project.filePath("Filter20A.xml");
        const QString filter20BPath = project.filePath("Filter20B.xml");
        if (!pargenXml.isNull())
            QVERIFY(writeFile(pargenPath, pargenXml));
        if (!filter20AXml.isNull())
            QVERIFY(writeFile(filter20APath, filter20AXml));
        if (!filter20BXml.isNull())
            QVERIFY(writeFile(filter20BPath, filter20BXml));

        const CompiledBank compiled = CompileBank(pargenPath, filter20APath, filter20BPath);
        const QByteArray actual(reinterpret_cast<const char*>(compiled.value.data()), kBankSize);
        for (int i = 0; i < kBankSize; ++i) {
            if (actual[i] != expected[i]) {
                QFAIL(qPrintable(QStringLiteral("byte %1 is %2, expected %3")
                                     .arg(i)
                                     .arg(quint8(actual[i]))
                                     .arg(quint8(expected[i]))));
            }
        }
        QVERIFY2(compiled.problems.isEmpty() != unreadable,
                 qPrintable(problemLines(compiled.problems).join(" | ")));
    }

    void namesTheFileAndTheMissingElement()
    {
        QTemporaryDir project;
        QVERIFY(
            writeFile(project.filePath("pargen.xml"),
                      QStringLiteral("<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par>"
                                     "<Can_Type>0</Can_Type></General_Parameter>")));
        const CompiledBank compiled =
            CompileBank(project.filePath("pargen.xml"), project.filePath("Filter20A.xml"),
                        project.filePath("Filter20B.xml"));
        QCOMPARE(problemLines(compiled.problems),
                 QStringList{QStringLiteral("pargen.xml, Can_Baud: Element Can_Baud not found")});
    }

    // Where the reading stopped: the element, or the position of a filter child.
    void unreadableNamesTheElementOrChild_data()
    {
        QTest::addColumn<QString>("pargenXml");
        QTest::addColumn<QString>("filter20AXml");
        QTest::addColumn<QString>("filter20BXml");
        QTest::addColumn<QString>("line");
        QTest::newRow("2.0A child 12 empty")
            << pargenA() << filter20A({{11, ""}}) << QString()
            << "Filter20A.xml, child 12: '' is not a valid integer value";
        QTest::newRow("2.0B list child 3")
            << pargenB() << QString() << filter20B("1", "1", {"1", "2", "x"})
            << "Filter20B.xml, child 3: 'x' is not a valid integer value";
        QTest::newRow("2.0B Type") << pargenB() << QString() << filter20B("", "1", {})
                                   << "Filter20B.xml, Type: '' is not a valid integer value";
        QTest::newRow("pargen root missing")
            << QStringLiteral("<Other/>") << QString() << QString()
            << "pargen.xml, General_Parameter: Element General_Parameter not found";
        QTest::newRow("not well-formed: the parser's line")
            << QStringLiteral("<General_Parameter>\n<Ser_Baud>") << QString() << QString()
            << "pargen.xml: ";
        // A folder without pargen.xml is no project: its all-zero bank is not built unasked.
        QTest::newRow("no pargen.xml") << QString() << QString() << QString()
                                       << "PROJECT is "
                                          "not a project: "
                                          "no pargen.xml; "
                                          "the device would "
                                          "get an all-zero "
                                          "bank";
    }

    void unreadableNamesTheElementOrChild()
    {
        QFETCH(QString, pargenXml);
        QFETCH(QString, filter20AXml);
        QFETCH(QString, filter20BXml);
        QFETCH(QString, line);
        QTemporaryDir project;
        if (!pargenXml.isNull())
            QVERIFY(writeFile(project.filePath("pargen.xml"), pargenXml));
        line.replace(QStringLiteral("PROJECT"), QDir::toNativeSeparators(project.path()));
        if (!filter20AXml.isNull())
            QVERIFY(writeFile(project.filePath("Filter20A.xml"), filter20AXml));
        if (!filter20BXml.isNull())
            QVERIFY(writeFile(project.filePath("Filter20B.xml"), filter20BXml));
        const CompiledBank compiled =
            CompileBank(project.filePath("pargen.xml"), project.filePath("Filter20A.xml"),
                        project.filePath("Filter20B.xml"));
        QCOMPARE(compiled.problems.size(), 1);
        QVERIFY2(compiled.problems.first().toString().startsWith(line),
                 qPrintable(compiled.problems.first().toString()));
        QCOMPARE(compileOutcome(compiled), CompileOutcome::Unreadable);
        QVERIFY(!bankMayGoOn(compiled, false));
        QVERIFY(bankMayGoOn(compiled, true));
    }

    // Values outside their lists and documents not saved yet are warnings that name the setting
    // and what the device gets; the bytes are those of the compile without them.
    void warningsSayWhatTheDeviceGets_data()
    {
        QTest::addColumn<QString>("pargenXml");
        QTest::addColumn<QString>("filter20AXml");
        QTest::addColumn<QString>("filter20BXml");
        QTest::addColumn<QStringList>("warnings");
        const QString none;
        const QString allIn = pargenA();
        QTest::newRow("clean") << allIn << filter20A({{0, "1"}}) << none << QStringList();
        QTest::newRow("empty choices written as -1")
            << pargen("-1", "-1", "0", "-1", "0") << filter20A({}) << none
            << QStringList{"pargen.xml, Ser_Baud: -1 is not in the list (0 to 7); the device gets "
                           "code 255, which no window sets",
                           "pargen.xml, Ser_Par: -1 is not in the list (0 to 2); the device gets "
                           "code 0 (None)",
                           "pargen.xml, Can_Baud: -1 is not in the list (0 to 8); the device gets "
                           "code 0, which no window sets"};
        QTest::newRow("out of list but a known code")
            << pargen("256", "257", "0", "264", "2") << filter20A({}) << none
            << QStringList{"pargen.xml, Ser_Baud: 256 is not in the list (0 to 7); the device gets "
                           "code 0 (1200 bit/s)",
                           "pargen.xml, Ser_Par: 257 is not in the list (0 to 2); the device gets "
                           "code 3 (Odd)",
                           "pargen.xml, Can_Baud: 264 is not in the list (0 to 8); the device gets "
                           "code 9 (1000 kbit/s)",
                           "pargen.xml, Can_Enable_RTR: 2 is neither 0 (off) nor 1 (on); the "
                           "device gets code 2"};
        QTest::newRow("frame format no window writes")
            << pargen("7", "0", "2", "5", "0") << none << filter20B("1", "1", {"5"})
            << QStringList{"pargen.xml, Can_Type: 2 is neither 0 (2.0A) nor 1 (2.0B); the device "
                           "gets code 2 (CAN 2.0B)"};
        QTest::newRow("frame format 256 is 2.0A to the device")
            << pargen("7", "0", "256", "5", "0") << filter20A({}) << none
            << QStringList{"pargen.xml, Can_Type: 256 is neither 0 (2.0A) nor 1 (2.0B); the "
                           "device gets code 0 (CAN 2.0A)"};
        QTest::newRow("no Filter20A.xml")
            << allIn << none << none
            << QStringList{"Filter20A.xml: not found (no 2.0A filter saved yet); the device lets "
                           "every identifier through"};
        QTest::newRow("no Filter20B.xml")
            << pargenB() << none << none
            << QStringList{"Filter20B.xml: not found (no 2.0B filter saved yet); the device gets "
                           "no 2.0B filter entries: every extended frame passes"};
        // A pattern whose two values are alike in every bit fixes none: 0 and 0x1FFFFFFF.
        QTest::newRow("2.0B pattern that fixes no bit")
            << pargenB() << none << filter20B("0", "0", {"536870911", "0"})
            << QStringList{"Filter20B.xml: the device lets every extended frame through with this "
                           "filter"};
        QTest::newRow("2.0B empty list")
            << pargenB() << none << filter20B("1", "1", {})
            << QStringList{"Filter20B.xml: the device lets every extended frame through with this "
                           "filter"};
        QTest::newRow("2.0A children past 2048")
            << allIn << filter20A({}, 2050) << none
            << QStringList{"Filter20A.xml: 2 children after the first 2048 ignored"};
    }

    void warningsSayWhatTheDeviceGets()
    {
        QFETCH(QString, pargenXml);
        QFETCH(QString, filter20AXml);
        QFETCH(QString, filter20BXml);
        QFETCH(QStringList, warnings);
        QTemporaryDir project;
        if (!pargenXml.isNull())
            QVERIFY(writeFile(project.filePath("pargen.xml"), pargenXml));
        if (!filter20AXml.isNull())
            QVERIFY(writeFile(project.filePath("Filter20A.xml"), filter20AXml));
        if (!filter20BXml.isNull())
            QVERIFY(writeFile(project.filePath("Filter20B.xml"), filter20BXml));
        const CompiledBank compiled =
            CompileBank(project.filePath("pargen.xml"), project.filePath("Filter20A.xml"),
                        project.filePath("Filter20B.xml"));
        QCOMPARE(problemLines(compiled.warnings), warnings);
        QCOMPARE(problemLines(compiled.problems), QStringList());
        QCOMPARE(compileOutcome(compiled),
                 warnings.isEmpty() ? CompileOutcome::Clean : CompileOutcome::Warnings);
        QVERIFY(bankMayGoOn(compiled, false));
    }

    void twoCompilesGiveTheSameImage()
    {
        QTemporaryDir project;
        QVERIFY(writeFile(project.filePath("pargen.xml"), pargenB()));
        QVERIFY(writeFile(project.filePath("Filter20B.xml"), filter20B("1", "1", {"5", "x"})));
        const auto compile = [&] {
            return CompileBank(project.filePath("pargen.xml"), project.filePath("Filter20A.xml"),
                               project.filePath("Filter20B.xml"));
        };
        const CompiledBank first = compile();
        const CompiledBank second = compile();
        QVERIFY(first.value == second.value);
        QCOMPARE(problemLines(first.problems), problemLines(second.problems));
    }
};

QTEST_GUILESS_MAIN(TestBankCompiler)
#include "tst_bank_compiler.moc"
