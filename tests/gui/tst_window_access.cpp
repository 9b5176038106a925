#include "gui_support.h"

#include "gui/app/main_window.h"
#include "gui/app/start_up.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include <memory>

using namespace quillner;
using namespace quillner::testing;

namespace {

QString accessibleText(QWidget* widget, QAccessible::Text kind)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(kind) : QString();
}

// A label's text as it is read on the screen: without the markup of a link, without the "&" of
// its Alt key.
QString shownLabelText(const QLabel* label)
{
    QString text = label->text();
    if (label->textFormat() == Qt::RichText ||
        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
        QTextDocument page;
        page.setHtml(text);
        text = page.toPlainText();
    }
    if (label->buddy())
        text.remove(u'&');
    return text;
}

// Where Tab stops in a window: every control of its own that is shown, enabled and takes focus
// from Tab. Exclusive radio buttons are one stop, as the arrow keys move among them.
QString stopName(QWidget* widget)
{
    auto* radio = qobject_cast<QRadioButton*>(widget);
    if (radio && radio->autoExclusive() && radio->parentWidget())
        return QStringLiteral("radio buttons of ") + radio->parentWidget()->objectName();
    return widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                          : widget->objectName();
}

QStringList tabStops(QWidget* window)
{
    QStringList stops;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() == window && widget->isVisible() && widget->isEnabled() &&
            (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy())
            stops << stopName(widget);
    }
    stops.removeDuplicates();
    stops.sort();
    return stops;
}

} // namespace

// Every window used from the keyboard alone and through a screen reader: Tab reaches each of
// its controls, Enter and Escape answer OK and Cancel, and what a control shows is what a
// screen reader says.
class TestWindowAccess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { setUpApplication(); }
    void init()
    {
        m_recorder = std::make_unique<MessageRecorder>();
        m_exe = std::make_unique<ExeFolder>();
        m_exe->write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Line 7\r\n");
        m_exe->makeFolder(QStringLiteral("PROJECTS/Line 7"));
        m_main = std::make_unique<TFmain>(m_exe->path());
    }
    void cleanup()
    {
        m_main.reset();
        m_exe.reset();
        m_recorder.reset();
    }

    // The project label is heard as it is read: "Project: Line 7", not a caption in its place.
    void theProjectIsHeard()
    {
        auto* label = m_main->findChild<QLabel*>(QStringLiteral("ProjectLabel"));
        QCOMPARE(label->text(), QStringLiteral("Project: Line 7"));
        QCOMPARE(accessibleText(label, QAccessible::Name), label->text());
        QVERIFY(!accessibleText(label, QAccessible::Description).isEmpty());
    }

    // A label's name for a screen reader is the text it shows; what it is goes into its
    // description, never into a name that hides the text.
    void everyLabelIsHeardAsItIsShown_data() { windows(); }
    void everyLabelIsHeardAsItIsShown()
    {
        QFETCH(QString, name);
        QWidget* window = find(name);
        window->show();
        int labels = 0;
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->window() != window || label->text().isEmpty())
                continue;
            ++labels;
            QCOMPARE(accessibleText(label, QAccessible::Name), shownLabelText(label));
        }
        QVERIFY(labels > 0 || name == QLatin1String("FSetVar"));
        window->hide();
    }

    void tabReachesEveryControl_data() { windows(); }
    void tabReachesEveryControl()
    {
        QFETCH(QString, name);
        QWidget* window = find(name);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        if (!QApplication::focusWidget())
            QTest::keyClick(window, Qt::Key_Tab);
        QWidget* first = QApplication::focusWidget();
        QVERIFY(first);
        QStringList reached;
        QWidget* focus = first;
        // Round the window once: Tab comes back to where it started.
        for (int step = 0; step < 200; ++step) {
            reached << stopName(focus);
            QTest::keyClick(focus, Qt::Key_Tab);
            focus = QApplication::focusWidget();
            QVERIFY(focus && focus->window() == window);
            if (focus == first)
                break;
        }
        QCOMPARE(focus, first);
        reached.removeDuplicates();
        reached.sort();
        QCOMPARE(reached, tabStops(window));
        window->hide();
    }

    // Enter presses OK from wherever the window starts; Escape cancels, in every dialog.
    void enterAndEscapeAnswerTheDialog_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ok"); // the button Enter presses; none without one
        QTest::newRow("General Parameter") << "Fpargen"
                                           << "bitbtn1";
        QTest::newRow("Filter CAN 2.0A") << "FFilter"
                                         << "bitbtn1";
        QTest::newRow("Filter CAN 2.0B") << "FFilterExt"
                                         << "bitbtn1";
        QTest::newRow("New project") << "Fsaveproj"
                                     << "bitbtn1";
        QTest::newRow("About") << "FAbout"
                               << "BitBtn1";
        QTest::newRow("Set Translate Table") << "FSetVar"
                                             << "bitbtn1";
        QTest::newRow("Generate Firmware") << "FModifyFileSx"
                                           << "";
    }

    void enterAndEscapeAnswerTheDialog()
    {
        QFETCH(QString, name);
        QFETCH(QString, ok);
        auto* dialog = qobject_cast<QDialog*>(find(name));
        QVERIFY(dialog);
        if (!ok.isEmpty()) {
            dialog->show();
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            if (!QApplication::focusWidget())
                QTest::keyClick(dialog, Qt::Key_Tab);
            auto* button = dialog->findChild<QPushButton*>(ok);
            QSignalSpy pressed(button, &QPushButton::clicked);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(pressed.count(), 1);
            dialog->hide();
        }
        dialog->show();
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QSignalSpy rejected(dialog, &QDialog::rejected);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog,
                        Qt::Key_Escape);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dialog->isVisible());
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

QTEST_MAIN(TestWindowAccess)
#include "tst_window_access.moc"
