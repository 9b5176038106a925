#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/profile_file.h"
#include "core/documents/new_project.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

#include <sys/stat.h>

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

class TestAppPaths : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resolve_data()
    {
        QTest::addColumn<QByteArray>("ini"); // empty: no settings file
        QTest::addColumn<QString>("folder"); // project folder to create below PROJECTS
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("restored");
        const QString sep = QDir::separator();
        QTest::newRow("no settings file") << QByteArray() << QString() << QString() << false;
        QTest::newRow("name without separator") << QByteArray("[lastproj]\r\nprojectname=Alpha\r\n")
                                                << "Alpha" << sep + "Alpha" << true;
        QTest::newRow("backslash kept as written")
            << QByteArray("[lastproj]\r\nprojectname=\\Alpha\r\n") << "Alpha"
            << "\\Alpha" << true;
        QTest::newRow("folder gone") << QByteArray("[lastproj]\r\nprojectname=\\Alpha\r\n")
                                     << QString() << "\\Alpha" << false;
        QTest::newRow("other section")
            << QByteArray("[other]\r\nprojectname=Alpha\r\n") << "Alpha" << QString() << false;
        QTest::newRow("case-blind names, LF lines")
            << QByteArray("[LastProj]\nProjectName = Beta\n") << "Beta" << sep + "Beta" << true;
    }

    void resolve()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(bool, restored);
        QTemporaryDir exe;
        if (!ini.isEmpty())
            QVERIFY(writeFile(exe.filePath(QStringLiteral("Quillner.ini")), ini));
        if (!folder.isEmpty())
            QVERIFY(QDir(exe.path()).mkpath(QStringLiteral("PROJECTS/") + folder));

        AppPaths paths;
        QCOMPARE(ResolveAppPaths(paths, exe.path()), restored);
        QCOMPARE(paths.ExeDir, native(exe.path()));
        QCOMPARE(paths.DataDir, paths.ExeDir);
        QCOMPARE(paths.MasterDir, native(exe.path() + QStringLiteral("/MASTER")));
        QCOMPARE(paths.ProjectsDir, native(exe.path() + QStringLiteral("/PROJECTS")));
        QVERIFY(QFileInfo(paths.MasterDir).isDir());
        QVERIFY(QFileInfo(paths.ProjectsDir).isDir());
        QCOMPARE(paths.ProjectName, name);
        const QString expectedDir = restored
                                        ? native(exe.path() + QStringLiteral("/PROJECTS/") + folder)
                                        : paths.ProjectsDir;
        QCOMPARE(paths.ProjectDir, expectedDir);
        QCOMPARE(paths.PargenPath, expectedDir + QDir::separator() + QStringLiteral("pargen.xml"));
        QCOMPARE(paths.VarPath, expectedDir + QDir::separator() + QStringLiteral("var.xml"));
        QCOMPARE(paths.Filter20APath,
                 expectedDir + QDir::separator() + QStringLiteral("Filter20A.xml"));
        QCOMPARE(paths.Filter20BPath,
                 expectedDir + QDir::separator() + QStringLiteral("Filter20B.xml"));

        // The remembered name goes back exactly as it was held, also when its folder has gone.
        SaveLastProject(paths);
        QCOMPARE(readProfileString(exe.filePath(QStringLiteral("Quillner.ini")),
                                   QStringLiteral("lastproj"), QStringLiteral("projectname")),
                 name);
    }

    // What the settings reader takes away from a stored value, and what it keeps.
    void readProfileStringStrips_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("value");
        QTest::newRow("double quotes")
            << QByteArray("[lastproj]\r\nprojectname=\"\\Alpha\"\r\n") << "\\Alpha";
        QTest::newRow("single quotes")
            << QByteArray("[lastproj]\r\nprojectname='\\Alpha'\r\n") << "\\Alpha";
        QTest::newRow("blanks around key and value")
            << QByteArray("[lastproj]\r\n  projectname  =  \\Alpha  \r\n") << "\\Alpha";
        QTest::newRow("blanks inside the quotes kept")
            << QByteArray("[lastproj]\r\nprojectname= \" \\Alpha \" \r\n") << " \\Alpha ";
        QTest::newRow("quotes that do not match kept")
            << QByteArray("[lastproj]\r\nprojectname=\"\\Alpha'\r\n") << "\"\\Alpha'";
        QTest::newRow("quote inside kept")
            << QByteArray("[lastproj]\r\nprojectname=\\Al\"pha\"\r\n") << "\\Al\"pha\"";
        QTest::newRow("one quote alone kept")
            << QByteArray("[lastproj]\r\nprojectname=\"\r\n") << "\"";
        QTest::newRow("empty quotes")
            << QByteArray("[lastproj]\r\nprojectname=\"\"\r\n") << QString();
        QTest::newRow("byte order mark, comment skipped")
            << QByteArray("\xEF\xBB\xBF[lastproj]\r\n;projectname=Old\r\nprojectname=\\Alpha\r\n")
            << "\\Alpha";
    }

    void readProfileStringStrips()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, value);
        QTemporaryDir exe;
        const QString path = exe.filePath(QStringLiteral("Quillner.ini"));
        QVERIFY(writeFile(path, ini));
        QCOMPARE(readProfileString(path, QStringLiteral("lastproj"), QStringLiteral("projectname")),
                 value);
    }

    // A settings file that is no regular file, or far larger than one entry, reads as one that
    // cannot be read: the start-up goes on without a project instead of hanging or aborting.
    void settingsFileIsReadOnlyAsABoundedRegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("/dev/zero") << "zero";
        QTest::newRow("two MiB") << "large";
    }

    void settingsFileIsReadOnlyAsABoundedRegularFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir exe;
        const QString path = exe.filePath(QStringLiteral("Quillner.ini"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else
            QVERIFY(writeFile(path,
                              "[lastproj]\r\nprojectname=\\Alpha\r\n" + QByteArray(2 << 20, ';')));
        QCOMPARE(readProfileString(path, QStringLiteral("lastproj"), QStringLiteral("projectname")),
                 QString());
    }

    void joinPathAddsOneSeparator()
    {
        const QString sep = QDir::separator();
        QCOMPARE(joinPath(QStringLiteral("A"), QStringLiteral("b.xml")), "A" + sep + "b.xml");
        QCOMPARE(joinPath("A" + sep, QStringLiteral("b.xml")), "A" + sep + "b.xml");
        QCOMPARE(joinPath(QStringLiteral("A\\"), QStringLiteral("b.xml")),
                 QStringLiteral("A\\b.xml"));
        // An empty project folder still gives "<separator>pargen.xml".
        QCOMPARE(joinPath(QString(), QStringLiteral("pargen.xml")), sep + "pargen.xml");
    }

    void saveKeepsOtherLinesAndWritesEmptyName()
    {
        QTemporaryDir exe;
        const QString ini = exe.filePath(QStringLiteral("Quillner.ini"));
        QVERIFY(
            writeFile(ini, "; notes\r\n[window]\r\nleft=3\r\n[lastproj]\r\nprojectname=Old\r\n"));
        AppPaths paths;
        ResolveAppPaths(paths, exe.path());
        paths.ProjectName.clear();
        SaveLastProject(paths);
        QCOMPARE(readFile(ini),
                 QByteArray("; notes\r\n[window]\r\nleft=3\r\n[lastproj]\r\nprojectname=\r\n"));
    }

    // The writer changes the one line of the key, or adds it; every other byte stays as it was:
    // line ends, byte-order marks, text in another encoding, a last line without its end.
    void saveChangesOnlyTheKeysLine_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("LF lines, notes and other sections")
            << QByteArray("; mine\n[window]\nleft=3\n\n[lastproj]\nprojectname=Old\n[x]\ny=1\n")
            << QByteArray("; mine\n[window]\nleft=3\n\n[lastproj]\nprojectname=Beta\n[x]\ny=1\n");
        QTest::newRow("Latin-1 note, byte-order mark, blanks before the key")
            << QByteArray("\xEF\xBB\xBF; caf\xE9\r\n[LastProj]\r\n  ProjectName = Old\r\n")
            << QByteArray("\xEF\xBB\xBF; caf\xE9\r\n[LastProj]\r\n  ProjectName=Beta\r\n");
        QTest::newRow("no line end at the end, section added")
            << QByteArray("[window]\nleft=3")
            << QByteArray("[window]\nleft=3\n[lastproj]\n"
                          "projectname=Beta\n");
        QTest::newRow("key added before the section's blank lines")
            << QByteArray("[lastproj]\r\nother=1\r\n\r\n[window]\r\n")
            << QByteArray("[lastproj]\r\nother=1\r\nprojectname=Beta\r\n\r\n[window]\r\n");
    }

    void saveChangesOnlyTheKeysLine()
    {
        QFETCH(QByteArray, ini);
        QTemporaryDir exe;
        const QString path = exe.filePath(QStringLiteral("Quillner.ini"));
        QVERIFY(writeFile(path, ini));
        AppPaths paths;
        ResolveAppPaths(paths, exe.path());
        paths.ProjectName = QStringLiteral("Beta");
        const Result<bool> saved = SaveLastProject(paths);
        QVERIFY(saved.value);
        QCOMPARE(saved.problems, Problems());
        QTEST(readFile(path), "saved");
    }

    // A settings file that could not be read whole is never written: the user's file would be
    // replaced by the one line of the last project.
    void saveKeepsAFileItCouldNotRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("over the reader's limit") << "large";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
    }

    void saveKeepsAFileItCouldNotRead()
    {
        QFETCH(QString, kind);
        QTemporaryDir exe;
        const QString path = exe.filePath(QStringLiteral("Quillner.ini"));
        const QByteArray large = "; my notes\r\n[window]\r\nleft=3\r\n" +
                                 QByteArray(1100 * 1024, ';') +
                                 "\r\n[lastproj]\r\nprojectname=Old\r\n";
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else
            QVERIFY(writeFile(path, large));
        AppPaths paths;
        ResolveAppPaths(paths, exe.path());
        paths.ProjectName = QStringLiteral("Beta");
        const Result<bool> saved = SaveLastProject(paths);
        QVERIFY(!saved.value);
        QCOMPARE(saved.problems.size(), 1);
        QCOMPARE(saved.problems.first().file, QStringLiteral("Quillner.ini"));
        QVERIFY2(saved.problems.first().text.endsWith(QStringLiteral("; it is kept as it is")),
                 qPrintable(saved.problems.first().text));
        const QFileInfo after(path);
        if (kind == QLatin1String("large"))
            QCOMPARE(readFile(path), large);
        else if (kind == QLatin1String("zero"))
            QCOMPARE(after.symLinkTarget(), QStringLiteral("/dev/zero"));
        else
            QVERIFY(!after.isFile() && after.exists());
        QCOMPARE(QDir(exe.path()).entryList(QDir::Files | QDir::System | QDir::Hidden),
                 QStringList{QStringLiteral("Quillner.ini")});
    }

    void saveCreatesFileAndSection()
    {
        QTemporaryDir exe;
        AppPaths paths;
        ResolveAppPaths(paths, exe.path());
        paths.ProjectName = QStringLiteral("Beta");
        SaveLastProject(paths);
        QCOMPARE(readFile(exe.filePath(QStringLiteral("Quillner.ini"))),
                 QByteArray("[lastproj]\r\nprojectname=Beta\r\n"));
    }

    void saveFailureNamesTheFile()
    {
        QTemporaryDir exe;
        AppPaths paths;
        ResolveAppPaths(paths, exe.path());
        paths.ExeDir = native(exe.path() + QStringLiteral("/missing"));
        paths.DataDir = paths.ExeDir;
        try {
            SaveLastProject(paths);
            QFAIL("saved into a missing folder");
        } catch (const Error& error) {
            QCOMPARE(error.message(),
                     QStringLiteral("Unable to write to ") + settingsFilePath(paths));
        }
    }

    void openProject_data()
    {
        QTest::addColumn<bool>("deleteCurrent");
        QTest::addColumn<QString>("chosen"); // below PROJECTS; "-" for cancel
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("dirBelowProjects"); // "-" for an empty ProjectDir
        const QString sep = QDir::separator();
        QTest::newRow("cancel keeps the project") << false << "-" << sep + "Alpha"
                                                  << "Alpha";
        QTest::newRow("cancel after the folder went") << true << "-" << QString() << "-";
        QTest::newRow("choose another") << false << "Beta" << sep + "Beta"
                                        << "Beta";
        QTest::newRow("choose PROJECTS itself") << false << "" << QString() << "";
        QTest::newRow("choose a bin folder") << false << "Alpha/bin" << sep + "Alpha" + sep + "bin"
                                             << "Alpha/bin";
    }

    void openProject()
    {
        QFETCH(bool, deleteCurrent);
        QFETCH(QString, chosen);
        QFETCH(QString, name);
        QFETCH(QString, dirBelowProjects);
        QTemporaryDir exe;
        QVERIFY(writeFile(exe.filePath(QStringLiteral("Quillner.ini")),
                          "[lastproj]\r\nprojectname=Alpha\r\n"));
        QDir(exe.path()).mkpath(QStringLiteral("PROJECTS/Alpha/bin"));
        QDir(exe.path()).mkpath(QStringLiteral("PROJECTS/Beta"));
        AppPaths paths;
        QVERIFY(ResolveAppPaths(paths, exe.path()));
        if (deleteCurrent)
            QVERIFY(QDir(paths.ProjectDir).removeRecursively());

        prepareOpenProject(paths);
        const QString folder = chosen.isEmpty()
                                   ? paths.ProjectsDir
                                   : native(exe.path() + QStringLiteral("/PROJECTS/") + chosen);
        finishOpenProject(paths, chosen == QStringLiteral("-") ? nullptr : &folder);

        QCOMPARE(paths.ProjectName, name);
        if (dirBelowProjects == QStringLiteral("-")) {
            QCOMPARE(paths.ProjectDir, QString());
            QCOMPARE(paths.PargenPath, QDir::separator() + QStringLiteral("pargen.xml"));
        } else {
            const QString dir =
                dirBelowProjects.isEmpty()
                    ? paths.ProjectsDir
                    : native(exe.path() + QStringLiteral("/PROJECTS/") + dirBelowProjects);
            QCOMPARE(paths.ProjectDir, dir);
        }
    }

    void newProject_data()
    {
        QTest::addColumn<QString>("destination"); // "*" for PROJECTS
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("created");
        const QString invalid = QStringLiteral("Name project not valid");
        QTest::newRow("plain") << "*"
                               << "Beta" << QStringList() << true;
        QTest::newRow("name with a blank") << "*"
                                           << "Line 1" << QStringList() << true;
        QTest::newRow("empty name") << "*"
                                    << "" << QStringList{invalid} << false;
        QTest::newRow("empty destination and name")
            << ""
            << "" << QStringList{QStringLiteral("directory destination not valid"), invalid}
            << false;
        QTest::newRow("existing") << "*"
                                  << "Alpha"
                                  << QStringList{QStringLiteral(
                                         "Name project not valid because directory already exists")}
                                  << false;
        QTest::newRow("upper level missing") << "*"
                                             << "Nope/Beta" << QStringList() << false;
        QTest::newRow("below an existing project") << "*"
                                                   << "Alpha\\Sub" << QStringList() << true;
        QTest::newRow("climbs out") << "*"
                                    << "../Escape" << QStringList{invalid} << false;
        QTest::newRow("climbs out with backslashes")
            << "*"
            << "Alpha\\..\\..\\Escape" << QStringList{invalid} << false;
        QTest::newRow("absolute") << "*"
                                  << "/tmp/Escape" << QStringList{invalid} << false;
        QTest::newRow("absolute with backslash") << "*"
                                                 << "\\Escape" << QStringList{invalid} << false;
        QTest::newRow("drive letter") << "*"
                                      << "C:\\Escape" << QStringList{invalid} << false;
    }

    void newProject()
    {
        QFETCH(QString, destination);
        QFETCH(QString, name);
        QFETCH(QStringList, messages);
        QFETCH(bool, created);
        QTemporaryDir exe;
        AppPaths paths;
        ResolveAppPaths(paths, exe.path());
        QVERIFY(QDir(paths.ProjectsDir).mkdir(QStringLiteral("Alpha")));
        const AppPaths before = paths;
        if (destination == QStringLiteral("*"))
            destination = paths.ProjectsDir;

        const NewProjectAttempt attempt = createProjectFolder(paths, destination, name);
        QCOMPARE(problemLines(attempt.problems), messages);
        QCOMPARE(attempt.value, created);
        if (created) {
            const QString folder = destination + QDir::separator() +
                                   QDir::toNativeSeparators(QString(name).replace(u'\\', u'/'));
            QVERIFY(QFileInfo(folder + QStringLiteral("/bin")).isDir());
            QCOMPARE(paths.ProjectName, name);
            QCOMPARE(paths.ProjectDir, folder);
            QCOMPARE(paths.PargenPath, folder + QDir::separator() + QStringLiteral("pargen.xml"));
        } else {
            QCOMPARE(paths.ProjectName, before.ProjectName);
            QCOMPARE(paths.ProjectDir, before.ProjectDir);
        }
        // Nothing ever lands beside the executable's folder.
        QVERIFY(!QFileInfo::exists(exe.filePath(QStringLiteral("Escape"))));
        QVERIFY(!QFileInfo::exists(QDir(exe.path()).filePath(QStringLiteral("../Escape"))));
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_app_paths.moc"
