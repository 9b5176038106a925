#include "filter_test_support.h"

#include "core/filters/filter20a.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/identifier_map.h"

#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QTest>
#include <QToolTip>

using namespace quillner;
using namespace quillner::filtertest;

// The 2.0A window's map: 2048 cells, one per identifier, in step with the two lists.
class TestIdentifierMap : public QObject
{
    Q_OBJECT
private:
    IdentifierMap* map() { return control<IdentifierMap>(m_window.get(), "IdentifierMap"); }
    QStringList hidden() { return rows(control<QListView>(m_window.get(), "ListBox1")); }
    QPoint centre(int id) { return map()->cellRect(id).center(); }

    void hide(const QList<int>& ids)
    {
        Filter20A filter;
        for (const int id : ids)
            filter.IdVisible[id] = 0;
        saveFilter20A(m_project->paths.Filter20APath, filter);
    }

private Q_SLOTS:
    void init()
    {
        m_project = std::make_unique<FilterProject>();
        m_messages = std::make_unique<MessageRecorder>();
        m_window = std::make_unique<TFFilter>(m_project->paths);
    }

    void cleanup()
    {
        m_window.reset();
        m_messages.reset();
        m_project.reset();
    }

    // 32 cells a row, 64 rows: identifier 0x000 at the top left, 0x7FF at the bottom right, one
    // row for each 0x20.
    void oneCellForEachIdentifier()
    {
        m_window->show();
        QCOMPARE(IdentifierMap::kColumns * IdentifierMap::kRows, 2048);
        QCOMPARE(IdentifierMap::kColumns, 32);
        QSet<int> found;
        for (int id = 0; id < kStandardIdCount; ++id) {
            const QRect cell = map()->cellRect(id);
            QVERIFY(map()->rect().contains(cell));
            QCOMPARE(map()->identifierAt(cell.center()), id);
            found.insert(map()->identifierAt(cell.topLeft()));
        }
        QCOMPARE(found.size(), kStandardIdCount);
        QCOMPARE(map()->cellRect(0x20).left(), map()->cellRect(0).left());
        QVERIFY(map()->cellRect(0x20).top() > map()->cellRect(0x1F).top());
        QCOMPARE(map()->cellRect(0x7FF).bottom(), map()->cellRect(0x7E0).bottom());
        QCOMPARE(map()->identifierAt(QPoint(0, 0)), -1);
    }

    // Visible and hidden cells are drawn in their two colours.
    void drawsVisibleAndHiddenApart()
    {
        hide({0x123, 0x7FF});
        m_window->show();
        const QImage image = map()->grab().toImage();
        for (const int id : {0x000, 0x122, 0x124, 0x400})
            QCOMPARE(QColor(image.pixel(centre(id))), IdentifierMap::kVisibleColour);
        for (const int id : {0x123, 0x7FF})
            QCOMPARE(QColor(image.pixel(centre(id))), IdentifierMap::kHiddenColour);
        QVERIFY(IdentifierMap::kVisibleColour.lightness() + 60 <
                IdentifierMap::kHiddenColour.lightness());
    }

    void clickTurnsACellOverAndTheListsFollow()
    {
        m_window->show();
        QTest::mouseClick(map(), Qt::LeftButton, {}, centre(0x123));
        QCOMPARE(hidden(), QStringList{QStringLiteral("0x0123")});
        QVERIFY(!map()->identifierVisible(0x123));
        QCOMPARE(control<QLabel>(m_window.get(), "VisibleCount")->text(),
                 QStringLiteral("2047 of 2048 visible"));
        QTest::mouseClick(map(), Qt::LeftButton, {}, centre(0x123));
        QCOMPARE(hidden(), QStringList());
        click(m_window.get(), "bitbtn1");
        QCOMPARE(loadFilter20A(m_project->paths.Filter20APath).value, Filter20A{});
    }

    // A drag gives every cell it passes the new state of the first, even when the pointer skips
    // cells between two moves.
    void dragSetsEveryCellItPasses()
    {
        hide({0x105});
        m_window->show();
        QTest::mousePress(map(), Qt::LeftButton, {}, centre(0x100));
        QTest::mouseMove(map(), centre(0x104));
        QTest::mouseMove(map(), centre(0x10A));
        QTest::mouseRelease(map(), Qt::LeftButton, {}, centre(0x10A));
        QStringList expected;
        for (int id = 0x100; id <= 0x10A; ++id)
            expected << standardIdText(id, NumberBase::Hexadecimal);
        QCOMPARE(hidden(), expected);
        QVERIFY(map()->accessibleDescription().startsWith(QStringLiteral("2037 of 2048 visible.")));
        // The other way: a drag that starts on a hidden cell shows.
        QTest::mousePress(map(), Qt::LeftButton, {}, centre(0x102));
        QTest::mouseRelease(map(), Qt::LeftButton, {}, centre(0x102 + 0x40 * 2));
        QVERIFY(map()->identifierVisible(0x102));
        QVERIFY(map()->identifierVisible(0x102 + 0x40 * 2));
        QVERIFY(!map()->identifierVisible(0x103));
    }

    void listsDriveTheMap()
    {
        m_window->show();
        click(m_window.get(), "LbButton4"); // NONE
        for (int id = 0; id < kStandardIdCount; ++id)
            QVERIFY(!map()->identifierVisible(id));
        typeInto(m_window.get(), "IdEdit", QStringLiteral("0x7DF"));
        click(m_window.get(), "ShowIds");
        QVERIFY(map()->identifierVisible(0x7DF));
        QVERIFY(!map()->identifierVisible(0x7DE));
        // Cancel and reopen: the map shows the document again.
        click(m_window.get(), "bitbtn2");
        m_window->show();
        QVERIFY(map()->identifierVisible(0x7DE));
    }

    void tooltipNamesTheIdentifierUnderThePointer()
    {
        hide({0x123});
        m_window->show();
        QCOMPARE(map()->identifierDescription(0x123), QStringLiteral("0x0123 (291): hidden"));
        QCOMPARE(map()->identifierDescription(0x7FF), QStringLiteral("0x07FF (2047): visible"));
        QHelpEvent help(QEvent::ToolTip, centre(0x123), map()->mapToGlobal(centre(0x123)));
        QVERIFY(QCoreApplication::sendEvent(map(), &help));
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("0x0123 (291): hidden"));
    }

    // From the keyboard: the arrows move the cursor cell, Space turns it over; a screen reader
    // is told the map's name, the count and the cell under the cursor.
    void keyboardAndAssistants()
    {
        m_window->show();
        map()->setFocus();
        QCOMPARE(map()->accessibleName(), QStringLiteral("Identifier map"));
        QTest::keyClick(map(), Qt::Key_Right);
        QTest::keyClick(map(), Qt::Key_Down);
        QCOMPARE(map()->cursorIdentifier(), 0x21);
        QTest::keyClick(map(), Qt::Key_Space);
        QCOMPARE(hidden(), QStringList{QStringLiteral("0x0021")});
        QVERIFY2(map()->accessibleDescription().startsWith(
                     QStringLiteral("2047 of 2048 visible. Cursor on 0x0021 (33): hidden.")),
                 qPrintable(map()->accessibleDescription()));
        QTest::keyClick(map(), Qt::Key_End);
        QCOMPARE(map()->cursorIdentifier(), 0x7FF);
        QTest::keyClick(map(), Qt::Key_Right);
        QCOMPARE(map()->cursorIdentifier(), 0x7FF);
    }

private:
    std::unique_ptr<FilterProject> m_project;
    std::unique_ptr<MessageRecorder> m_messages;
    std::unique_ptr<TFFilter> m_window;
};

QTEST_MAIN(TestIdentifierMap)
#include "tst_identifier_map.moc"
