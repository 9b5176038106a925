#include "core/app/error.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/mask_pattern.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

QString fixture(const char* name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/filters/") + QString::fromLatin1(name);
}

QList<int> hiddenIds(const Filter20A& filter)
{
    QList<int> hidden;
    for (int id = 0; id < kStandardIdCount; ++id) {
        if (!filter.IdVisible[id])
            hidden.append(id);
    }
    return hidden;
}

// Stands for "some parser error" where the parser's own wording does not matter.
const QString kAnyError = QStringLiteral("<any>");

// The error a load returned: none for an empty expectation, any text for kAnyError. A load stops
// at its first problem, so there is one at most.
void compareLoadError(const Problems& problems, const QString& expected)
{
    QVERIFY(problems.size() <= 1);
    const std::optional<QString> actual =
        problems.isEmpty() ? std::nullopt : std::optional<QString>(problems.first().text);
    if (expected.isEmpty())
        QCOMPARE(actual, std::nullopt);
    else if (expected == kAnyError)
        QVERIFY(actual && !actual->isEmpty());
    else
        QCOMPARE(actual.value_or(QString()), expected);
}

} // namespace

class TestFilterDocuments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void loadFilter20A_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<int>>("hidden");
        QTest::addColumn<QString>("error");
        QTest::newRow("no document") << m_dir.filePath("none.xml") << QList<int>{} << "";
        QTest::newRow("fewer children")
            << fixture("filter20a_three_children.xml") << QList<int>{0, 2} << "";
        QTest::newRow("non-zero is visible")
            << fixture("filter20a_child_2.xml") << QList<int>{1} << "";
        QTest::newRow("other names by position")
            << fixture("filter20a_other_names.xml") << QList<int>{0, 2} << "";
        QTest::newRow("declaration, indentation, hex")
            << fixture("filter20a_declaration_indented.xml") << QList<int>{0, 2} << "";
        QTest::newRow("stops at a non-integer")
            << fixture("filter20a_child_3_abc.xml") << QList<int>{0, 1, 2}
            << "'abc' is not a valid integer value";
        QTest::newRow("not well-formed")
            << fixture("filter20a_not_well_formed.xml") << QList<int>{} << kAnyError;
        QTest::newRow("other root")
            << fixture("filter20a_wrong_root.xml") << QList<int>{} << "Element Filter20A not found";
    }

    void loadFilter20A()
    {
        QFETCH(QString, path);
        QFETCH(QList<int>, hidden);
        QFETCH(QString, error);
        const Filter20ALoad loaded = quillner::loadFilter20A(path);
        QCOMPARE(hiddenIds(loaded.value), hidden);
        compareLoadError(loaded.problems, error);
    }

    void loadFilter20AIgnoresChildrenPast2048()
    {
        QByteArray content = "<Filter20A>";
        for (int id = 0; id < kStandardIdCount; ++id)
            content += id == 2047 ? "<filter>0</filter>" : "<filter>1</filter>";
        content += "<filter>abc</filter><filter>0</filter></Filter20A>";
        const QString path = m_dir.filePath("Filter20A.xml");
        QVERIFY(writeFile(path, content));
        const Filter20ALoad loaded = quillner::loadFilter20A(path);
        QCOMPARE(problemLines(loaded.problems), QStringList{});
        QCOMPARE(hiddenIds(loaded.value), QList<int>{2047});
    }

    void saveFilter20A_data()
    {
        QTest::addColumn<QList<int>>("hidden");
        QTest::newRow("all visible") << QList<int>{};
        QTest::newRow("some hidden") << QList<int>{0, 9, 1000, 2047};
    }

    void saveFilter20A()
    {
        QFETCH(QList<int>, hidden);
        Filter20A filter;
        for (const int id : hidden)
            filter.IdVisible[id] = 0;
        QByteArray expected = "<Filter20A>";
        for (int id = 0; id < kStandardIdCount; ++id)
            expected += hidden.contains(id) ? "<filter>0</filter>" : "<filter>1</filter>";
        expected += "</Filter20A>\r\n";

        const QString path = m_dir.filePath("Filter20A.xml");
        quillner::saveFilter20A(path, filter);
        QCOMPARE(readFile(path), expected);
        QCOMPARE(quillner::loadFilter20A(path).value, filter);
    }

    void saveFilter20B_data()
    {
        QTest::addColumn<bool>("cobIdFilter");
        QTest::addColumn<bool>("typePositive");
        QTest::addColumn<QStringList>("cobIds");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QByteArray>("bytes");
        const QStringList ids{QStringLiteral("123"), QStringLiteral("$0000007B")};
        const QStringList example{PadPattern(QStringLiteral("111xxx1010"))};
        QTest::newRow("COB-ID list")
            << true << true << ids << example
            << QByteArray(
                   "<Filter20B><Type>1</Type><Type_Func>1</Type_Func><Num_Frame>2</Num_Frame>"
                   "<Filter><data>123</data><data>$0000007B</data></Filter></Filter20B>\r\n");
        QTest::newRow("COB-ID list, negative, empty")
            << true << false << QStringList{} << example
            << QByteArray(
                   "<Filter20B><Type>1</Type><Type_Func>0</Type_Func><Num_Frame>0</Num_Frame>"
                   "<Filter/></Filter20B>\r\n");
        QTest::newRow("mask patterns")
            << false << false << ids << example
            << QByteArray(
                   "<Filter20B><Type>0</Type><Type_Func>0</Type_Func><Num_Frame>1</Num_Frame>"
                   "<Filter><data>1018</data><data>906</data></Filter></Filter20B>\r\n");
        QTest::newRow("no mask patterns")
            << false << true << ids << QStringList{}
            << QByteArray(
                   "<Filter20B><Type>0</Type><Type_Func>1</Type_Func><Num_Frame>0</Num_Frame>"
                   "<Filter/></Filter20B>\r\n");
    }

    void saveFilter20B()
    {
        QFETCH(bool, cobIdFilter);
        QFETCH(bool, typePositive);
        QFETCH(QStringList, cobIds);
        QFETCH(QStringList, patterns);
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath("Filter20B.xml");
        quillner::saveFilter20B(path, {cobIdFilter, typePositive, cobIds, patterns});
        QCOMPARE(readFile(path), bytes);

        // Reading it back gives the saved list; the mask mode does not carry the filter type.
        const Filter20BLoad loaded = quillner::loadFilter20B(path, {true, !typePositive, {}, {}});
        QCOMPARE(problemLines(loaded.problems), QStringList{});
        QVERIFY(loaded.found);
        QCOMPARE(loaded.value.cobIdFilter, cobIdFilter);
        QCOMPARE(loaded.value.typePositive, cobIdFilter ? typePositive : !typePositive);
        QCOMPARE(loaded.value.cobIds, cobIdFilter ? cobIds : QStringList{});
        QCOMPARE(loaded.value.patterns, cobIdFilter ? QStringList{} : patterns);
    }

    void loadFilter20B_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no document
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("cobIdFilter");
        QTest::addColumn<bool>("typePositive");
        QTest::addColumn<QStringList>("entries"); // of the loaded mode
        QTest::addColumn<QString>("error");
        // Every row starts from the settings "Mask Filter" and "Type Negative".
        QTest::newRow("no document")
            << QByteArray() << false << false << false << QStringList{} << "";
        QTest::newRow("list entries unchanged, any name")
            << QByteArray(
                   "<Filter20B><Type>1</Type><Type_Func>1</Type_Func><Num_Frame>9</Num_Frame>"
                   "<Filter><data>7</data><id>$0000007B</id><data>abc</data></Filter>"
                   "</Filter20B>")
            << true << true << true << QStringList{"7", "$0000007B", "abc"} << "";
        QTest::newRow("Type other than 1 is mask")
            << QByteArray("<Filter20B><Type>01</Type><Type_Func>1</Type_Func>"
                          "<Filter><data>1</data><data>1</data></Filter></Filter20B>")
            << true << false << false << QStringList{BitsToPattern(1, 1)} << "";
        QTest::newRow("odd last mask value ignored")
            << QByteArray("<Filter20B><Type>0</Type><Filter><data>1018</data><data>906</data>"
                          "<data>abc</data></Filter></Filter20B>")
            << true << false << false << QStringList{BitsToPattern(1018, 906)} << "";
        QTest::newRow("mask stops at a non-integer")
            << QByteArray("<Filter20B><Type>0</Type><Filter><data>3</data><data>1</data>"
                          "<data>2</data><data>x2z</data><data>0</data><data>0</data></Filter>"
                          "</Filter20B>")
            << true << false << false << QStringList{BitsToPattern(3, 1)}
            << "'x2z' is not a valid integer value";
        QTest::newRow("mask in hex, high bits ignored")
            << QByteArray("<Filter20B><Type>0</Type><Filter><data>$FFFFFFFF</data><data>0</data>"
                          "</Filter></Filter20B>")
            << true << false << false << QStringList{QString(29, u'x')} << "";
        QTest::newRow("no root") << QByteArray("<Filter20A><Type>1</Type></Filter20A>") << false
                                 << false << false << QStringList{}
                                 << "Element Filter20B not found";
        QTest::newRow("no Type") << QByteArray(
                                        "<Filter20B><Type_Func>1</Type_Func><Filter/></Filter20B>")
                                 << false << false << false << QStringList{}
                                 << "Element Type not found";
        QTest::newRow("list without Type_Func")
            << QByteArray("<Filter20B><Type>1</Type><Filter><data>1</data></Filter></Filter20B>")
            << false << false << false << QStringList{} << "Element Type_Func not found";
        QTest::newRow("no Filter")
            << QByteArray("<Filter20B><Type>1</Type><Type_Func>1</Type_Func></Filter20B>") << false
            << false << false << QStringList{} << "Element Filter not found";
        QTest::newRow("not well-formed") << QByteArray("<Filter20B><Type>1</Type>") << false
                                         << false << false << QStringList{} << kAnyError;
    }

    void loadFilter20B()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, found);
        QFETCH(bool, cobIdFilter);
        QFETCH(bool, typePositive);
        QFETCH(QStringList, entries);
        QFETCH(QString, error);
        const QString path = m_dir.filePath("Filter20B.xml");
        QFile::remove(path);
        if (!content.isNull())
            QVERIFY(writeFile(path, content));

        const Filter20B settings{false, false, {QStringLiteral("9")}, {QStringLiteral("1")}};
        const Filter20BLoad loaded = quillner::loadFilter20B(path, settings);
        QCOMPARE(loaded.found, found);
        QCOMPARE(loaded.value.cobIdFilter, cobIdFilter);
        QCOMPARE(loaded.value.typePositive, typePositive);
        QCOMPARE(cobIdFilter ? loaded.value.cobIds : loaded.value.patterns, entries);
        QCOMPARE(cobIdFilter ? loaded.value.patterns : loaded.value.cobIds, QStringList{});
        compareLoadError(loaded.problems, error);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestFilterDocuments)
#include "tst_filter_documents.moc"
