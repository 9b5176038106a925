#include "gui/app/main_window.h"
#include "gui/app/start_up.h"
#include "gui/app/window_look.h"
#include "gui_support.h"

#include <QApplication>
#include <QDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace quillner;
using namespace quillner::testing;

namespace {

// The push and tool buttons that belong to the window itself, not to a window it owns.
QList<QAbstractButton*> buttonsOf(QWidget* window)
{
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        const bool pressable =
            qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button);
        if (pressable && button->window() == window)
            buttons << button;
    }
    return buttons;
}

QPoint centredPlace(const QWidget* window)
{
    const QRect area = window->screen()->availableGeometry();
    return {area.x() + (area.width() - window->width()) / 2,
            area.y() + (area.height() - window->height()) / 2};
}

} // namespace

// What every window of the tool does alike: the logo as its icon, centred at each showing,
// Alt keys on its buttons and Return on a focused button.
class TestDesktopHabits : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUpApplication(); }
    void init()
    {
        m_recorder = std::make_unique<MessageRecorder>();
        m_exe = std::make_unique<ExeFolder>();
        m_main = std::make_unique<TFmain>(m_exe->path());
    }
    void cleanup()
    {
        m_main.reset();
        m_exe.reset();
        m_recorder.reset();
    }

    void everyWindowHasTheLogoAsItsIcon_data() { windows(); }
    void everyWindowHasTheLogoAsItsIcon()
    {
        QFETCH(QString, name);
        QWidget* window = find(name);
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(window->windowIcon().pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
                 logoImage(32).convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("quillner"));
    }

    void generateFirmwareSitsAtTheSamePlaceEachShowing()
    {
        QWidget* window = find(QStringLiteral("FModifyFileSx"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QPoint first = window->pos();
        window->close();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->pos(), first);
        QCOMPARE(window->pos(), centredPlace(window));
        window->close();
    }

    void everyWindowIsCentredEachTimeItIsShown_data() { windows(); }
    void everyWindowIsCentredEachTimeItIsShown()
    {
        QFETCH(QString, name);
        QWidget* window = find(name);
        for (int showing = 1; showing <= 2; ++showing) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QCOMPARE(window->pos(), centredPlace(window));
            // Moved away by the user: the next showing is centred again.
            window->move(window->pos() + QPoint(37, -23));
            window->hide();
        }
    }

    void everyButtonHasAnAltKeyOfItsOwn_data() { windows(); }
    void everyButtonHasAnAltKeyOfItsOwn()
    {
        QFETCH(QString, name);
        QWidget* window = find(name);
        QHash<QWidget*, QList<QKeySequence>> keysByPanel;
        for (QAbstractButton* button : buttonsOf(window)) {
            const QKeySequence key = button->shortcut();
            QVERIFY2(!key.isEmpty(), qPrintable(button->objectName()));
            if (button->text().contains(u'&'))
                QCOMPARE(key, QKeySequence::mnemonic(button->text()));
            // Buttons of one panel are visible together, so their keys must differ.
            QList<QKeySequence>& keys = keysByPanel[button->parentWidget()];
            QVERIFY2(!keys.contains(key), qPrintable(button->objectName()));
            keys << key;
        }
        QVERIFY(!keysByPanel.isEmpty());
    }

    void mainWindowCaptionsReadAsBefore_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QKeySequence>("key");
        QTest::newRow("New project") << "New"
                                     << "New project" << QKeySequence("Alt+N");
        QTest::newRow("Open project") << "open"
                                      << "Open project" << QKeySequence("Alt+O");
        QTest::newRow("General Parameter") << "btn_Prm_Gen"
                                           << "General Parameter" << QKeySequence("Alt+G");
        QTest::newRow("Filter") << "btn_Filter"
                                << "Filter" << QKeySequence("Alt+F");
        QTest::newRow("Update Device") << "CreateBin"
                                       << "Update Device" << QKeySequence("Alt+U");
        QTest::newRow("About") << "about"
                               << "About" << QKeySequence("Alt+A");
        QTest::newRow("X") << "LbButton1"
                           << "X" << QKeySequence("Alt+X");
    }
    void mainWindowCaptionsReadAsBefore()
    {
        QFETCH(QString, button);
        QFETCH(QString, shown);
        QFETCH(QKeySequence, key);
        auto* control = m_main->findChild<QAbstractButton*>(button);
        QVERIFY(control);
        QCOMPARE(shownText(control), shown);
        QCOMPARE(control->shortcut(), key);
    }

    void returnPressesTheFocusedButton_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("button");
        // Buttons that are no auto-default button of a dialog, and one that is.
        QTest::newRow("main window, X") << "Fmain"
                                        << "LbButton1";
        QTest::newRow("Generate Firmware, X") << "FModifyFileSx"
                                              << "LbButton1";
        QTest::newRow("CAN 2.0B, DELETE") << "FFilterExt"
                                          << "LbButton2";
        QTest::newRow("CAN 2.0A, ALL") << "FFilter"
                                       << "LbButton3";
        QTest::newRow("About, OK") << "FAbout"
                                   << "BitBtn1";
    }
    void returnPressesTheFocusedButton()
    {
        QFETCH(QString, name);
        QFETCH(QString, button);
        QWidget* window = find(name);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto* control = window->findChild<QPushButton*>(button);
        QVERIFY(control);
        control->setFocus();
        QVERIFY(control->hasFocus());
        QSignalSpy clicked(control, &QPushButton::clicked);
        QTest::keyClick(control, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        window->hide();
    }

    void notationIsExplainedOnHover_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("says");
        QTest::newRow(">>") << "FFilter"
                            << "LbButton1"
                            << "visible";
        QTest::newRow("<<") << "FFilter"
                            << "LbButton2"
                            << "Hide";
        QTest::newRow("ALL") << "FFilter"
                             << "LbButton3"
                             << "all 2048 IDs visible";
        QTest::newRow("NONE") << "FFilter"
                              << "LbButton4"
                              << "Hide all 2048 IDs";
        QTest::newRow("COB-ID entry") << "FFilterExt"
                                      << "Edit1"
                                      << "$7B";
        QTest::newRow("pattern entry") << "FFilterExt"
                                       << "Edit2"
                                       << "x = either value";
        QTest::newRow("pattern list") << "FFilterExt"
                                      << "ListBox2"
                                      << "bits 28 down to 0";
    }
    void notationIsExplainedOnHover()
    {
        QFETCH(QString, name);
        QFETCH(QString, control);
        QFETCH(QString, says);
        auto* widget = find(name)->findChild<QWidget*>(control);
        QVERIFY(widget);
        QVERIFY2(widget->toolTip().contains(says), qPrintable(widget->toolTip()));
    }

private:
    static void windows()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"Fmain", "FAbout", "Fsaveproj", "Fpargen", "FSetVar", "FFilter",
                                 "FFilterExt", "FModifyFileSx"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    QWidget* find(const QString& name) const
    {
        if (name == m_main->objectName())
            return m_main.get();
        auto* dialog = m_main->findChild<QDialog*>(name);
        if (!dialog)
            qFatal("no window %s", qPrintable(name));
        return dialog;
    }

    std::unique_ptr<MessageRecorder> m_recorder;
    std::unique_ptr<ExeFolder> m_exe;
    std::unique_ptr<TFmain> m_main;
};

QTEST_MAIN(TestDesktopHabits)
#include "tst_desktop_habits.moc"
