#include "gui_support.h"

#include "gui/app/folder_browser.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QTest>
#include <QTreeView>

using namespace quillner;

class TestFolderBrowser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void offersOnlyProjectsAndBelow()
    {
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS/Alpha/bin"));
        exe.makeFolder(QStringLiteral("PROJECTS/Beta"));
        exe.makeFolder(QStringLiteral("MASTER"));
        const QString projects = exe.file(QStringLiteral("PROJECTS"));
        FolderBrowserDialog browser(QStringLiteral("Select directory of project"), projects,
                                    exe.file(QStringLiteral("PROJECTS/Alpha")));
        QCOMPARE(browser.windowTitle(), QStringLiteral("Select directory of project"));
        browser.show();
        QTreeView* tree = browser.tree();
        QAbstractItemModel* model = tree->model();
        // The one top node is PROJECTS: MASTER beside it cannot be reached. Every project is
        // there as soon as the dialog is: the folders are read before it shows.
        QCOMPARE(model->rowCount(tree->rootIndex()), 1);
        const QModelIndex top = model->index(0, 0, tree->rootIndex());
        QCOMPARE(top.data().toString(), QStringLiteral("PROJECTS"));
        QCOMPARE(model->rowCount(top), 2);
        QCOMPARE(model->index(0, 0, top).data().toString(), QStringLiteral("Alpha"));
        QCOMPARE(model->index(1, 0, top).data().toString(), QStringLiteral("Beta"));
        // A folder with sub-folders offers them once expanded; one without offers none.
        const QModelIndex alpha = model->index(0, 0, top);
        tree->expand(alpha);
        QCOMPARE(model->rowCount(alpha), 1);
        QCOMPARE(model->index(0, 0, alpha).data().toString(), QStringLiteral("bin"));
        QCOMPARE(model->rowCount(model->index(1, 0, top)), 0);

        QCOMPARE(browser.chosenFolder(), exe.file(QStringLiteral("PROJECTS/Alpha")));
        QVERIFY(browser.select(exe.file(QStringLiteral("PROJECTS/Alpha/bin"))));
        QCOMPARE(browser.chosenFolder(), exe.file(QStringLiteral("PROJECTS/Alpha/bin")));
        QVERIFY(!browser.select(exe.file(QStringLiteral("MASTER"))));
        QVERIFY(!browser.select(exe.path()));
        tree->setCurrentIndex(top);
        QCOMPARE(browser.chosenFolder(), projects);
    }

    void withoutSelectionStartsAtTheRoot()
    {
        ExeFolder exe;
        exe.makeFolder(QStringLiteral("PROJECTS"));
        FolderBrowserDialog browser(QStringLiteral("Select directory of project"),
                                    exe.file(QStringLiteral("PROJECTS")), QString());
        QCOMPARE(browser.chosenFolder(), exe.file(QStringLiteral("PROJECTS")));
    }
};

QTEST_MAIN(TestFolderBrowser)
#include "tst_folder_browser.moc"
