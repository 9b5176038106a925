// Every command that writes a project document follows one rule: it holds the project's lock,
// it never writes over a document that cannot be read, and it changes only what it was asked to.

#include "core/app/project_lock.h"
#include "core/documents/general_parameters.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

Run runCli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

QString data(const char* name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/") + QString::fromLatin1(name);
}

QByteArray pargen(const char* canType)
{
    return QByteArray("<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par><Can_Type>") +
           canType +
           "</Can_Type><Can_Baud>5</Can_Baud><Can_Enable_RTR>0</Can_Enable_RTR>"
           "</General_Parameter>\r\n";
}

const QByteArray kBroken = "<Filter20B><Type>1</Type>";

} // namespace

class TestCliProjectEdits : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_project;

    QString file(const char* name) const { return QDir(m_project).filePath(name); }

    void makeProject(const char* canType)
    {
        m_project = m_dir.filePath(QStringLiteral("p%1").arg(++m_count));
        QVERIFY(QDir().mkpath(m_project + QStringLiteral("/bin")));
        QVERIFY(writeFile(file("pargen.xml"), pargen(canType)));
    }

    int m_count = 0;

    // Every writer of a document, with the frame format it needs and the document it writes.
    static void writers()
    {
        QTest::addColumn<QString>("canType");
        QTest::addColumn<QString>("document");
        QTest::addColumn<QStringList>("arguments"); // PROJECT stands for the project folder
        QTest::newRow("filter set --hide")
            << "0"
            << "Filter20A.xml" << QStringList{"filter", "set", "PROJECT", "--hide", "0x100"};
        QTest::newRow("filter set --list")
            << "1"
            << "Filter20B.xml" << QStringList{"filter", "set", "PROJECT", "--list", "0x100"};
        QTest::newRow("filter set --patterns")
            << "1"
            << "Filter20B.xml" << QStringList{"filter", "set", "PROJECT", "--patterns", "1x0"};
        QTest::newRow("filter fit --apply")
            << "1"
            << "Filter20B.xml"
            << QStringList{"filter", "fit", "--ids", "0x100-0x1FF", "--apply", "PROJECT"};
        QTest::newRow("filter import-dbc 2.0A")
            << "0"
            << "Filter20A.xml"
            << QStringList{"filter", "import-dbc", "PROJECT", data("filters/engine_messages.dbc")};
        QTest::newRow("filter import-dbc 2.0B")
            << "1"
            << "Filter20B.xml"
            << QStringList{"filter", "import-dbc", "PROJECT", data("filters/engine_messages.dbc")};
        QTest::newRow("set") << "0"
                             << "pargen.xml" << QStringList{"set", "PROJECT", "can.baud=500"};
    }

    QStringList withProject(QStringList arguments) const
    {
        arguments.replaceInStrings(QStringLiteral("PROJECT"), m_project);
        return arguments;
    }

private Q_SLOTS:
    void unreadableDocumentIsNotWrittenOver_data() { writers(); }

    void unreadableDocumentIsNotWrittenOver()
    {
        QFETCH(QString, canType);
        QFETCH(QString, document);
        QFETCH(QStringList, arguments);
        makeProject(qPrintable(canType));
        const QString path = QDir(m_project).filePath(document);
        QVERIFY(writeFile(path, kBroken));
        const Run run = runCli(withProject(arguments));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(document + QStringLiteral(" cannot be read, so it is not "
                                                            "rewritten")),
                 qPrintable(run.err));
        QCOMPARE(readFile(path), kBroken);
    }

    void writersWaitForTheProjectLock_data() { writers(); }

    void writersWaitForTheProjectLock()
    {
        QFETCH(QString, canType);
        QFETCH(QString, document);
        QFETCH(QStringList, arguments);
        makeProject(qPrintable(canType));
        const QString path = QDir(m_project).filePath(document);
        const QByteArray before = readFile(path);
        const ProjectLock lock(m_project);
        const Run run = runCli(withProject(arguments));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("error: ") + projectBusyMessage(m_project) +
                                  u'\n' + quillner::projectLockPath(m_project) + u' '),
                 qPrintable(run.err));
        QCOMPARE(readFile(path), before);
    }

    // An empty 2.0B list or pattern set lets every extended frame through: written only when asked
    // for with --allow-all.
    void noCommandOpensTheGatewayUnasked_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("empty patterns")
            << QStringList{"filter", "set", "PROJECT", "--patterns", ""}
            << "The 2.0B pattern list is empty: the device would let every extended frame through";
        QTest::newRow("empty list")
            << QStringList{"filter", "set", "PROJECT", "--list", ""}
            << "The 2.0B COB-ID list is empty: the device would let every extended frame through";
        QTest::newRow("pattern of 29 x")
            << QStringList{"filter", "set", "PROJECT", "--patterns", QString(29, u'x')}
            << "A 2.0B pattern fixes no bit (every position free): the device would let every "
               "extended frame through";
        QTest::newRow("DBC of standard messages")
            << QStringList{"filter", "import-dbc", "PROJECT", "STANDARD_DBC"}
            << "standard.dbc gives no identifier of this CAN 2.0B project: the filter would let "
               "every extended frame through";
    }

    void noCommandOpensTheGatewayUnasked()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, refusal);
        makeProject("1");
        const QString standardDbc = QDir(m_project).filePath(QStringLiteral("standard.dbc"));
        QVERIFY(writeFile(standardDbc, "BO_ 291 Status: 8 Engine\n"));
        arguments.replaceInStrings(QStringLiteral("STANDARD_DBC"), standardDbc);
        const Run refused = runCli(withProject(arguments));
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(refusal), qPrintable(refused.err));
        QVERIFY(!QFileInfo::exists(file("Filter20B.xml")));

        const Run asked = runCli(withProject(arguments) << QStringLiteral("--allow-all"));
        QCOMPARE(asked.exitCode, 0);
        QVERIFY(QFileInfo::exists(file("Filter20B.xml")));
    }

    // A DBC without a single message gives nothing, and nothing is written.
    void aDbcWithoutMessagesIsRefused()
    {
        makeProject("0");
        const QString empty = QDir(m_project).filePath(QStringLiteral("empty.dbc"));
        QVERIFY(writeFile(empty, "VERSION \"\"\n\nBU_: Engine\n"));
        const Run run = runCli({"filter", "import-dbc", m_project, empty, "--allow-all"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("holds no message")), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(file("Filter20A.xml")));
    }

    // The frame format is the device's: Can_Type 256 compiles to 2.0A, so the 2.0A filter is the
    // one that is edited, and 257 is 2.0B.
    void frameFormatIsTheDevices_data()
    {
        QTest::addColumn<QString>("canType");
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("256 takes --hide") << "256"
                                          << "--hide" << 0;
        QTest::newRow("256 refuses --list") << "256"
                                            << "--list" << 1;
        QTest::newRow("257 takes --list") << "257"
                                          << "--list" << 0;
        QTest::newRow("257 refuses --hide") << "257"
                                            << "--hide" << 1;
    }

    void frameFormatIsTheDevices()
    {
        QFETCH(QString, canType);
        QFETCH(QString, option);
        makeProject(qPrintable(canType));
        const Run run = runCli({"filter", "set", m_project, option, "0x100"});
        QTEST(run.exitCode, "exitCode");
        if (run.exitCode == 0) {
            const Run show = runCli({"show", m_project});
            QVERIFY2(show.out.contains(option == QLatin1String("--hide")
                                           ? QStringLiteral("2047 of 2048 identifiers visible")
                                           : QStringLiteral("identifier list")),
                     qPrintable(show.out));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliProjectEdits)
#include "tst_cli_project_edits.moc"
