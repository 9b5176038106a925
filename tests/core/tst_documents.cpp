#include "core/app/error.h"
#include "core/documents/document_structure.h"
#include "core/documents/general_parameters.h"
#include "core/documents/xml_document.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

const QByteArray kDefaultPargen =
    "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par><Can_Type>0</Can_Type>"
    "<Can_Baud>5</Can_Baud><Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n";

QByteArray pargen(const QByteArray& children)
{
    return "<General_Parameter>" + children + "</General_Parameter>";
}

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void layoutDoesNotMatter()
    {
        const QDomDocument compact = parseXmlDocument(kDefaultPargen).value;
        const QDomDocument indented = wholeValue(parseXmlDocument(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<General_Parameter>\r\n  "
            "<Ser_Baud>7</Ser_Baud>\n"
            "  <Ser_Par>0</Ser_Par>\n\t<Can_Type>0</Can_Type><Can_Baud>5</Can_Baud>\n"
            "  <Can_Enable_RTR>0</Can_Enable_RTR>\n</General_Parameter>\n"));
        const QDomElement root = rootElement(indented, QStringLiteral("General_Parameter"));
        QCOMPARE(childCount(root), 5); // whitespace between elements is no child
        QCOMPARE(quillner::elementText(childAt(root, 4)).value, QStringLiteral("0"));
        // Writing it again drops the declaration and the indentation.
        QCOMPARE(serializeXmlDocument(indented).mid(indented.toByteArray(-1).indexOf("<General")),
                 serializeXmlDocument(compact));
    }

    void elementText_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("text"); // "!" for the single-text error
        QTest::newRow("text") << QByteArray("<a>12</a>") << "12";
        QTest::newRow("empty-element form") << QByteArray("<a/>") << "";
        QTest::newRow("start and end tag") << QByteArray("<a></a>") << "";
        QTest::newRow("CDATA") << QByteArray("<a><![CDATA[3]]></a>") << "3";
        QTest::newRow("blank text kept inside") << QByteArray("<a> 7</a>") << " 7";
        QTest::newRow("child element") << QByteArray("<a><b>1</b></a>") << "!";
        QTest::newRow("text and element") << QByteArray("<a>1<b/></a>") << "!";
    }

    void elementText()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, text);
        const QDomDocument document = parseXmlDocument(xml).value;
        const QDomElement root = rootElement(document, QStringLiteral("a"));
        const Result<QString> read = quillner::elementText(root);
        if (text == QStringLiteral("!")) {
            QCOMPARE(problemLines(read.problems),
                     QStringList{QStringLiteral("Element does not contain a single text node")});
        } else {
            QVERIFY(read.whole());
            QCOMPARE(read.value, text);
        }
    }

    void rootNamesAreCaseSensitive()
    {
        const QDomDocument document = parseXmlDocument("<general_parameter/>").value;
        QVERIFY(rootElement(document, QStringLiteral("General_Parameter")).isNull());
        QVERIFY(!rootElement(document, QStringLiteral("general_parameter")).isNull());
    }

    // The raw structure keeps every text and every failure, each failure with its file and place.
    void structureKeepsTextsAndFailures()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Filter20B.xml"));
        QVERIFY(writeFile(path,
                          "<Filter20B><Type>1</Type><Filter><data>7</data><data><x/></data>abc"
                          "</Filter></Filter20B>"));
        const DocumentStructure document = wholeValue(readFilter20BDocument(path));
        QCOMPARE(document.file, QStringLiteral("Filter20B.xml"));
        QCOMPARE(document.rootFailure, std::nullopt);
        QCOMPARE(document.element(QStringLiteral("Type")).text, QStringLiteral("1"));
        QCOMPARE(document.element(QStringLiteral("Type")).failure, std::nullopt);
        QCOMPARE(document.element(QStringLiteral("Type_Func")).failure,
                 (Problem{QStringLiteral("Filter20B.xml"), QStringLiteral("Type_Func"),
                          QStringLiteral("Element Type_Func not found")}));
        QCOMPARE(document.listFailure, std::nullopt);
        QCOMPARE(document.children.size(), 3);
        QCOMPARE(document.children[0].text, QStringLiteral("7"));
        QCOMPARE(document.children[1].failure,
                 (Problem{QStringLiteral("Filter20B.xml"), QStringLiteral("child 2"),
                          QStringLiteral("Element does not contain a single text node")}));
        // A bare text between the entries is a child of its own, without a text.
        QCOMPARE(document.children[2].text, QString());
        QCOMPARE(document.children[2].failure, std::nullopt);

        QVERIFY(writeFile(path, "<Other><Type>1</Type></Other>"));
        const DocumentStructure other = wholeValue(readFilter20BDocument(path));
        QCOMPARE(other.rootFailure,
                 (Problem{QStringLiteral("Filter20B.xml"), QStringLiteral("Filter20B"),
                          QStringLiteral("Element Filter20B not found")}));
        QCOMPARE(other.element(QStringLiteral("Type")).failure->text,
                 QStringLiteral("Element Type not found"));
        QCOMPARE(other.listFailure->text, QStringLiteral("Element Filter not found"));
    }

    void parseErrorNamesReasonLineAndSource()
    {
        const Result<QDomDocument> parsed = parseXmlDocument(
            "<General_Parameter>\r\n<Ser_Baud>7</Ser_Par>  and the rest of this long line\r\n");
        QCOMPARE(parsed.problems.size(), 1);
        const QStringList lines = parsed.problems.first().toString().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(!lines[0].isEmpty());
        QCOMPARE(lines[1], QStringLiteral("Line: 2"));
        QCOMPARE(lines[2], QStringLiteral("<Ser_Baud>7</Ser_Par>  and the rest of t"));
    }

    void defaultsAreWrittenExactly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        saveGeneralParameters(path, GeneralParameters{});
        QCOMPARE(readFile(path), kDefaultPargen);
        saveTranslateTable(dir.filePath(QStringLiteral("var.xml")));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("var.xml"))),
                 QByteArray("<TCP_TO_RTU/>\r\n"));
    }

    void saveOverBrokenFileAndIntoMissingFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        QVERIFY(writeFile(path, "<General_Parameter><Ser_Baud>"));
        saveGeneralParameters(path, GeneralParameters{});
        QCOMPARE(readFile(path), kDefaultPargen);
        const QString missing = dir.filePath(QStringLiteral("gone/pargen.xml"));
        try {
            saveGeneralParameters(missing, GeneralParameters{});
            QFAIL("saved into a missing folder");
        } catch (const Error& error) {
            QVERIFY(error.message().startsWith(QStringLiteral("Cannot create file \"") + missing +
                                               u'"'));
        }
    }

    void loadGeneralParameters_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<int>("serBaud");
        QTest::addColumn<int>("serPar");
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<int>("canBaud");
        QTest::addColumn<bool>("rtr");
        const auto row = [](const char* name, const QByteArray& xml, int a, int b, bool c, int d,
                            bool e) { QTest::newRow(name) << xml << a << b << c << d << e; };
        row("defaults written", kDefaultPargen, 7, 0, false, 5, false);
        row("values",
            pargen("<Ser_Baud>3</Ser_Baud><Ser_Par>2</Ser_Par><Can_Type>1</Can_Type>"
                   "<Can_Baud>8</Can_Baud><Can_Enable_RTR>1</Can_Enable_RTR>"),
            3, 2, true, 8, true);
        row("out of range kept for the window",
            pargen("<Ser_Baud>8</Ser_Baud><Ser_Par>-1</Ser_Par>"), 8, -1, false, 5, false);
        row("Ser_Baud abc", pargen("<Ser_Baud>abc</Ser_Baud><Ser_Par>1</Ser_Par>"), 7, 1, false, 5,
            false);
        row("Ser_Baud empty", pargen("<Ser_Baud/><Ser_Par>1</Ser_Par>"), 7, 1, false, 5, false);
        row("Ser_Par missing",
            pargen("<Ser_Baud>1</Ser_Baud><Can_Type>1</Can_Type><Can_Baud>2</Can_Baud>"
                   "<Can_Enable_RTR>1</Can_Enable_RTR>"),
            1, 0, true, 2, true);
        row("Can_Type 2", pargen("<Can_Type>2</Can_Type>"), 7, 0, true, 5, false);
        row("Can_Enable_RTR 2", pargen("<Can_Enable_RTR>2</Can_Enable_RTR>"), 7, 0, false, 5,
            false);
        row("Can_Enable_RTR hex 1", pargen("<Can_Enable_RTR>$1</Can_Enable_RTR>"), 7, 0, false, 5,
            true);
        row("child element instead of text", pargen("<Ser_Baud><x/></Ser_Baud>"), 7, 0, false, 5,
            false);
        row("root of another case", "<general_parameter><Ser_Baud>1</Ser_Baud></general_parameter>",
            7, 0, false, 5, false);
    }

    void loadGeneralParameters()
    {
        QFETCH(QByteArray, xml);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        QVERIFY(writeFile(path, xml));
        const GeneralParameters loaded = quillner::loadGeneralParameters(path);
        QTEST(loaded.Ser_Baud, "serBaud");
        QTEST(loaded.Ser_Par, "serPar");
        QTEST(loaded.canTypeB, "canTypeB");
        QTEST(loaded.Can_Baud, "canBaud");
        QTEST(loaded.Can_Enable_RTR, "rtr");
    }

    void loadMissingAndBroken()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        QCOMPARE(quillner::loadGeneralParameters(path), GeneralParameters{});
        QVERIFY(writeFile(path, "<General_Parameter>"));
        QVERIFY_THROWS_EXCEPTION(Error, quillner::loadGeneralParameters(path));
    }

    // The frame format is the one the device gets: the compiler keeps the low 8 bits of
    // Can_Type, and a Can_Type it cannot read leaves its byte 0.
    void frameFormat_data()
    {
        QTest::addColumn<QByteArray>("xml"); // empty: no file
        QTest::addColumn<bool>("extended");
        QTest::newRow("no file") << QByteArray() << false;
        QTest::newRow("1") << pargen("<Can_Type>1</Can_Type>") << true;
        QTest::newRow("2") << pargen("<Can_Type>2</Can_Type>") << true;
        QTest::newRow("-1") << pargen("<Can_Type>-1</Can_Type>") << true;
        QTest::newRow("256 is 0 to the device") << pargen("<Can_Type>256</Can_Type>") << false;
        QTest::newRow("257") << pargen("<Can_Type>257</Can_Type>") << true;
        QTest::newRow("$100") << pargen("<Can_Type>$100</Can_Type>") << false;
        QTest::newRow("0") << pargen("<Can_Type>0</Can_Type>") << false;
        QTest::newRow("empty") << pargen("<Can_Type/>") << false;
        QTest::newRow("no integer") << pargen("<Can_Type>B</Can_Type>") << false;
        QTest::newRow("missing child") << pargen("<Ser_Baud>1</Ser_Baud>") << false;
        QTest::newRow("missing root")
            << QByteArray("<Other><Can_Type>1</Can_Type></Other>") << false;
    }

    void frameFormat()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, extended);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        if (!xml.isEmpty())
            QVERIFY(writeFile(path, xml));
        QCOMPARE(readFrameFormat(path) == FrameFormat::Extended, extended);
        if (!xml.isEmpty())
            QCOMPARE(quillner::loadGeneralParameters(path).canTypeB, extended);
    }
};

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
