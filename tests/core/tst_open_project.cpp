#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/documents/general_parameters.h"
#include "core/documents/project_edit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quillner;

namespace {

// The message of the edit's refusal, or "" when the edit writes pargen.xml.
QString writeThrough(const AppPaths& paths)
{
    try {
        ProjectEdit(paths).write(paths.PargenPath, generalParametersDocument(),
                                 generalParameterTexts(GeneralParameters{}));
        return {};
    } catch (const Error& error) {
        return error.message();
    }
}

} // namespace

// A run that knows its PROJECTS folder writes documents into a project below it only; the
// command line, which names any folder, is not held to it.
class TestOpenProject : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("PROJECTS/Alpha/bin"))));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("elsewhere"))));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("elsewhere")),
                            m_dir->filePath(QStringLiteral("PROJECTS/Linked"))));
    }

    void projectFolders_data()
    {
        QTest::addColumn<QString>("projects"); // below the temporary folder; "" for none known
        QTest::addColumn<QString>("project");  // below the temporary folder; "-" for empty
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("missing"); // missingProjectMessage
        QTest::addColumn<QString>("refusal"); // the start of ProjectEdit's refusal, "" for none
        QTest::addColumn<QString>("name");    // openProjectName
        const QString none = QStringLiteral("Open or create a project first.");
        QTest::newRow("a project below PROJECTS") << "PROJECTS"
                                                  << "PROJECTS/Alpha" << true << ""
                                                  << ""
                                                  << "Alpha";
        QTest::newRow("a deeper folder is a project") << "PROJECTS"
                                                      << "PROJECTS/Alpha/bin" << true << ""
                                                      << ""
                                                      << "Alpha/bin";
        QTest::newRow("PROJECTS itself")
            << "PROJECTS"
            << "PROJECTS" << false << none << "holds the projects and is none itself"
            << "";
        QTest::newRow("PROJECTS with a trailing separator")
            << "PROJECTS"
            << "PROJECTS/" << false << none << "holds the projects"
            << "";
        QTest::newRow("outside PROJECTS")
            << "PROJECTS"
            << "elsewhere" << false << none << "is not a project folder below"
            << "";
        QTest::newRow("a link out of PROJECTS")
            << "PROJECTS"
            << "PROJECTS/Linked" << false << none << "is not a project folder below"
            << "";
        QTest::newRow("empty, its folder gone") << "PROJECTS"
                                                << "-" << false << "Project not valid"
                                                << "Project not valid"
                                                << "";
        QTest::newRow("the command line: any folder") << ""
                                                      << "elsewhere" << true << ""
                                                      << ""
                                                      << "elsewhere";
    }

    void projectFolders()
    {
        QFETCH(QString, projects);
        QFETCH(QString, project);
        AppPaths paths;
        if (!projects.isEmpty())
            paths.ProjectsDir = QDir::toNativeSeparators(m_dir->filePath(projects));
        if (project != QLatin1String("-"))
            paths.ProjectDir = QDir::toNativeSeparators(m_dir->filePath(project));
        SetDocumentPaths(paths);

        QTEST(hasOpenProject(paths), "open");
        QTEST(missingProjectMessage(paths), "missing");
        QTEST(openProjectName(paths), "name");
        QFETCH(QString, refusal);
        const QString written = writeThrough(paths);
        if (refusal.isEmpty()) {
            QCOMPARE(written, QString());
            QVERIFY(QFile::exists(paths.PargenPath));
        } else {
            QVERIFY2(written.contains(refusal), qPrintable(written));
            QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("PROJECTS/pargen.xml"))));
            QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("elsewhere/pargen.xml"))));
        }
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestOpenProject)
#include "tst_open_project.moc"
