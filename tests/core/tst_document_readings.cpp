// The window and the bank compiler read the same project documents but make different things of
// some hand-edited texts. Each table shows both readings of one document, row by row.

#include "core/bank/bank_compiler.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/mask_pattern.h"

#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::writeFile;

namespace {

const QStringList kPargenNames{"Ser_Baud", "Ser_Par", "Can_Type", "Can_Baud", "Can_Enable_RTR"};
const QStringList kPargenDefaults{"7", "0", "0", "5", "0"};

QString element(const QString& name, const QString& text)
{
    return QStringLiteral("<%1>%2</%1>").arg(name, text);
}

// pargen.xml with the default texts, one element's text replaced (null: the element left out).
QString pargenWith(const QString& name, const QString& text)
{
    QString xml = QStringLiteral("<General_Parameter>");
    for (int i = 0; i < kPargenNames.size(); ++i) {
        if (kPargenNames[i] != name)
            xml += element(kPargenNames[i], kPargenDefaults[i]);
        else if (!text.isNull())
            xml += element(name, text);
    }
    return xml + QStringLiteral("</General_Parameter>");
}

// The field the window shows for an element; a check box as 0 or 1.
int windowField(const GeneralParameters& parameters, const QString& name)
{
    const QList<int> fields{parameters.Ser_Baud, parameters.Ser_Par, int(parameters.canTypeB),
                            parameters.Can_Baud, int(parameters.Can_Enable_RTR)};
    return fields.at(kPargenNames.indexOf(name));
}

QString filter20ADocument(const QStringList& texts)
{
    QString xml = QStringLiteral("<Filter20A>");
    for (const QString& text : texts)
        xml += element(QStringLiteral("filter"), text);
    return xml + QStringLiteral("</Filter20A>");
}

QStringList problemLine(const QString& line)
{
    return line.isEmpty() ? QStringList{} : QStringList{line};
}

class Project
{
public:
    Project() { QVERIFY(m_dir.isValid()); }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    CompiledBank compile() const
    {
        return CompileBank(path("pargen.xml"), path("Filter20A.xml"), path("Filter20B.xml"));
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

class TestDocumentReadings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pargen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text"); // null: the element is left out
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("compiled"); // the element's byte in the bank
        QTest::addColumn<QString>("unreadable");
        QTest::newRow("Ser_Baud 3") << "Ser_Baud"
                                    << "3" << 3 << 3 << "";
        QTest::newRow("Ser_Baud 300") << "Ser_Baud"
                                      << "300" << 300 << 44 << "";
        QTest::newRow("Ser_Baud abc")
            << "Ser_Baud"
            << "abc" << 7 << 0 << "pargen.xml, Ser_Baud: 'abc' is not a valid integer value";
        QTest::newRow("Ser_Baud empty")
            << "Ser_Baud"
            << "" << 7 << 0 << "pargen.xml, Ser_Baud: '' is not a valid integer value";
        QTest::newRow("Ser_Baud child element")
            << "Ser_Baud"
            << "<x/>" << 7 << 0
            << "pargen.xml, Ser_Baud: Element does not contain a single text node";
        QTest::newRow("Ser_Par 1") << "Ser_Par"
                                   << "1" << 1 << 3 << "";
        QTest::newRow("Ser_Par 2") << "Ser_Par"
                                   << "2" << 2 << 1 << "";
        QTest::newRow("Ser_Par 7") << "Ser_Par"
                                   << "7" << 7 << 0 << "";
        QTest::newRow("Ser_Par missing")
            << "Ser_Par" << QString() << 0 << 0 << "pargen.xml, Ser_Par: Element Ser_Par not found";
        QTest::newRow("Can_Type 2") << "Can_Type"
                                    << "2" << 1 << 2 << "";
        QTest::newRow("Can_Baud 5") << "Can_Baud"
                                    << "5" << 5 << 6 << "";
        QTest::newRow("Can_Baud -1") << "Can_Baud"
                                     << "-1" << -1 << 0 << "";
        QTest::newRow("Can_Enable_RTR 2") << "Can_Enable_RTR"
                                          << "2" << 0 << 2 << "";
        QTest::newRow("Can_Enable_RTR $1") << "Can_Enable_RTR"
                                           << "$1" << 1 << 1 << "";
        QTest::newRow("Can_Enable_RTR abc")
            << "Can_Enable_RTR"
            << "abc" << 0 << 0 << "pargen.xml, Can_Enable_RTR: 'abc' is not a valid integer value";
    }

    void pargen()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(int, window);
        QFETCH(int, compiled);
        QFETCH(QString, unreadable);
        Project project;
        QVERIFY(writeFile(project.path("pargen.xml"), pargenWith(name, text)));

        QCOMPARE(windowField(loadGeneralParameters(project.path("pargen.xml")), name), window);
        const CompiledBank bank = project.compile();
        QCOMPARE(int(bank.value[kPargenNames.indexOf(name)]), compiled);
        QCOMPARE(problemLines(bank.problems), problemLine(unreadable));
    }

    void filter20A_data()
    {
        QTest::addColumn<QStringList>("children");
        QTest::addColumn<QList<int>>("windowHidden"); // of the first eight identifiers
        QTest::addColumn<QString>("windowProblem");
        QTest::addColumn<int>("compiled"); // the bitmap's first byte: identifiers 0 to 7
        QTest::addColumn<QString>("unreadable");
        QTest::newRow("0 hides, 2 shows in the window only")
            << QStringList{"0", "1", "2"} << QList<int>{0} << "" << 0x02 << "";
        QTest::newRow("-1 and $1")
            << QStringList{"1", "-1", "$1"} << QList<int>{} << "" << 0x05 << "";
        QTest::newRow("no integer: the window keeps what it read, the bank nothing")
            << QStringList{"0", "1", "abc", "0"} << QList<int>{0}
            << "Filter20A.xml, child 3: 'abc' is not a valid integer value" << 0x00
            << "Filter20A.xml, child 3: 'abc' is not a valid integer value";
        QTest::newRow("child element")
            << QStringList{"1", "<x/>"} << QList<int>{}
            << "Filter20A.xml, child 2: Element does not contain a single text node" << 0x00
            << "Filter20A.xml, child 2: Element does not contain a single text node";
    }

    void filter20A()
    {
        QFETCH(QStringList, children);
        QFETCH(QList<int>, windowHidden);
        QFETCH(QString, windowProblem);
        QFETCH(int, compiled);
        QFETCH(QString, unreadable);
        Project project;
        QVERIFY(writeFile(project.path("pargen.xml"), pargenWith({}, {})));
        QVERIFY(writeFile(project.path("Filter20A.xml"), filter20ADocument(children)));

        const Filter20ALoad loaded = loadFilter20A(project.path("Filter20A.xml"));
        QList<int> hidden;
        for (int id = 0; id < 8; ++id) {
            if (!loaded.value.IdVisible[id])
                hidden.append(id);
        }
        QCOMPARE(hidden, windowHidden);
        QCOMPARE(problemLines(loaded.problems), problemLine(windowProblem));
        const CompiledBank bank = project.compile();
        QCOMPARE(int(bank.value[100]), compiled);
        QCOMPARE(problemLines(bank.problems), problemLine(unreadable));
    }

    void filter20B_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("cobIdFilter");
        QTest::addColumn<bool>("typePositive");
        QTest::addColumn<QStringList>("entries"); // of the window's mode
        QTest::addColumn<QString>("windowProblem");
        QTest::addColumn<QByteArray>("compiled"); // bytes 10 to 13, then the first four words
        QTest::addColumn<QString>("unreadable");
        // The window starts from "Mask Filter" and "Type Negative".
        QTest::newRow("Type 01: mask in the window, list in the bank")
            << "<Filter20B><Type>01</Type><Type_Func>1</Type_Func>"
               "<Filter><data>7</data><data>9</data></Filter></Filter20B>"
            << true << false << false << QStringList{BitsToPattern(7, 9)} << ""
            << QByteArray::fromHex("01010102"
                                   "07000000"
                                   "09000000"
                                   "00000000"
                                   "00000000")
            << "";
        QTest::newRow("Type abc: mask in the window, nothing in the bank")
            << "<Filter20B><Type>abc</Type><Filter><data>1</data><data>1</data></Filter>"
               "</Filter20B>"
            << true << false << false << QStringList{BitsToPattern(1, 1)} << ""
            << QByteArray(20, '\0') << "Filter20B.xml, Type: 'abc' is not a valid integer value";
        QTest::newRow("Type_Func 2: negative in the window, 2 in the bank")
            << "<Filter20B><Type>1</Type><Type_Func>2</Type_Func><Filter><data>5</data></Filter>"
               "</Filter20B>"
            << true << true << false << QStringList{"5"} << ""
            << QByteArray::fromHex("01010201"
                                   "05000000"
                                   "00000000"
                                   "00000000"
                                   "00000000")
            << "";
        QTest::newRow("list entry no integer: unchecked in the window")
            << "<Filter20B><Type>1</Type><Type_Func>1</Type_Func>"
               "<Filter><data>7</data><data>abc</data></Filter></Filter20B>"
            << true << true << true << QStringList{"7", "abc"} << ""
            << QByteArray::fromHex("01010102"
                                   "07000000"
                                   "00000000"
                                   "00000000"
                                   "00000000")
            << "Filter20B.xml, child 2: 'abc' is not a valid integer value";
        QTest::newRow("mask value no integer: both keep what they read")
            << "<Filter20B><Type>0</Type><Filter><data>3</data><data>1</data><data>2</data>"
               "<data>x2z</data></Filter></Filter20B>"
            << true << false << false << QStringList{BitsToPattern(3, 1)}
            << "Filter20B.xml, child 4: 'x2z' is not a valid integer value"
            << QByteArray::fromHex("01000002"
                                   "03000000"
                                   "01000000"
                                   "02000000"
                                   "00000000")
            << "Filter20B.xml, child 4: 'x2z' is not a valid integer value";
        QTest::newRow("list without Type_Func: the bank keeps the mode")
            << "<Filter20B><Type>1</Type><Filter><data>1</data></Filter></Filter20B>" << false
            << false << false << QStringList{}
            << "Filter20B.xml, Type_Func: Element Type_Func not found"
            << QByteArray::fromHex("00010000"
                                   "00000000"
                                   "00000000"
                                   "00000000"
                                   "00000000")
            << "Filter20B.xml, Type_Func: Element Type_Func not found";
    }

    void filter20B()
    {
        QFETCH(QString, document);
        QFETCH(bool, found);
        QFETCH(bool, cobIdFilter);
        QFETCH(bool, typePositive);
        QFETCH(QStringList, entries);
        QFETCH(QString, windowProblem);
        QFETCH(QByteArray, compiled);
        QFETCH(QString, unreadable);
        Project project;
        QVERIFY(writeFile(project.path("pargen.xml"), pargenWith(QStringLiteral("Can_Type"), "1")));
        QVERIFY(writeFile(project.path("Filter20B.xml"), document));

        const Filter20BLoad loaded =
            loadFilter20B(project.path("Filter20B.xml"), Filter20B{false, false, {}, {}});
        QCOMPARE(loaded.found, found);
        QCOMPARE(loaded.value.cobIdFilter, cobIdFilter);
        QCOMPARE(loaded.value.typePositive, typePositive);
        QCOMPARE(cobIdFilter ? loaded.value.cobIds : loaded.value.patterns, entries);
        QCOMPARE(problemLines(loaded.problems), problemLine(windowProblem));
        const CompiledBank bank = project.compile();
        QByteArray bytes;
        for (int i = 10; i < 14; ++i)
            bytes.append(char(bank.value[i]));
        for (int i = 100; i < 116; ++i)
            bytes.append(char(bank.value[i]));
        QCOMPARE(bytes.toHex(), compiled.toHex());
        QCOMPARE(problemLines(bank.problems), problemLine(unreadable));
    }

    void unreadableDocumentNamesTheFileAlone()
    {
        Project project;
        QVERIFY(writeFile(project.path("pargen.xml"), pargenWith({}, {})));
        QVERIFY(writeFile(project.path("Filter20A.xml"), "<Filter20A><filter>1</filter>"));
        const Filter20ALoad loaded = loadFilter20A(project.path("Filter20A.xml"));
        QCOMPARE(loaded.problems.size(), 1);
        QCOMPARE(loaded.problems.first().file, QStringLiteral("Filter20A.xml"));
        QCOMPARE(loaded.problems.first().location, QString());
        QCOMPARE(loaded.value, Filter20A());
    }
};

QTEST_GUILESS_MAIN(TestDocumentReadings)
#include "tst_document_readings.moc"
