#include "filter_test_support.h"

#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/id_pattern.h"
#include "core/filters/mask_pattern.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>

#include <algorithm>

using namespace quillner;
using namespace quillner::filtertest;

namespace {

const QString kJ1939 = QStringLiteral("0x18F00400-0x18F0040F 0x18FEEE00-0x18FEEE0F "
                                      "0x18FEF100-0x18FEF10F 0x18FEE500-0x18FEE50F "
                                      "0x18FEFC00-0x18FEFC0F");

QStringList hexRows(int first, int last)
{
    QStringList rows;
    for (int id = first; id <= last; ++id)
        rows << standardIdText(id, NumberBase::Hexadecimal);
    return rows;
}

} // namespace

class TestFilterToolsWindows : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FilterProject> m_project;
    std::unique_ptr<MessageRecorder> m_messages;

    QString countText(QWidget* window) { return control<QLabel>(window, "VisibleCount")->text(); }

private Q_SLOTS:
    void init()
    {
        m_project = std::make_unique<FilterProject>();
        m_messages = std::make_unique<MessageRecorder>();
    }

    void cleanup()
    {
        m_messages.reset();
        m_project.reset();
    }

    void typedIdentifiersHideAndShow()
    {
        TFFilter window(m_project->paths);
        window.show();
        QCOMPARE(countText(&window), QStringLiteral("2048 of 2048 visible"));
        // The entry has its label, so Alt and the label's letter reach it.
        QCOMPARE(control<QLabel>(&window, "Label3")->buddy(),
                 control<QLineEdit>(&window, "IdEdit"));

        typeInto(&window, "IdEdit", QStringLiteral("0x100-0x1FF, 0x7FF"));
        click(&window, "HideIds");
        QCOMPARE(countText(&window), QStringLiteral("1791 of 2048 visible"));
        QCOMPARE(rows(control<QListView>(&window, "ListBox1")), hexRows(0x100, 0x1FF) << "0x07FF");

        typeInto(&window, "IdEdit", QStringLiteral("0x180:0x7F0"));
        click(&window, "ShowIds");
        QCOMPARE(countText(&window), QStringLiteral("1807 of 2048 visible"));
        click(&window, "bitbtn1");
        const Filter20A saved = loadFilter20A(m_project->paths.Filter20APath).value;
        QCOMPARE(saved.IdVisible[0x17F], quint8(0));
        QCOMPARE(saved.IdVisible[0x180], quint8(1));
        QCOMPARE(m_messages->takeErrors(), QStringList{});
    }

    void typedErrorChangesNothing()
    {
        TFFilter window(m_project->paths);
        window.show();
        typeInto(&window, "IdEdit", QStringLiteral("5, 0x800"));
        click(&window, "HideIds");
        QCOMPARE(m_messages->takeErrors(),
                 QStringList{"Column 4: '0x800' is outside the identifiers 0x000 to 0x7FF."});
        QCOMPARE(countText(&window), QStringLiteral("2048 of 2048 visible"));
    }

    void returnInTheEntryKeepsTheWindowOpen()
    {
        TFFilter window(m_project->paths);
        window.show();
        auto* entry = control<QLineEdit>(&window, "IdEdit");
        entry->setFocus();
        entry->setText(QStringLiteral("1"));
        QTest::keyClick(entry, Qt::Key_Return);
        QVERIFY(window.isVisible());
        QVERIFY(!QFile::exists(m_project->paths.Filter20APath));
    }

    void extendedSelectionMovesEverySelected()
    {
        TFFilter window(m_project->paths);
        window.show();
        auto* visible = control<QListView>(&window, "ListBox2");
        QCOMPARE(visible->selectionMode(), QAbstractItemView::ExtendedSelection);
        for (const int row : {3, 4, 10})
            visible->selectionModel()->select(visible->model()->index(row, 0),
                                              QItemSelectionModel::Select);
        click(&window, "LbButton2");
        QCOMPARE(rows(control<QListView>(&window, "ListBox1")),
                 (QStringList{"0x0003", "0x0004", "0x000A"}));
        QCOMPARE(countText(&window), QStringLiteral("2045 of 2048 visible"));
    }

    void cobIdRangesAndDuplicates()
    {
        TFFilterExt window(m_project->paths);
        window.show();
        typeInto(&window, "Edit1", QStringLiteral("0x10-0x12, 5"));
        click(&window, "LbButton1");
        auto* list = control<QListWidget>(&window, "ListBox1");
        QCOMPARE(rows(list), (QStringList{"16", "17", "18", "5"}));
        QCOMPARE(m_messages->takeErrors(), QStringList{});

        typeInto(&window, "Edit1", QStringLiteral("$5"));
        click(&window, "LbButton1");
        QCOMPARE(m_messages->takeErrors(), QStringList{"Error! The ID 5 is already in the list"});
        QCOMPARE(rows(list).size(), 4);

        typeInto(&window, "Edit1", QStringLiteral("100-199"));
        click(&window, "LbButton1");
        QCOMPARE(m_messages->takeErrors(), QStringList{QString::fromLatin1(kAllFilterInUse)});
        QCOMPARE(rows(list).size(), kCobIdListMax);
        QCOMPARE(rows(list).last(), QStringLiteral("158"));
    }

    void idMaskBecomesAPattern()
    {
        TFFilterExt window(m_project->paths);
        window.show();
        click(&window, "RB_Mask_Filter");
        typeInto(&window, "Edit2", QStringLiteral("0x600:0x7F0"));
        click(&window, "LbButton4");
        QCOMPARE(rows(control<QListWidget>(&window, "ListBox2")),
                 QStringList{"xxxxxxxxxxxxxxxxxx1100000xxxx"});
        QCOMPARE(m_messages->takeErrors(), QStringList{});
    }

    void fitShowsTheExtrasFirst_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("no changes nothing") << false;
        QTest::newRow("yes replaces the patterns") << true;
    }

    void fitShowsTheExtrasFirst()
    {
        QFETCH(bool, answer);
        m_messages->answer = answer;
        TFFilterExt window(m_project->paths);
        window.show();
        click(&window, "RB_Mask_Filter");
        typeInto(&window, "Edit2", QStringLiteral("1"));
        click(&window, "LbButton4");
        click(&window, "RB_COB_Filter");
        typeInto(&window, "Edit1", kJ1939);
        click(&window, "FitPatterns");
        QCOMPARE(m_messages->questions(),
                 QStringList{"5 patterns for the 80 identifiers; extra identifiers passed: 0.\n"
                             "Replace the pattern list with these patterns?"});
        auto* patterns = control<QListWidget>(&window, "ListBox2");
        QCOMPARE(control<QRadioButton>(&window, "RB_Mask_Filter")->isChecked(), answer);
        if (!answer) {
            QCOMPARE(rows(patterns), QStringList{PadPattern(QStringLiteral("1"))});
            return;
        }
        QCOMPARE(rows(patterns).size(), 5);
        QVERIFY(rows(patterns).contains(QStringLiteral("1100011111110111100010000xxxx")));
        click(&window, "bitbtn1");
        QCOMPARE(loadFilter20B(m_project->paths.Filter20BPath).value.patterns, rows(patterns));
    }

    // Each filter window says where "Save report..." wrote the page.
    void saveReportSaysWhereItWrote_data()
    {
        QTest::addColumn<bool>("extended");
        QTest::newRow("2.0A") << false;
        QTest::newRow("2.0B") << true;
    }

    void saveReportSaysWhereItWrote()
    {
        QFETCH(bool, extended);
        const QString page = QDir(m_project->dir.path()).filePath(QStringLiteral("page.html"));
        setFileChooser([&](QWidget*, FileChoice, const QString&, const QString&,
                           const QString&) -> std::optional<QString> { return page; });
        std::unique_ptr<QDialog> window;
        if (extended)
            window = std::make_unique<TFFilterExt>(m_project->paths);
        else
            window = std::make_unique<TFFilter>(m_project->paths);
        window->show();
        click(window.get(), "SaveReport");
        setFileChooser({});
        QVERIFY(QFile::exists(page));
        QCOMPARE(m_messages->texts(), QStringList{"Report written: " + page});
    }

    // "ADD" leaves the last identifier in the field: the list is what is fitted, the field only
    // while the list is empty. What OK writes passes every identifier fitted.
    void fitTakesTheListBeforeTheField_data()
    {
        QTest::addColumn<QStringList>("added"); // each typed and added in turn
        QTest::addColumn<QString>("typed");     // in the field when Fit is pressed
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QList<quint32>>("passed");
        QTest::newRow("the last added still in the field")
            << QStringList{"0x18FEF100", "0x0CF00400"} << "0x0CF00400"
            << "2 patterns for the 2 identifiers; extra identifiers passed: 0"
            << QList<quint32>{0x18FEF100, 0x0CF00400};
        QTest::newRow("the list, field emptied")
            << QStringList{"0x100-0x10F"} << ""
            << "1 pattern for the 16 identifiers; extra identifiers passed: 0"
            << QList<quint32>{0x100, 0x10F};
        QTest::newRow("the field, list empty")
            << QStringList{} << "0x18FEF100 0x0CF00400"
            << "2 patterns for the 2 identifiers; extra identifiers passed: 0"
            << QList<quint32>{0x18FEF100, 0x0CF00400};
    }

    void fitTakesTheListBeforeTheField()
    {
        QFETCH(QStringList, added);
        QFETCH(QString, typed);
        QFETCH(QString, summary);
        QFETCH(QList<quint32>, passed);
        m_messages->answer = true;
        TFFilterExt window(m_project->paths);
        window.show();
        for (const QString& ids : added) {
            typeInto(&window, "Edit1", ids);
            click(&window, "LbButton1");
        }
        typeInto(&window, "Edit1", typed);
        click(&window, "FitPatterns");
        QCOMPARE(m_messages->questions(),
                 QStringList{summary + ".\nReplace the pattern list with these patterns?"});
        click(&window, "bitbtn1");
        QCOMPARE(m_messages->takeErrors(), QStringList{});
        const Filter20B saved = loadFilter20B(m_project->paths.Filter20BPath).value;
        QVERIFY(!saved.cobIdFilter);
        for (const quint32 id : passed) {
            const bool passes = std::any_of(
                saved.patterns.begin(), saved.patterns.end(),
                [id](const QString& pattern) { return idPatternOf(pattern).passes(id); });
            QVERIFY2(passes, qPrintable(QString::number(id, 16)));
        }
    }
};

QTEST_MAIN(TestFilterToolsWindows)
#include "tst_filter_tools_windows.moc"
