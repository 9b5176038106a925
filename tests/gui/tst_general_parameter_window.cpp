#include "gui_support.h"

#include "core/app/app_paths.h"
#include "gui/documents/general_parameter_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace quillner;

namespace {

// The paths of a run that restored the project Alpha: the window saves into a project only.
AppPaths projectAlpha(const ExeFolder& exe)
{
    exe.write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Alpha\r\n");
    exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
    AppPaths paths;
    ResolveAppPaths(paths, exe.path());
    return paths;
}

QByteArray pargen(const QByteArray& children)
{
    return "<General_Parameter>" + children + "</General_Parameter>";
}

QByteArray saved(const char* serBaud, const char* serPar, const char* canType, const char* canBaud,
                 const char* rtr)
{
    return pargen(QByteArray("<Ser_Baud>") + serBaud + "</Ser_Baud><Ser_Par>" + serPar +
                  "</Ser_Par><Can_Type>" + canType + "</Can_Type><Can_Baud>" + canBaud +
                  "</Can_Baud><Can_Enable_RTR>" + rtr + "</Can_Enable_RTR>") +
           "\r\n";
}

struct Shown
{
    QString serBaud, serPar, canType, canBaud;
    bool rtr;
};

Shown shownBy(TFpargen& window)
{
    const auto text = [&](const char* name) {
        return window.findChild<QComboBox*>(QString::fromLatin1(name))->currentText();
    };
    const bool b = window.findChild<QRadioButton*>(QStringLiteral("RB_CAN_B"))->isChecked();
    const bool a = window.findChild<QRadioButton*>(QStringLiteral("RB_CAN_A"))->isChecked();
    return {text("CB_Ser_Baud"), text("CB_Ser_Par"),
            a && !b ? QStringLiteral("A") : (b && !a ? QStringLiteral("B") : QStringLiteral("?")),
            text("CB_CAN_Baud"),
            window.findChild<QCheckBox*>(QStringLiteral("CB_CAN_Enable_RTR"))->isChecked()};
}

} // namespace

class TestGeneralParameterWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadShowSave_data()
    {
        QTest::addColumn<QByteArray>("document"); // empty: no pargen.xml
        QTest::addColumn<QString>("serBaud");
        QTest::addColumn<QString>("serPar");
        QTest::addColumn<QString>("canType");
        QTest::addColumn<QString>("canBaud");
        QTest::addColumn<bool>("rtr");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("no document") << QByteArray() << "115200"
                                     << "None"
                                     << "A"
                                     << "250" << false << saved("7", "0", "0", "5", "0");
        QTest::newRow("all set") << saved("3", "2", "1", "8", "1") << "9600"
                                 << "Even"
                                 << "B"
                                 << "1000" << true << saved("3", "2", "1", "8", "1");
        QTest::newRow("Ser_Baud 8 selects nothing")
            << pargen("<Ser_Baud>8</Ser_Baud>") << ""
            << "None"
            << "A"
            << "250" << false << saved("-1", "0", "0", "5", "0");
        QTest::newRow("Ser_Baud -1 selects nothing")
            << pargen("<Ser_Baud>-1</Ser_Baud>") << ""
            << "None"
            << "A"
            << "250" << false << saved("-1", "0", "0", "5", "0");
        QTest::newRow("Ser_Baud abc")
            << pargen("<Ser_Baud>abc</Ser_Baud><Ser_Par>1</Ser_Par>") << "115200"
            << "Odd"
            << "A"
            << "250" << false << saved("7", "1", "0", "5", "0");
        QTest::newRow("Ser_Baud empty") << pargen("<Ser_Baud></Ser_Baud>") << "115200"
                                        << "None"
                                        << "A"
                                        << "250" << false << saved("7", "0", "0", "5", "0");
        QTest::newRow("Can_Type 2 saves 1") << pargen("<Can_Type>2</Can_Type>") << "115200"
                                            << "None"
                                            << "B"
                                            << "250" << false << saved("7", "0", "1", "5", "0");
        QTest::newRow("Can_Enable_RTR 2 clears")
            << pargen("<Can_Enable_RTR>2</Can_Enable_RTR>") << "115200"
            << "None"
            << "A"
            << "250" << false << saved("7", "0", "0", "5", "0");
        QTest::newRow("no Ser_Par")
            << pargen("<Ser_Baud>0</Ser_Baud><Can_Type>1</Can_Type><Can_Baud>0</"
                      "Can_Baud><Can_Enable_RTR>1</Can_Enable_RTR>")
            << "1200"
            << "None"
            << "B"
            << "10" << true << saved("0", "0", "1", "0", "1");
    }

    void loadShowSave()
    {
        QFETCH(QByteArray, document);
        ExeFolder exe;
        const AppPaths paths = projectAlpha(exe);
        if (!document.isEmpty())
            exe.write(QStringLiteral("PROJECTS/Alpha/pargen.xml"), document);
        MessageRecorder messages;
        TFpargen window(paths);
        window.show();
        const Shown shown = shownBy(window);
        QTEST(shown.serBaud, "serBaud");
        QTEST(shown.serPar, "serPar");
        QTEST(shown.canType, "canType");
        QTEST(shown.canBaud, "canBaud");
        QTEST(shown.rtr, "rtr");
        window.findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click();
        QTEST(exe.read(QStringLiteral("PROJECTS/Alpha/pargen.xml")), "written");
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QCOMPARE(messages.texts(), QStringList());
    }

    void brokenDocumentIsReportedAndDefaultsShown()
    {
        ExeFolder exe;
        const AppPaths paths = projectAlpha(exe);
        exe.write(QStringLiteral("PROJECTS/Alpha/pargen.xml"),
                  "<General_Parameter><Ser_Baud>3</Ser_Baud>");
        MessageRecorder messages;
        TFpargen window(paths);
        window.show();
        QCOMPARE(messages.errors().size(), 1);
        QVERIFY(messages.errors().first().endsWith(
            QStringLiteral("\nLine: 1\n<General_Parameter><Ser_Baud>3</Ser_Baud.")));
        QVERIFY(window.isVisible());
        QCOMPARE(shownBy(window).serBaud, QStringLiteral("115200"));
        window.findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click();
        QCOMPARE(exe.read(QStringLiteral("PROJECTS/Alpha/pargen.xml")),
                 saved("7", "0", "0", "5", "0"));
    }

    void cancelWritesNothingAndNextShowingReloads()
    {
        ExeFolder exe;
        const AppPaths paths = projectAlpha(exe);
        const QByteArray document = saved("3", "1", "0", "2", "0");
        exe.write(QStringLiteral("PROJECTS/Alpha/pargen.xml"), document);
        TFpargen window(paths);
        window.show();
        window.findChild<QComboBox*>(QStringLiteral("CB_Ser_Baud"))->setCurrentIndex(0);
        window.findChild<QRadioButton*>(QStringLiteral("RB_CAN_B"))->setChecked(true);
        window.findChild<QPushButton*>(QStringLiteral("bitbtn2"))->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(exe.read(QStringLiteral("PROJECTS/Alpha/pargen.xml")), document);
        window.show();
        QCOMPARE(shownBy(window).serBaud, QStringLiteral("9600"));
        QCOMPARE(shownBy(window).canType, QStringLiteral("A"));
    }

    void saveIntoMissingFolderKeepsTheWindowOpen()
    {
        ExeFolder exe;
        AppPaths paths = projectAlpha(exe);
        paths.ProjectDir = exe.file(QStringLiteral("PROJECTS/Gone"));
        SetDocumentPaths(paths);
        MessageRecorder messages;
        TFpargen window(paths);
        window.show();
        window.findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click();
        QVERIFY(window.isVisible());
        QCOMPARE(messages.errors().size(), 1);
        QVERIFY(messages.errors().first().startsWith(QStringLiteral("Cannot create file \"") +
                                                     paths.PargenPath));
    }

    void everyListHasABuddyLabel()
    {
        ExeFolder exe;
        const AppPaths paths = projectAlpha(exe);
        TFpargen window(paths);
        QCOMPARE(window.windowTitle(), QStringLiteral("General Parameter"));
        QStringList buddies;
        for (QLabel* label : window.findChildren<QLabel*>())
            if (label->buddy())
                buddies << label->buddy()->objectName() + u'=' + label->text();
        buddies.sort();
        QCOMPARE(buddies, QStringList({QStringLiteral("CB_CAN_Baud=BaudRate"),
                                       QStringLiteral("CB_Ser_Baud=BaudRate"),
                                       QStringLiteral("CB_Ser_Par=Parity")}));
    }
};

QTEST_MAIN(TestGeneralParameterWindow)
#include "tst_general_parameter_window.moc"
