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
        // The one top node is PROJECTS: MASTER beside it cannot be reached.
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(tree->rootIndex()), 1, 30000);
        const QModelIndex top = model->index(0, 0, tree->rootIndex());
        QCOMPARE(top.data().toString(), QStringLiteral("PROJECTS"));
        if (model->canFetchMore(top))
            model->fetchMore(top);
        // The file system is read on a thread of its own, which a loaded machine may keep waiting.
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(top), 2, 30000);

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
