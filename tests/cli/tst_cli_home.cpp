#include "core/device/srec_record.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "test_files.h"

using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

// Code records over bank 1's range, ended by S9.
QByteArray firmware()
{
    QByteArray text = quillner::formatSRecord('0', 0, "QUILLNER TEST FIRMWARE") + "\r\n";
    for (quint32 address = 0x387000; address < 0x38D000; address += 32)
        text += quillner::formatSRecord('2', address, QByteArray(32, char(address >> 5))) + "\r\n";
    return text + quillner::formatSRecord('9', 0, {}) + "\r\n";
}

} // namespace

// --home names the data folder: its MASTER is the default firmware folder and the flashing
// tool is looked for there when it is not beside the program.
class TestCliHome : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
#ifdef Q_OS_WIN
        QSKIP("The recording flashing tool is a shell script");
#endif
        m_dir = std::make_unique<QTemporaryDir>();
        m_tool = m_dir->filePath(QStringLiteral("tool"));
        m_home = m_dir->filePath(QStringLiteral("home"));
        m_project = m_home + QStringLiteral("/PROJECTS/Line");
        QVERIFY(QDir().mkpath(m_tool));
        QVERIFY(QDir().mkpath(m_project + QStringLiteral("/bin")));
        QVERIFY(
            QFile::copy(QStringLiteral(QUILLNER_CLI), m_tool + QStringLiteral("/quillner-cli")));
        quillner::saveGeneralParameters(m_project + QStringLiteral("/pargen.xml"),
                                        quillner::GeneralParameters{});
        quillner::saveFilter20A(m_project + QStringLiteral("/Filter20A.xml"),
                                quillner::Filter20A{});
        QVERIFY(writeFile(m_home + QStringLiteral("/MASTER/SX51804.sx"), firmware()));
        const QString flasher = m_home + QStringLiteral("/Morvex.exe");
        QVERIFY(writeFile(flasher,
                          "#!/bin/sh\n"
                          "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/call.part\"\n"
                          "mv \"$(dirname \"$0\")/call.part\" \"$(dirname \"$0\")/call.txt\"\n"));
        QVERIFY(QFile::setPermissions(flasher, QFile::permissions(flasher) | QFile::ExeOwner));
    }
    void cleanup()
    {
        m_dir.reset();
    }

    void updateUsesTheHomeFolder()
    {
        const int status =
            run({QStringLiteral("update"), m_project, QStringLiteral("--home"), m_home,
                 QStringLiteral("--flash"), QStringLiteral("--port"), QStringLiteral("1")});
        QCOMPARE(m_err, QString());
        QCOMPARE(status, 0);
        QVERIFY(QFile::exists(m_project + QStringLiteral("/New_SX51804.sx")));
        const QString call = m_home + QStringLiteral("/call.txt");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(call), 10000);
        QCOMPARE(
            readFile(call),
            QDir::toNativeSeparators(m_project + QStringLiteral("/New_SX51804.sx\n1\n")).toUtf8());
    }

    void withoutHomeThePortableFolderIsUsed()
    {
        // The program's folder is writable, so it is the data folder; it has no MASTER.
        const int status = run({QStringLiteral("merge"), m_project});
        QCOMPARE(status, 1);
        QVERIFY2(
            m_err.startsWith(QStringLiteral("error: Error file SX51804.sx not found\nLooked for ")),
            qPrintable(m_err));
        QVERIFY2(m_err.endsWith(QStringLiteral("with --master DIR.\n")), qPrintable(m_err));
    }

    // Without the flashing tool, update and batch name every folder it was looked for in.
    void aMissingFlasherNamesWhereItWasLookedFor_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("update") << QStringList{"update", "PROJECT", "--flash", "--port", "1"};
        QTest::newRow("batch") << QStringList{"batch", "TABLE",   "--master", "MASTER", "--out",
                                              "OUT",   "--flash", "--ports",  "0"};
    }

    void aMissingFlasherNamesWhereItWasLookedFor()
    {
        QFETCH(QStringList, arguments);
        QVERIFY(QFile::remove(m_home + QStringLiteral("/Morvex.exe")));
        const QString table = m_dir->filePath(QStringLiteral("rows.csv"));
        QVERIFY(writeFile(table, "name\nLine9\n"));
        arguments.replaceInStrings(QStringLiteral("PROJECT"), m_project)
            .replaceInStrings(QStringLiteral("TABLE"), table)
            .replaceInStrings(QStringLiteral("MASTER"), m_home + QStringLiteral("/MASTER"))
            .replaceInStrings(QStringLiteral("OUT"), m_dir->filePath(QStringLiteral("out")));
        QCOMPARE(run(arguments + QStringList{QStringLiteral("--home"), m_home}), 1);
        QVERIFY2(m_err.contains(
                     QStringLiteral("error: Morvex.exe Not Found, Procedure Aborted\n"
                                    "Looked in %1, then in %2\n")
                         .arg(QDir::toNativeSeparators(m_tool), QDir::toNativeSeparators(m_home))),
                 qPrintable(m_err));
    }

    void homeOnlyWhereMasterApplies()
    {
        QCOMPARE(run({QStringLiteral("compile"), m_project, QStringLiteral("--home"), m_home}), 2);
        QVERIFY(m_err.startsWith(QStringLiteral("error: --home does not apply to compile\n")));
    }

private:
    int run(const QStringList& arguments)
    {
        QProcess process;
        process.start(m_tool + QStringLiteral("/quillner-cli"), arguments);
        if (!process.waitForFinished(60000))
            return -1;
        m_err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_tool;
    QString m_home;
    QString m_project;
    QString m_err;
};

QTEST_GUILESS_MAIN(TestCliHome)
#include "tst_cli_home.moc"
