#include "core/app/app_paths.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// Where the settings, MASTER and PROJECTS live: beside the executable in a portable folder,
// in the per-user data folder for an installed tool, or in the folder given with --home.
class TestDataFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void choose_data()
    {
        QTest::addColumn<bool>("writable");  // whether the executable's folder is writable
        QTest::addColumn<QString>("beside"); // what the executable's folder already holds
        QTest::addColumn<bool>("home");      // whether --home is given
        QTest::addColumn<QString>("chosen"); // "exe", "standard" or "home"
        QTest::newRow("portable: writable folder") << true << "" << false << "exe";
        QTest::newRow("portable: read-only copy with its settings")
            << false << "Quillner.ini" << false << "exe";
        QTest::newRow("portable: read-only copy with PROJECTS")
            << false << "PROJECTS/" << false << "exe";
        QTest::newRow("installed: read-only folder of programs")
            << false << "" << false << "standard";
        QTest::newRow("installed: MASTER alone makes no portable folder")
            << false << "MASTER/" << false << "standard";
        QTest::newRow("--home on an installed tool") << false << "" << true << "home";
        QTest::newRow("--home over a portable folder") << true << "PROJECTS/" << true << "home";
    }

    void choose()
    {
        QFETCH(bool, writable);
        QFETCH(QString, beside);
        QFETCH(bool, home);
        QFETCH(QString, chosen);
        QTemporaryDir root;
        const QString exeDir = root.filePath(QStringLiteral("bin"));
        const QString standard = root.filePath(QStringLiteral("user/.local/share/Quillner"));
        const QString homeDir = root.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(exeDir));
        if (beside.endsWith(u'/'))
            QVERIFY(QDir(exeDir).mkpath(beside));
        else if (!beside.isEmpty())
            QVERIFY(writeFile(QDir(exeDir).filePath(beside), "[lastproj]\r\n"));

        const QString expected = chosen == QStringLiteral("exe")        ? exeDir
                                 : chosen == QStringLiteral("standard") ? standard
                                                                        : homeDir;
        QCOMPARE(chooseDataFolder(exeDir, home ? homeDir : QString(), standard, writable),
                 native(expected));
        // Choosing looks only: nothing is made anywhere.
        QVERIFY(!QFileInfo::exists(standard));
        QVERIFY(!QFileInfo::exists(homeDir));
    }

    void writableFolderOfTheFileSystemIsPortable()
    {
        QTemporaryDir exe;
        QCOMPARE(chooseDataFolder(exe.path(), QString(), exe.filePath(QStringLiteral("user"))),
                 native(exe.path()));
    }

    void systemProgramFolderIsNeverPortable()
    {
        // Writable for root, but an installed tool keeps its data in the user's folder.
        const QString user = QDir::temp().filePath(QStringLiteral("user"));
        QCOMPARE(chooseDataFolder(QStringLiteral("/usr/bin"), QString(), user), native(user));
        QVERIFY(isSystemProgramFolder(QStringLiteral("/usr/local/bin/")));
        QVERIFY(isSystemProgramFolder(QStringLiteral("/opt/quillner/bin")));
        QVERIFY(!isSystemProgramFolder(QStringLiteral("/usrlocal/stage")));
        QVERIFY(!isSystemProgramFolder(QStringLiteral("/work/stage")));
    }

    void relativeHomeIsMadeAbsolute()
    {
        QTemporaryDir exe;
        const QString chosen =
            chooseDataFolder(exe.path(), QStringLiteral("data"), QString(), true);
        QCOMPARE(chosen, native(QDir::current().absoluteFilePath(QStringLiteral("data"))));
    }

    void standardFolderIsTheUsersDataFolder()
    {
        const QString standard = standardDataFolder();
        QCOMPARE(standard,
                 native(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        QStringLiteral("/Quillner")));
    }

    void firstStartInTheDataFolder()
    {
        QTemporaryDir root;
        const QString exeDir = root.filePath(QStringLiteral("usr/bin"));
        const QString dataDir = root.filePath(QStringLiteral("home/.local/share/Quillner"));
        QVERIFY(QDir().mkpath(exeDir));

        AppPaths paths;
        QVERIFY(!ResolveAppPaths(paths, exeDir, dataDir));
        QCOMPARE(paths.ExeDir, native(exeDir));
        QCOMPARE(paths.DataDir, native(dataDir));
        QCOMPARE(paths.MasterDir, native(dataDir + QStringLiteral("/MASTER")));
        QCOMPARE(paths.ProjectsDir, native(dataDir + QStringLiteral("/PROJECTS")));
        QCOMPARE(paths.ProjectDir, paths.ProjectsDir);
        QCOMPARE(entries(dataDir), QStringList({"MASTER", "PROJECTS"}));
        QVERIFY(entries(paths.MasterDir).isEmpty());
        QVERIFY(entries(paths.ProjectsDir).isEmpty());
        QVERIFY(entries(exeDir).isEmpty());

        // The last project is remembered in the data folder and restored from there.
        QVERIFY(QDir(paths.ProjectsDir).mkdir(QStringLiteral("Alpha")));
        paths.ProjectName = QStringLiteral("Alpha");
        SaveLastProject(paths);
        QCOMPARE(settingsFilePath(paths), native(dataDir + QStringLiteral("/Quillner.ini")));
        QCOMPARE(readFile(settingsFilePath(paths)),
                 QByteArray("[lastproj]\r\nprojectname=Alpha\r\n"));
        QVERIFY(entries(exeDir).isEmpty());
        AppPaths again;
        QVERIFY(ResolveAppPaths(again, exeDir, dataDir));
        QCOMPARE(again.ProjectDir, native(dataDir + QStringLiteral("/PROJECTS/Alpha")));
    }

    void portableFolderIsTheDataFolder()
    {
        QTemporaryDir exe;
        AppPaths paths;
        ResolveAppPaths(paths, exe.path(), exe.path());
        AppPaths portable;
        ResolveAppPaths(portable, exe.path());
        QCOMPARE(paths.DataDir, native(exe.path()));
        QCOMPARE(portable.DataDir, native(exe.path()));
        QCOMPARE(paths.MasterDir, portable.MasterDir);
        QCOMPARE(paths.ProjectsDir, portable.ProjectsDir);
        QCOMPARE(settingsFilePath(paths), native(exe.filePath(QStringLiteral("Quillner.ini"))));
    }

    void flashingToolFolder_data()
    {
        QTest::addColumn<bool>("inExeDir");
        QTest::addColumn<bool>("inDataDir");
        QTest::addColumn<bool>("foundInDataDir");
        QTest::newRow("beside the executable") << true << false << false;
        QTest::newRow("in the data folder") << false << true << true;
        QTest::newRow("both: the executable's folder first") << true << true << false;
        QTest::newRow("neither: the executable's folder is named") << false << false << false;
    }

    void flashingToolFolder()
    {
        QFETCH(bool, inExeDir);
        QFETCH(bool, inDataDir);
        QFETCH(bool, foundInDataDir);
        QTemporaryDir root;
        const QString exeDir = native(root.filePath(QStringLiteral("bin")));
        const QString dataDir = native(root.filePath(QStringLiteral("data")));
        QVERIFY(QDir().mkpath(exeDir));
        QVERIFY(QDir().mkpath(dataDir));
        const QString tool = QStringLiteral("Morvex.exe");
        if (inExeDir)
            QVERIFY(writeFile(QDir(exeDir).filePath(tool), "#!/bin/sh\n"));
        if (inDataDir)
            QVERIFY(writeFile(QDir(dataDir).filePath(tool), "#!/bin/sh\n"));
        QCOMPARE(helperProgramFolder(exeDir, dataDir, tool), foundInDataDir ? dataDir : exeDir);
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_data_folder.moc"
