#include "filter_test_support.h"

#include "core/filters/filter20b.h"
#include "gui/filters/filter20b_window.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>

using namespace quillner;
using namespace quillner::filtertest;

namespace {

const QString kZeros29(29, u'0');
const QString kExample = QStringLiteral("0000000000000000000111xxx1010");

QString symbolRefusal(char symbol)
{
    return QStringLiteral("Error! The simbol '%1' is not supported. You have to use only these "
                          "simbol '1', '0', 'x', 'X'")
        .arg(QLatin1Char(symbol));
}

QByteArray maskDocument(const char* typeFunc, int count, const QByteArray& data)
{
    return QByteArray("<Filter20B><Type>0</Type><Type_Func>") + typeFunc +
           "</Type_Func><Num_Frame>" + QByteArray::number(count) + "</Num_Frame>" +
           (data.isEmpty() ? QByteArray("<Filter/>") : "<Filter>" + data + "</Filter>") +
           "</Filter20B>\r\n";
}

} // namespace

class TestFilter20BWindow : public QObject
{
    Q_OBJECT
private:
    QWidget* window() { return m_window.get(); }
    QListWidget* list(const char* name) { return control<QListWidget>(window(), name); }
    bool checked(const char* name) { return control<QRadioButton>(window(), name)->isChecked(); }
    QByteArray saved() { return readFile(m_project->paths.Filter20BPath); }

    void add(const char* field, const char* button, const QString& text)
    {
        typeInto(window(), field, text);
        click(window(), button);
    }

    void pressOk()
    {
        click(window(), "bitbtn1");
        QVERIFY(!m_window->isVisible());
    }

private Q_SLOTS:
    void init()
    {
        m_project = std::make_unique<FilterProject>();
        m_messages = std::make_unique<MessageRecorder>();
        m_window = std::make_unique<TFFilterExt>(m_project->paths);
    }

    void cleanup()
    {
        m_window.reset();
        m_messages.reset();
        m_project.reset();
    }

    void firstOpeningWithoutDocument()
    {
        m_window->show();
        QVERIFY(checked("RB_COB_Filter"));
        QVERIFY(checked("TypePositive"));
        QVERIFY(checked("DEC"));
        QVERIFY(control<QWidget>(window(), "PCOBF")->isVisible());
        QVERIFY(!control<QWidget>(window(), "PMaskF")->isVisible());
        QCOMPARE(list("ListBox1")->count(), 0);
        QCOMPARE(list("ListBox2")->count(), 0);
        QCOMPARE(m_messages->takeErrors(), QStringList{});
    }

    void settingsPersistWithoutDocument()
    {
        m_window->show();
        add("Edit1", "LbButton1", QStringLiteral("5"));
        click(window(), "HEX");
        click(window(), "TypeNegative");
        click(window(), "RB_Mask_Filter");
        add("Edit2", "LbButton4", QStringLiteral("1"));
        click(window(), "bitbtn2");
        m_window->show();
        QVERIFY(checked("RB_Mask_Filter"));
        QVERIFY(control<QWidget>(window(), "PMaskF")->isVisible());
        QVERIFY(checked("TypeNegative"));
        QVERIFY(checked("HEX"));
        QCOMPARE(list("ListBox1")->count(), 0);
        QCOMPARE(list("ListBox2")->count(), 0);
        QVERIFY(saved().isNull());
    }

    void addIdentifier_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("entry"); // empty: refused with the range message
        QTest::newRow("536870911") << QByteArray("DEC") << "536870911"
                                   << "536870911";
        QTest::newRow("$1FFFFFFF") << QByteArray("DEC") << "$1FFFFFFF"
                                   << "536870911";
        QTest::newRow("0x1FFFFFFF") << QByteArray("HEX") << "0x1FFFFFFF"
                                    << "$1FFFFFFF";
        QTest::newRow("123 in HEX") << QByteArray("HEX") << "123"
                                    << "$0000007B";
        QTest::newRow("536870912") << QByteArray("DEC") << "536870912"
                                   << "";
        QTest::newRow("-1") << QByteArray("HEX") << "-1"
                            << "";
        QTest::newRow("1F") << QByteArray("HEX") << "1F"
                            << "";
    }

    void addIdentifier()
    {
        QFETCH(QByteArray, base);
        QFETCH(QString, typed);
        QFETCH(QString, entry);
        m_window->show();
        click(window(), base.constData());
        add("Edit1", "LbButton1", QStringLiteral("7"));
        add("Edit1", "LbButton1", typed);
        const QStringList before{base == "HEX" ? QStringLiteral("$00000007") : QStringLiteral("7")};
        if (entry.isEmpty()) {
            QCOMPARE(
                m_messages->takeErrors(),
                QStringList{"Error! The value must be a integer from 0x00000000 to 0x1FFFFFFF"});
            QCOMPARE(rows(list("ListBox1")), before);
        } else {
            QCOMPARE(m_messages->takeErrors(), QStringList{});
            QCOMPARE(rows(list("ListBox1")), before + QStringList{entry});
        }
        QCOMPARE(control<QLineEdit>(window(), "Edit1")->text(), typed);
    }

    void baseConversionRoundTrip()
    {
        m_window->show();
        click(window(), "HEX");
        add("Edit1", "LbButton1", QStringLiteral("123"));
        add("Edit1", "LbButton1", QStringLiteral("0x1FFFFFFF"));
        QCOMPARE(rows(list("ListBox1")), (QStringList{"$0000007B", "$1FFFFFFF"}));
        list("ListBox1")->item(1)->setSelected(true);
        click(window(), "DEC");
        QCOMPARE(rows(list("ListBox1")), (QStringList{"123", "536870911"}));
        click(window(), "HEX");
        QCOMPARE(rows(list("ListBox1")), (QStringList{"$0000007B", "$1FFFFFFF"}));
        QVERIFY(list("ListBox1")->item(1)->isSelected());
    }

    void conversionStopsAtNonInteger()
    {
        QVERIFY(
            writeFile(m_project->paths.Filter20BPath,
                      "<Filter20B><Type>1</Type><Type_Func>1</Type_Func><Filter><data>$10</data>"
                      "<data>abc</data><data>$20</data></Filter></Filter20B>"));
        m_window->show();
        click(window(), "HEX");
        QCOMPARE(m_messages->takeErrors(), QStringList{"'abc' is not a valid integer value."});
        QCOMPARE(rows(list("ListBox1")), (QStringList{"$00000010", "abc", "$20"}));
    }

    void listLimits_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("limit");
        QTest::newRow("63 identifiers") << QByteArray("RB_COB_Filter") << QByteArray("Edit1")
                                        << QByteArray("LbButton1") << QByteArray("ListBox1") << 63;
        QTest::newRow("10 patterns") << QByteArray("RB_Mask_Filter") << QByteArray("Edit2")
                                     << QByteArray("LbButton4") << QByteArray("ListBox2") << 10;
    }

    void listLimits()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, button);
        QFETCH(QByteArray, list);
        QFETCH(int, limit);
        m_window->show();
        click(window(), mode.constData());
        // Identifiers must differ, as a listed one is refused; patterns may repeat.
        const bool identifiers = list == "ListBox1";
        for (int count = 0; count < limit; ++count)
            add(field.constData(), button.constData(),
                identifiers ? QString::number(count) : QStringLiteral("1"));
        QCOMPARE(m_messages->takeErrors(), QStringList{});
        QCOMPARE(this->list(list.constData())->count(), limit);
        add(field.constData(), button.constData(), QStringLiteral("1"));
        QCOMPARE(m_messages->takeErrors(), QStringList{"Error! All filter in use"});
        QCOMPARE(this->list(list.constData())->count(), limit);
    }

    void addPattern_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("example") << "111xxx1010" << kExample << "";
        QTest::newRow("upper-case X kept") << "111XXX1010" << kZeros29.left(19) + "111XXX1010"
                                           << "";
        QTest::newRow("empty field") << "" << kZeros29 << "";
        QTest::newRow("11a0") << "11a0"
                              << "" << symbolRefusal('a');
        QTest::newRow("12") << "12"
                            << "" << symbolRefusal('2');
    }

    void addPattern()
    {
        QFETCH(QString, typed);
        QFETCH(QString, listed);
        QFETCH(QString, refusal);
        m_window->show();
        click(window(), "RB_Mask_Filter");
        add("Edit2", "LbButton4", typed);
        QCOMPARE(m_messages->takeErrors(),
                 refusal.isEmpty() ? QStringList{} : QStringList{refusal});
        QCOMPARE(rows(list("ListBox2")), listed.isEmpty() ? QStringList{} : QStringList{listed});
    }

    void maskSaveAndReload_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QByteArray>("typeButton");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("reloaded");
        QTest::newRow("example") << QStringList{"111xxx1010"} << QByteArray("TypePositive")
                                 << maskDocument("1", 1, "<data>1018</data><data>906</data>")
                                 << QStringList{kExample};
        QTest::newRow("upper-case X reloads lower-case")
            << QStringList{"111XXX1010"} << QByteArray("TypePositive")
            << maskDocument("1", 1, "<data>1018</data><data>906</data>") << QStringList{kExample};
        QTest::newRow("empty field, negative type")
            << QStringList{""} << QByteArray("TypeNegative")
            << maskDocument("0", 1, "<data>0</data><data>0</data>") << QStringList{kZeros29};
        QTest::newRow("no patterns") << QStringList{} << QByteArray("TypePositive")
                                     << maskDocument("1", 0, {}) << QStringList{};
    }

    void maskSaveAndReload()
    {
        QFETCH(QStringList, typed);
        QFETCH(QByteArray, typeButton);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, reloaded);
        m_window->show();
        // The filter type is chosen on the COB-ID panel and written in mask mode too.
        click(window(), typeButton.constData());
        click(window(), "RB_Mask_Filter");
        for (const QString& pattern : typed)
            add("Edit2", "LbButton4", pattern);
        pressOk();
        QCOMPARE(saved(), bytes);

        click(window(), "RB_COB_Filter");
        m_window->show();
        QVERIFY(checked("RB_Mask_Filter"));
        QVERIFY(control<QWidget>(window(), "PMaskF")->isVisible());
        QVERIFY(!control<QWidget>(window(), "PCOBF")->isVisible());
        QCOMPARE(rows(list("ListBox2")), reloaded);
        QCOMPARE(m_messages->takeErrors(), QStringList{});
    }

    void cobIdSaveExactBytes()
    {
        // Entries keep the form they were stored in, whatever the display base.
        QVERIFY(writeFile(m_project->paths.Filter20BPath,
                          "<?xml version=\"1.0\"?>\r\n<Filter20B>\r\n  <Type>1</Type>\r\n"
                          "  <Type_Func>1</Type_Func>\r\n  <Num_Frame>7</Num_Frame>\r\n"
                          "  <Filter>\r\n    <data>123</data>\r\n    <data>$0000007B</data>\r\n"
                          "  </Filter>\r\n</Filter20B>\r\n"));
        m_window->show();
        QCOMPARE(rows(list("ListBox1")), (QStringList{"123", "$0000007B"}));
        pressOk();
        QCOMPARE(saved(), QByteArray("<Filter20B><Type>1</Type><Type_Func>1</Type_Func>"
                                     "<Num_Frame>2</Num_Frame><Filter><data>123</data>"
                                     "<data>$0000007B</data></Filter></Filter20B>\r\n"));
    }

    void negativeTypeSaveAndReload()
    {
        m_window->show();
        add("Edit1", "LbButton1", QStringLiteral("291"));
        click(window(), "TypeNegative");
        pressOk();
        QCOMPARE(saved(), QByteArray("<Filter20B><Type>1</Type><Type_Func>0</Type_Func>"
                                     "<Num_Frame>1</Num_Frame><Filter><data>291</data></Filter>"
                                     "</Filter20B>\r\n"));
        click(window(), "TypePositive");
        click(window(), "RB_Mask_Filter");
        m_window->show();
        QVERIFY(checked("RB_COB_Filter"));
        QVERIFY(checked("TypeNegative"));
        QCOMPARE(rows(list("ListBox1")), QStringList{"291"});
    }

    void deleteSelectedEntry_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("addButton");
        QTest::addColumn<QByteArray>("deleteButton");
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("identifier")
            << QByteArray("RB_COB_Filter") << QByteArray("Edit1") << QByteArray("LbButton1")
            << QByteArray("LbButton2") << QByteArray("ListBox1");
        QTest::newRow("pattern") << QByteArray("RB_Mask_Filter") << QByteArray("Edit2")
                                 << QByteArray("LbButton4") << QByteArray("LbButton5")
                                 << QByteArray("ListBox2");
    }

    void deleteSelectedEntry()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, addButton);
        QFETCH(QByteArray, deleteButton);
        QFETCH(QByteArray, list);
        m_window->show();
        click(window(), mode.constData());
        for (const char* text : {"1", "10", "11"})
            add(field.constData(), addButton.constData(), QString::fromLatin1(text));
        QListWidget* entries = this->list(list.constData());
        const QStringList all = rows(entries);
        click(window(), deleteButton.constData());
        QCOMPARE(rows(entries), all);
        entries->item(1)->setSelected(true);
        click(window(), deleteButton.constData());
        QCOMPARE(rows(entries), (QStringList{all[0], all[2]}));
        QCOMPARE(m_messages->takeErrors(), QStringList{});
    }

    void patternToolTipAndFont()
    {
        QVERIFY(writeFile(m_project->paths.Filter20BPath,
                          maskDocument("1", 1, "<data>1018</data><data>906</data>")));
        m_window->show();
        add("Edit2", "LbButton4", QStringLiteral("1x"));
        QListWidget* patterns = list("ListBox2");
        QCOMPARE(patterns->item(0)->toolTip(), QStringLiteral("0x0000038A/0x1FFFFF8F"));
        QCOMPARE(patterns->item(1)->toolTip(), QStringLiteral("0x00000002/0x1FFFFFFE"));
        // The patterns line up: every symbol has the same width.
        const QFontMetrics metrics(patterns->font());
        const int ones = metrics.horizontalAdvance(QString(29, u'1'));
        QCOMPARE(metrics.horizontalAdvance(QString(29, u'x')), ones);
        QCOMPARE(metrics.horizontalAdvance(QString(29, u'X')), ones);
        QCOMPARE(metrics.horizontalAdvance(QString(29, u'0')), ones);
    }

    // Beside each pattern how many identifiers it passes, and below them how many they pass
    // together (an identifier two patterns pass counted once).
    void patternsShowHowManyIdsTheyPass()
    {
        m_window->show();
        click(window(), "RB_Mask_Filter");
        auto* total = control<QLabel>(window(), "PatternTotal");
        QCOMPARE(total->text(), QStringLiteral("No pattern: every extended ID passes"));
        add("Edit2", "LbButton4", QStringLiteral("111xxx1010"));
        add("Edit2", "LbButton4", QStringLiteral("11xxxx1010"));
        add("Edit2", "LbButton4", QStringLiteral("1"));
        QListWidget* patterns = list("ListBox2");
        QStringList counts;
        for (int row = 0; row < patterns->count(); ++row)
            counts << patterns->item(row)->data(Qt::UserRole + 1).toString();
        QCOMPARE(counts, QStringList({"8", "16", "1"}));
        QCOMPARE(total->text(), QStringLiteral("Together they pass 17 IDs"));
        QCOMPARE(patterns->item(0)->data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("0000000000000000000111xxx1010, passes 8 IDs"));
        // The count is drawn at the item's right end; the item's text stays the pattern.
        QCOMPARE(patterns->item(1)->text(), QStringLiteral("000000000000000000011xxxx1010"));
        const QImage image = m_window->grab().toImage();
        const QRect item =
            patterns->visualItemRect(patterns->item(1))
                .translated(patterns->viewport()->mapTo(m_window.get(), QPoint(0, 0)));
        bool drawn = false;
        for (int x = item.right() - 20; x < item.right() && !drawn; ++x) {
            for (int y = item.top(); y <= item.bottom() && !drawn; ++y)
                drawn = QColor(image.pixel(x, y)) != QColor(image.pixel(item.right(), y));
        }
        QVERIFY(drawn);
        patterns->item(1)->setSelected(true);
        click(window(), "LbButton5");
        QCOMPARE(total->text(), QStringLiteral("Together they pass 9 IDs"));
        m_window->show();
    }

    void unreadableDocument_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // "*": the parser's error, in its own words
        QTest::addColumn<QStringList>("patterns");
        QTest::newRow("not well-formed")
            << QByteArray("<Filter20B><Type>0</Type>") << "*" << QStringList{};
        QTest::newRow("no Type") << QByteArray("<Filter20B><Filter/></Filter20B>")
                                 << "Element Type not found." << QStringList{};
        QTest::newRow("mask value no integer")
            << maskDocument("1", 2, "<data>1018</data><data>906</data><data>1</data><data>?</data>")
            << "'?' is not a valid integer value." << QStringList{kExample};
    }

    void unreadableDocument()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(QStringList, patterns);
        QVERIFY(writeFile(m_project->paths.Filter20BPath, content));
        m_window->show();
        add("Edit1", "LbButton1", QStringLiteral("5"));
        click(window(), "bitbtn2");
        m_window->show();
        const QStringList errors = m_messages->takeErrors();
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0], errors[1]);
        if (error == u'*')
            QVERIFY(errors[0].contains(QStringLiteral("\nLine: ")));
        else
            QCOMPARE(errors[0], error);
        QCOMPARE(rows(list("ListBox1")), QStringList{});
        QCOMPARE(rows(list("ListBox2")), patterns);
        QCOMPARE(checked("RB_Mask_Filter"), !patterns.isEmpty());
        QVERIFY(m_window->isVisible());
    }

    void enterInFieldAdds_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("entry");
        QTest::newRow("identifier")
            << QByteArray("RB_COB_Filter") << QByteArray("Edit1") << QByteArray("ListBox1") << "7";
        QTest::newRow("pattern") << QByteArray("RB_Mask_Filter") << QByteArray("Edit2")
                                 << QByteArray("ListBox2") << kZeros29.left(28) + u'1';
    }

    void enterInFieldAdds()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, list);
        QFETCH(QString, entry);
        m_window->show();
        click(window(), mode.constData());
        auto* edit = control<QLineEdit>(window(), field.constData());
        edit->setText(entry.right(1));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(rows(this->list(list.constData())), QStringList{entry});
        QVERIFY(m_window->isVisible());
        QVERIFY(saved().isNull());
    }

    void cancelWritesNothing()
    {
        m_window->show();
        add("Edit1", "LbButton1", QStringLiteral("5"));
        click(window(), "bitbtn2");
        QVERIFY(!m_window->isVisible());
        QVERIFY(saved().isNull());
    }

    void failedSaveKeepsWindowOpen()
    {
        AppPaths paths = m_project->paths;
        paths.Filter20BPath = joinPath(m_project->dir.filePath(QStringLiteral("gone")),
                                       QStringLiteral("Filter20B.xml"));
        TFFilterExt other(paths);
        other.show();
        typeInto(&other, "Edit1", QStringLiteral("5"));
        click(&other, "LbButton1");
        click(&other, "bitbtn1");
        const QStringList errors = m_messages->takeErrors();
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QStringLiteral("Cannot create file")));
        QVERIFY(other.isVisible());
        QCOMPARE(rows(control<QListWidget>(&other, "ListBox1")), QStringList{"5"});
    }

private:
    std::unique_ptr<FilterProject> m_project;
    std::unique_ptr<MessageRecorder> m_messages;
    std::unique_ptr<TFFilterExt> m_window;
};

QTEST_MAIN(TestFilter20BWindow)
#include "tst_filter20b_window.moc"
