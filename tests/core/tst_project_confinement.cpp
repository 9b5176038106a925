#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/profile_file.h"
#include "core/app/project_layout.h"
#include "core/app/project_output.h"
#include "core/bank/bank_files.h"
#include "core/documents/general_parameters.h"
#include "core/update/device_update.h"
#include "core/update/firmware_job.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

// The message that the call throws, or "" when it does not throw.
template <typename Call> QString failureOf(Call call)
{
    try {
        call();
        return {};
    } catch (const Error& error) {
        return error.message();
    }
}

} // namespace

// A project received from elsewhere, or a settings file edited by hand, never makes a write land
// outside the project folder, nor a project open outside PROJECTS.
class TestProjectConfinement : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outputsAreNotWrittenThroughLinks_data()
    {
        QTest::addColumn<QString>("link");   // the path below the project that is a link
        QTest::addColumn<QString>("output"); // what is written
        QTest::newRow("bin folder") << "bin"
                                    << "bank1.bin";
        QTest::newRow("bank1.bin") << "bin/bank1.bin"
                                   << "bank1.bin";
        QTest::newRow("bankg.c") << "bin/bankg.c"
                                 << "bankg.c";
        QTest::newRow("pargen.xml") << "pargen.xml"
                                    << "pargen.xml";
        QTest::newRow("New_SX51804.sx") << "New_SX51804.sx"
                                        << "New_SX51804.sx";
    }

    void outputsAreNotWrittenThroughLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, output);
        QTemporaryDir dir;
        const QString project = dir.filePath(QStringLiteral("PROJECTS/Line"));
        const QString outside = dir.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(project + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(writeFile(outside + QStringLiteral("/victim"), "keep me"));
        const QString linkPath = project + u'/' + link;
        QVERIFY(QDir(linkPath).removeRecursively() || !QFileInfo::exists(linkPath));
        const bool folder = link == QLatin1String("bin");
        QVERIFY(QFile::link(folder ? outside : outside + QStringLiteral("/victim"), linkPath));

        QString message;
        if (output == QLatin1String("bank1.bin")) {
            message = failureOf([&] { SaveBankBinary(project, ConfigurationBank{}); });
        } else if (output == QLatin1String("bankg.c")) {
            message = failureOf([&] { SaveBankSource(project, ConfigurationBank{}); });
        } else if (output == QLatin1String("pargen.xml")) {
            message = failureOf([&] { saveGeneralParameters(linkPath, GeneralParameters{}); });
        } else {
            AppPaths paths = projectPaths(project);
            QVERIFY(writeFile(dir.filePath(QStringLiteral("MASTER/SX51804.sx")), "S9030000FC\r\n"));
            const Result<FirmwareJob> plan =
                planFirmwareJob(paths, dir.filePath(QStringLiteral("MASTER")));
            QCOMPARE(plan.problems.size(), 1);
            message = plan.problems.first().text;
        }
        QVERIFY2(message.startsWith(QStringLiteral("Cannot create file \"")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("is a symbolic link: the project's files are "
                                                 "written only inside the project folder")),
                 qPrintable(message));
        QCOMPARE(readFile(outside + QStringLiteral("/victim")), QByteArray("keep me"));
        // The bank files are written together: a refused bankg.c leaves no new bank1.bin.
        if (output == QLatin1String("bankg.c")) {
            QVERIFY(failureOf([&] {
                        SaveBankBinary(project, ConfigurationBank{});
                    }).contains(QStringLiteral("is a symbolic link")));
            QVERIFY(!QFileInfo::exists(project + QStringLiteral("/bin/bank1.bin")));
        }
        QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("victim")});
    }

    void outputPathsOfTheProject_data()
    {
        QTest::addColumn<QString>("path");    // below the project folder
        QTest::addColumn<QString>("refusal"); // part of the message; "" when it may be written
        QTest::newRow("new file") << "bin/bank1.bin"
                                  << "";
        QTest::newRow("folder not made yet") << "later/x.xml"
                                             << "";
        QTest::newRow("climbs out") << "bin/../../other.xml"
                                    << "is not inside the project folder";
        QTest::newRow("a folder in the place of the file") << "bin"
                                                           << "It is not a regular file";
        QTest::newRow("a file in the place of a folder") << "pargen.xml/x.xml"
                                                         << "\"pargen.xml\" is not a folder";
    }

    void outputPathsOfTheProject()
    {
        QFETCH(QString, path);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("bin"))));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("pargen.xml")), "x"));
        const Problems problems = projectOutputProblems(dir.path(), dir.path() + u'/' + path);
        if (refusal.isEmpty()) {
            QCOMPARE(problemLines(problems), QStringList());
        } else {
            QCOMPARE(problems.size(), 1);
            QVERIFY2(problems.first().text.contains(refusal.replace(
                         QStringLiteral("\"pargen.xml\""),
                         u'"' + QDir::toNativeSeparators(dir.filePath("pargen.xml")) + u'"')),
                     qPrintable(problems.first().text));
        }
    }

    // A project folder that is a symbolic link out of PROJECTS is neither opened nor restored.
    void projectFolderLinkedOutOfProjects()
    {
        QTemporaryDir exe;
        QVERIFY(QDir(exe.path()).mkpath(QStringLiteral("PROJECTS/Alpha")));
        QVERIFY(QDir(exe.path()).mkpath(QStringLiteral("elsewhere/Foreign")));
        QVERIFY(QFile::link(exe.filePath(QStringLiteral("elsewhere/Foreign")),
                            exe.filePath(QStringLiteral("PROJECTS/Foreign"))));
        // A link that stays inside PROJECTS is just another way to the same project.
        QVERIFY(QFile::link(exe.filePath(QStringLiteral("PROJECTS/Alpha")),
                            exe.filePath(QStringLiteral("PROJECTS/Nickname"))));
        QVERIFY(writeFile(exe.filePath(QStringLiteral("Quillner.ini")),
                          "[lastproj]\r\nprojectname=\\Foreign\r\n"));

        AppPaths paths;
        QVERIFY(!ResolveAppPaths(paths, exe.path()));
        QCOMPARE(paths.ProjectDir, paths.ProjectsDir);

        QVERIFY(writeFile(exe.filePath(QStringLiteral("Quillner.ini")),
                          "[lastproj]\r\nprojectname=\\Alpha\r\n"));
        QVERIFY(ResolveAppPaths(paths, exe.path()));
        const AppPaths before = paths;
        prepareOpenProject(paths);
        const QString foreign =
            QDir::toNativeSeparators(exe.filePath(QStringLiteral("PROJECTS/Foreign")));
        const QString message = failureOf([&] { finishOpenProject(paths, &foreign); });
        QVERIFY2(message.startsWith(QStringLiteral("Project not valid: \"") + foreign +
                                    QStringLiteral("\" leads out of")),
                 qPrintable(message));
        QCOMPARE(paths.ProjectDir, before.ProjectDir);
        QCOMPARE(paths.ProjectName, before.ProjectName);

        const QString nickname =
            QDir::toNativeSeparators(exe.filePath(QStringLiteral("PROJECTS/Nickname")));
        finishOpenProject(paths, &nickname);
        QCOMPARE(paths.ProjectDir, nickname);
    }

    // A remembered name that climbs out of PROJECTS with ".." is no remembered project, even when
    // its folder exists.
    void rememberedNameClimbingOut_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("backslashes") << QByteArray("\\..\\Outside");
        QTest::newRow("slashes") << QByteArray("/../Outside");
        QTest::newRow("in the middle") << QByteArray("\\Alpha\\..\\..\\Outside");
    }

    void rememberedNameClimbingOut()
    {
        QFETCH(QByteArray, name);
        QTemporaryDir exe;
        QVERIFY(QDir(exe.path()).mkpath(QStringLiteral("PROJECTS/Alpha")));
        QVERIFY(QDir(exe.path()).mkpath(QStringLiteral("Outside")));
        QVERIFY(writeFile(exe.filePath(QStringLiteral("Quillner.ini")),
                          "[lastproj]\r\nprojectname=" + name + "\r\n"));
        AppPaths paths;
        QVERIFY(!ResolveAppPaths(paths, exe.path()));
        QCOMPARE(paths.ProjectName, QString());
        QCOMPARE(paths.ProjectDir, paths.ProjectsDir);
    }

    // A project name with blanks or quotes at its edges survives a save and a reload of
    // Quillner.ini exactly.
    void namesWithBlanksAndQuotesSurvive_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("trailing blank") << "\\Beta ";
        QTest::newRow("leading blank") << " Beta";
        QTest::newRow("double quotes around") << "\"Beta\"";
        QTest::newRow("single quotes around") << "'Beta'";
        QTest::newRow("one quote at the end") << "\\Beta\"";
        QTest::newRow("tab at the end") << "\\Beta\t";
        QTest::newRow("plain") << "\\Beta";
        QTest::newRow("blank inside") << "\\Demo Line";
        QTest::newRow("empty") << "";
    }

    void namesWithBlanksAndQuotesSurvive()
    {
        QFETCH(QString, name);
        QTemporaryDir exe;
        const QString ini = exe.filePath(QStringLiteral("Quillner.ini"));
        writeProfileString(ini, QStringLiteral("lastproj"), QStringLiteral("projectname"), name);
        QCOMPARE(readProfileString(ini, QStringLiteral("lastproj"), QStringLiteral("projectname")),
                 name);
        // Plain names are stored as they are, as before.
        if (!name.isEmpty() && !name.front().isSpace() && !name.back().isSpace() &&
            name.front() != u'"' && name.front() != u'\'' && name.back() != u'"' &&
            name.back() != u'\'')
            QVERIFY(readFile(ini).contains("projectname=" + name.toUtf8() + "\r\n"));

        // And the project is restored by the next start.
        if (name.trimmed().isEmpty())
            return;
        QVERIFY(QDir(exe.path())
                    .mkpath(QStringLiteral("PROJECTS/") + QString(name).replace(u'\\', u'/')));
        AppPaths paths;
        QVERIFY(ResolveAppPaths(paths, exe.path()));
        QCOMPARE(QFileInfo(paths.ProjectDir).fileName(),
                 QFileInfo(QString(name).replace(u'\\', u'/')).fileName());
    }
};

QTEST_GUILESS_MAIN(TestProjectConfinement)
#include "tst_project_confinement.moc"
