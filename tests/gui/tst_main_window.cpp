#include "gui_support.h"

#include "gui/app/main_window.h"
#include "support/program_run.h"

#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <functional>

using namespace quillner;

namespace {

const QByteArray kDefaultPargen =
    "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par><Can_Type>0</Can_Type>"
    "<Can_Baud>5</Can_Baud><Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n";

// Runs every modal window without a modal loop: shows it, lets the test act on it, hides it.
class DialogScript
{
public:
    using Action = std::function<void(QDialog*)>;

    DialogScript()
    {
        setDialogRunner([this](QDialog* dialog) {
            shown << dialog->objectName();
            dialog->setResult(QDialog::Rejected);
            dialog->show();
            if (m_action)
                m_action(dialog);
            const int result = dialog->result();
            dialog->hide();
            return result;
        });
    }
    ~DialogScript() { setDialogRunner({}); }

    void then(Action action) { m_action = std::move(action); }

    QStringList shown;

private:
    Action m_action;
};

// Every file and folder below the folder, by relative path, with the bytes of each file.
QMap<QString, QByteArray> folderContents(const QString& folder)
{
    QMap<QString, QByteArray> contents;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry = it.nextFileInfo();
        QByteArray bytes = "(folder)";
        if (!entry.isDir()) {
            QFile file(entry.filePath());
            if (file.open(QIODevice::ReadOnly))
                bytes = file.readAll();
        }
        contents.insert(QDir(folder).relativeFilePath(entry.filePath()), bytes);
    }
    return contents;
}

void typeNewProject(QDialog* dialog, const QString& name)
{
    dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(name);
    dialog->findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click();
}

void clickCancel(QDialog* dialog)
{
    if (auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("bitbtn2")))
        cancel->click();
    else
        dialog->reject();
}

void click(QWidget& window, const char* name)
{
    QAbstractButton* button = window.findChild<QAbstractButton*>(QString::fromLatin1(name));
    QVERIFY2(button, name);
    button->click();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void captions_data()
    {
        QTest::addColumn<QString>("remembered"); // name in the settings file, empty for none
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("suffix"); // what follows the product title
        const QString sep = QDir::separator();
        QTest::newRow("start, nothing remembered") << ""
                                                   << ""
                                                   << "";
        QTest::newRow("start, Alpha restored") << "Alpha"
                                               << ""
                                               << " : " + sep + "Alpha";
        QTest::newRow("start, Alpha gone") << "Gone"
                                           << ""
                                           << "";
        QTest::newRow("new project Beta") << "Alpha"
                                          << "new Beta"
                                          << " :Beta";
        QTest::newRow("new project cancelled after a restored start") << "Alpha"
                                                                      << "new cancel"
                                                                      << " :" + sep + "Alpha";
        QTest::newRow("open Alpha") << ""
                                    << "open Alpha"
                                    << " :" + sep + "Alpha";
        QTest::newRow("open cancelled") << "Alpha"
                                        << "open cancel"
                                        << " :" + sep + "Alpha";
        QTest::newRow("open cancelled, folder deleted") << "Alpha"
                                                        << "delete; open cancel"
                                                        << " :";
    }

    void captions()
    {
        QFETCH(QString, remembered);
        QFETCH(QString, action);
        QFETCH(QString, suffix);
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        if (!remembered.isEmpty())
            exe.write(QStringLiteral("Quillner.ini"),
                      "[lastproj]\r\nprojectname=" + remembered.toUtf8() + "\r\n");
        MessageRecorder messages;
        DialogScript dialogs;
        setFolderBrowser([&](QWidget*, const QString& title, const QString& root, const QString&) {
            [&] { QCOMPARE(title, QStringLiteral("Select directory of project")); }();
            const bool cancel = action.endsWith(QStringLiteral("cancel"));
            return cancel ? std::nullopt
                          : std::optional<QString>(root + QDir::separator() +
                                                   action.section(u' ', -1));
        });

        TFmain window(exe.path());
        if (action.startsWith(QStringLiteral("delete")))
            QVERIFY(QDir(exe.file(QStringLiteral("PROJECTS/Alpha"))).removeRecursively());
        if (action.contains(QStringLiteral("new"))) {
            const QString name = action.section(u' ', -1);
            dialogs.then([&](QDialog* d) {
                name == QStringLiteral("cancel") ? clickCancel(d) : typeNewProject(d, name);
            });
            click(window, "New");
        } else if (action.contains(QStringLiteral("open"))) {
            click(window, "open");
        }
        setFolderBrowser({});
        QCOMPARE(window.windowTitle(), productTitle() + suffix);
        QCOMPARE(messages.texts(), QStringList());
    }

    void productTitleNamesTheProduct()
    {
        QVERIFY(productTitle().endsWith(QStringLiteral(" Quillner QT51804 Varnex")));
        QVERIFY(!productTitle().startsWith(u' '));
    }

    void editorStepsNeedAProject()
    {
        ExeFolder exe;
        exe.write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Alpha\r\n");
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        MessageRecorder messages;
        DialogScript dialogs;
        setFolderBrowser(
            [](QWidget*, const QString&, const QString&, const QString&) { return std::nullopt; });
        TFmain window(exe.path());
        QVERIFY(QDir(exe.file(QStringLiteral("PROJECTS/Alpha"))).removeRecursively());
        click(window, "open");
        setFolderBrowser({});

        click(window, "btn_Prm_Gen");
        click(window, "btn_Filter");
        // "Update Device" no longer writes the bank into a bin folder of no project.
        click(window, "CreateBin");
        QCOMPARE(messages.plain(), QStringList({QStringLiteral("Project not valid"),
                                                QStringLiteral("Project not valid"),
                                                QStringLiteral("Project not valid")}));
        QCOMPARE(dialogs.shown, QStringList());
    }

    // Without a project no step opens a window or writes anything: PROJECTS holds projects, not
    // documents.
    void withoutAProjectNoStepOpensOrWrites_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("nothing remembered") << "start";
        QTest::newRow("PROJECTS itself chosen") << "open PROJECTS";
    }

    void withoutAProjectNoStepOpensOrWrites()
    {
        QFETCH(QString, how);
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then(
            [](QDialog* d) { d->findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click(); });
        setFolderBrowser([](QWidget*, const QString&, const QString& root, const QString&) {
            return std::optional<QString>(root);
        });
        TFmain window(exe.path());
        if (how.startsWith(QStringLiteral("open")))
            click(window, "open");
        setFolderBrowser({});
        click(window, "btn_Prm_Gen");
        click(window, "btn_Filter");
        click(window, "CreateBin");
        const QString answer = QStringLiteral("Open or create a project first.");
        QCOMPARE(messages.plain(), QStringList({answer, answer, answer}));
        QCOMPARE(dialogs.shown, QStringList());
        QCOMPARE(QDir(exe.file(QStringLiteral("PROJECTS")))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("Alpha")});
        QCOMPARE(QDir(exe.file(QStringLiteral("PROJECTS/Alpha")))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // The open project is named below the steps, for the eye and for a screen reader.
    void showsTheOpenProjectBelowTheSteps()
    {
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then([](QDialog* d) { typeNewProject(d, QStringLiteral("Beta")); });
        TFmain window(exe.path());
        auto* label = window.findChild<QLabel*>(QStringLiteral("ProjectLabel"));
        QVERIFY(label);
        // Heard as it reads: the name is its text, the description what that is.
        QVERIFY(label->accessibleName().isEmpty());
        QCOMPARE(label->accessibleDescription(), QStringLiteral("The project the steps work on"));
        QCOMPARE(label->text(), QStringLiteral("No project open"));

        click(window, "New");
        QCOMPARE(label->text(), QStringLiteral("Project: Beta"));
        QCOMPARE(label->toolTip(), exe.file(QStringLiteral("PROJECTS/Beta")));

        setFolderBrowser([](QWidget*, const QString&, const QString& root, const QString&) {
            return std::optional<QString>(root + QDir::separator() + QStringLiteral("Alpha"));
        });
        click(window, "open");
        QCOMPARE(label->text(), QStringLiteral("Project: Alpha"));
        setFolderBrowser([](QWidget*, const QString&, const QString& root, const QString&) {
            return std::optional<QString>(root);
        });
        click(window, "open");
        setFolderBrowser({});
        QCOMPARE(label->text(), QStringLiteral("No project open"));
        QCOMPARE(messages.texts(), QStringList());
    }

    // A General Parameter window told to save among the projects refuses, as the command line's
    // edit of the same folder would not: the run knows its PROJECTS folder.
    void aDocumentIsNeverWrittenAmongTheProjects()
    {
        ExeFolder exe;
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then(
            [](QDialog* d) { d->findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click(); });
        TFmain window(exe.path());
        auto* parameters = window.findChild<QDialog*>(QStringLiteral("Fpargen"));
        QVERIFY(parameters);
        parameters->show();
        parameters->findChild<QPushButton*>(QStringLiteral("bitbtn1"))->click();
        QVERIFY(parameters->isVisible());
        QCOMPARE(messages.errors().size(), 1);
        QVERIFY2(
            messages.errors().first().endsWith(QStringLiteral("open or create a project first.")),
            qPrintable(messages.errors().first()));
        QVERIFY(!QFileInfo::exists(exe.file(QStringLiteral("PROJECTS/pargen.xml"))));
    }

    void filterChoosesTheFrameFormat_data()
    {
        QTest::addColumn<QByteArray>("pargen"); // empty: no file
        QTest::addColumn<QString>("window");
        const auto can = [](const QByteArray& text) {
            return "<General_Parameter><Can_Type>" + text + "</Can_Type></General_Parameter>";
        };
        QTest::newRow("no pargen.xml") << QByteArray() << "FFilter";
        QTest::newRow("1") << can("1") << "FFilterExt";
        QTest::newRow("2") << can("2") << "FFilterExt";
        QTest::newRow("-1") << can("-1") << "FFilterExt";
        QTest::newRow("0") << can("0") << "FFilter";
        QTest::newRow("empty") << can("") << "FFilter";
        QTest::newRow("no integer") << can("B") << "FFilter";
        QTest::newRow("no Can_Type") << QByteArray("<General_Parameter/>") << "FFilter";
        QTest::newRow("no General_Parameter")
            << QByteArray("<Other><Can_Type>1</Can_Type></Other>") << "FFilter";
    }

    void filterChoosesTheFrameFormat()
    {
        QFETCH(QByteArray, pargen);
        QFETCH(QString, window);
        ExeFolder exe;
        exe.write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Alpha\r\n");
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        if (!pargen.isEmpty())
            exe.write(QStringLiteral("PROJECTS/Alpha/pargen.xml"), pargen);
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then(clickCancel);
        TFmain main(exe.path());
        click(main, "btn_Filter");
        QCOMPARE(dialogs.shown, QStringList{window});
    }

    void filterWithBrokenPargenOpensNothing()
    {
        ExeFolder exe;
        exe.write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Alpha\r\n");
        exe.write(QStringLiteral("PROJECTS/Alpha/pargen.xml"),
                  "<General_Parameter><Can_Type>1</Can_Type>");
        MessageRecorder messages;
        DialogScript dialogs;
        TFmain main(exe.path());
        click(main, "btn_Filter");
        QCOMPARE(dialogs.shown, QStringList());
        QCOMPARE(messages.errors().size(), 1);
        QVERIFY(messages.errors().first().contains(QStringLiteral("Line: 1")));
    }

    void newProjectWritesDefaultDocuments()
    {
        ExeFolder exe;
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then([](QDialog* d) { typeNewProject(d, QStringLiteral("Beta")); });
        {
            TFmain window(exe.path());
            click(window, "New");
            QCOMPARE(window.paths().ProjectName, QStringLiteral("Beta"));
            QVERIFY(QFileInfo(exe.file(QStringLiteral("PROJECTS/Beta/bin"))).isDir());
            QCOMPARE(exe.read(QStringLiteral("PROJECTS/Beta/pargen.xml")), kDefaultPargen);
            QCOMPARE(exe.read(QStringLiteral("PROJECTS/Beta/var.xml")),
                     QByteArray("<TCP_TO_RTU/>\r\n"));
            click(window, "LbButton1");
            QVERIFY(!window.isVisible());
        }
        QCOMPARE(exe.read(QStringLiteral("Quillner.ini")),
                 QByteArray("[lastproj]\r\nprojectname=Beta\r\n"));
        // The next start restores it with a leading separator.
        TFmain next(exe.path());
        QVERIFY(next.projectRestored());
        QCOMPARE(next.paths().ProjectName, QDir::separator() + QStringLiteral("Beta"));
        QCOMPARE(messages.texts(), QStringList());
    }

    // The command line's new project is the window's, file for file and byte for byte; it leaves
    // Quillner.ini to the windows.
    void newProjectOfTheCommandLineIsTheWindows()
    {
        ExeFolder exe;
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then([](QDialog* d) { typeNewProject(d, QStringLiteral("Beta")); });
        {
            TFmain window(exe.path());
            click(window, "New");
        }
        const QByteArray settings = exe.read(QStringLiteral("Quillner.ini"));
        const testing::Run run = testing::runProgram(
            QStringLiteral(QUILLNER_CLI),
            {QStringLiteral("new"), exe.file(QStringLiteral("PROJECTS/Gamma"))});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        const QMap<QString, QByteArray> window =
            folderContents(exe.file(QStringLiteral("PROJECTS/Beta")));
        QCOMPARE(window.keys(), QStringList({"bin", "pargen.xml", "var.xml"}));
        QCOMPARE(folderContents(exe.file(QStringLiteral("PROJECTS/Gamma"))), window);
        QCOMPARE(exe.read(QStringLiteral("Quillner.ini")), settings);
        QCOMPARE(messages.texts(), QStringList());
    }

    // Names are kept exactly, blanks and quotes at their edges too: the next start restores them.
    void newProjectNameWithEdgeBlanksIsRestored_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("trailing blank") << "Beta ";
        QTest::newRow("in quotes") << "\"Beta\"";
    }

    void newProjectNameWithEdgeBlanksIsRestored()
    {
        QFETCH(QString, name);
        ExeFolder exe;
        MessageRecorder messages;
        DialogScript dialogs;
        dialogs.then([&](QDialog* d) { typeNewProject(d, name); });
        {
            TFmain window(exe.path());
            click(window, "New");
            QCOMPARE(window.paths().ProjectName, name);
            click(window, "LbButton1");
        }
        TFmain next(exe.path());
        QVERIFY(next.projectRestored());
        QCOMPARE(next.paths().ProjectName, QDir::separator() + name);
        QCOMPARE(next.paths().ProjectDir, exe.file(QStringLiteral("PROJECTS/") + name));
        QCOMPARE(messages.texts(), QStringList());
    }

    // A folder that is a symbolic link out of PROJECTS is not opened: the error is reported and
    // the project stays as it was.
    void openingAFolderLinkedOutOfProjectsIsRefused()
    {
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        exe.makeFolder(QStringLiteral("elsewhere"));
        QVERIFY(QFile::link(exe.file(QStringLiteral("elsewhere")),
                            exe.file(QStringLiteral("PROJECTS/Foreign"))));
        exe.write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Alpha\r\n");
        MessageRecorder messages;
        setFolderBrowser([&](QWidget*, const QString&, const QString& root, const QString&) {
            return std::optional<QString>(root + QDir::separator() + QStringLiteral("Foreign"));
        });
        TFmain window(exe.path());
        const QString title = window.windowTitle();
        click(window, "open");
        setFolderBrowser({});
        QCOMPARE(messages.errors().size(), 1);
        QVERIFY2(messages.errors().first().startsWith(QStringLiteral("Project not valid: \"")),
                 qPrintable(messages.errors().first()));
        QCOMPARE(window.paths().ProjectDir, exe.file(QStringLiteral("PROJECTS/Alpha")));
        QCOMPARE(window.windowTitle(), title);
    }

    void newProjectRefusalsKeepTheWindowOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("empty") << "" << QStringList{QStringLiteral("Name project not valid")};
        QTest::newRow("existing")
            << "Alpha"
            << QStringList{
                   QStringLiteral("Name project not valid because directory already exists")};
        QTest::newRow("outside PROJECTS")
            << "../Beta" << QStringList{QStringLiteral("Name project not valid")};
        QTest::newRow("upper level missing, no message") << "No/Beta" << QStringList();
    }

    void newProjectRefusalsKeepTheWindowOpen()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, messages);
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        MessageRecorder recorder;
        DialogScript dialogs;
        bool stillOpen = false;
        QString typed;
        dialogs.then([&](QDialog* d) {
            typeNewProject(d, name);
            stillOpen = d->isVisible() && d->result() == QDialog::Rejected;
            typed = d->findChild<QLineEdit*>(QStringLiteral("Edit1"))->text();
        });
        TFmain window(exe.path());
        click(window, "New");
        QVERIFY(stillOpen);
        QCOMPARE(typed, name);
        QCOMPARE(recorder.plain(), messages);
        QVERIFY(!QFileInfo::exists(exe.file(QStringLiteral("PROJECTS/Alpha/pargen.xml"))));
        QVERIFY(!QFileInfo::exists(exe.file(QStringLiteral("Beta"))));
        QCOMPARE(window.paths().ProjectDir, window.paths().ProjectsDir);
    }

    void newProjectShowsAnEmptyField()
    {
        ExeFolder exe;
        DialogScript dialogs;
        QString shownText = QStringLiteral("unset");
        dialogs.then([&](QDialog* d) {
            shownText = d->findChild<QLineEdit*>(QStringLiteral("Edit1"))->text();
            QCOMPARE(d->windowTitle(), QStringLiteral("New project"));
            d->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("left over"));
            clickCancel(d);
        });
        TFmain window(exe.path());
        click(window, "New");
        click(window, "New");
        QCOMPARE(shownText, QString());
        QVERIFY(!QFileInfo::exists(exe.file(QStringLiteral("PROJECTS/left over"))));
    }

    void closeThatCannotRememberStaysOpen()
    {
        ExeFolder exe;
        MessageRecorder messages;
        TFmain window(exe.path());
        window.show();
        exe.makeFolder(QStringLiteral("Quillner.ini")); // a folder where the file should go
        click(window, "LbButton1");
        QVERIFY(window.isVisible());
        QCOMPARE(messages.errors(), QStringList{QStringLiteral("Unable to write to ") +
                                                exe.file(QStringLiteral("Quillner.ini")) + u'.'});
        QDir(exe.file(QStringLiteral("Quillner.ini"))).removeRecursively();
        click(window, "LbButton1");
        QVERIFY(!window.isVisible());
        QCOMPARE(exe.read(QStringLiteral("Quillner.ini")),
                 QByteArray("[lastproj]\r\nprojectname=\r\n"));
    }

    // A settings file the start could not read whole is the user's: closing leaves it as it
    // is, byte for byte, and says the last project is not remembered.
    void closeKeepsASettingsFileItCouldNotRead()
    {
        ExeFolder exe;
        const QByteArray ini = "; my notes\r\n[window]\r\nleft=3\r\n" +
                               QByteArray(1100 * 1024, ';') +
                               "\r\n[lastproj]\r\nprojectname=Alpha\r\n";
        exe.write(QStringLiteral("Quillner.ini"), ini);
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha"));
        MessageRecorder messages;
        TFmain window(exe.path());
        window.show();
        click(window, "LbButton1");
        QVERIFY(!window.isVisible());
        QCOMPARE(exe.read(QStringLiteral("Quillner.ini")), ini);
        QCOMPARE(messages.errors(), QStringList());
        QCOMPARE(messages.plain().size(), 1);
        QVERIFY2(messages.plain().first().startsWith(
                     QStringLiteral("The last project is not remembered: ")),
                 qPrintable(messages.plain().first()));
    }

    void aboutAndWebLinks()
    {
        ExeFolder exe;
        DialogScript dialogs;
        QStringList opened;
        setUrlOpener([&](const QString& url) { opened << url; });
        dialogs.then([](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("About..."));
            QVERIFY(d->findChild<QLabel*>(QStringLiteral("Value2")));
            QCOMPARE(d->findChild<QLabel*>(QStringLiteral("Value2"))->text(),
                     QStringLiteral("1.002"));
        });
        TFmain window(exe.path());
        click(window, "about");
        QCOMPARE(dialogs.shown, QStringList{QStringLiteral("FAbout")});
        QWidget* web = window.findChild<QWidget*>(QStringLiteral("Label6"));
        QTest::mouseClick(web, Qt::LeftButton);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened.first().contains(QStringLiteral(".example")));
        setUrlOpener({});
    }

    void errorReportAddsAFullStop_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Failed"
                                << "Failed.";
        QTest::newRow("digit") << "Line 3"
                               << "Line 3.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("bang sorts before") << "Stop!"
                                           << "Stop!";
        QTest::newRow("closing parenthesis") << "(x)"
                                             << "(x)";
        QTest::newRow("empty") << ""
                               << "";
    }

    void errorReportAddsAFullStop()
    {
        QFETCH(QString, text);
        QTEST(withReportFullStop(text), "shown");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
