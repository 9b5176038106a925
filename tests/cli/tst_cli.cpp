#include "core/bank/bank_decode.h"
#include "core/device/srec_record.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "file_size_limit.h"
#include "support/program_run.h"
#include "test_files.h"

#include <memory>

using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

using quillner::testing::Run;

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

// A project made by the New project window has no filter document until the filter is saved.
const QString kNoFilter20AWarning =
    QStringLiteral("warning: Filter20A.xml: not found (no 2.0A filter saved yet); the device "
                   "lets every identifier through\n");

// A description's lines after its first, which names the source.
QString afterSourceLine(const QString& description)
{
    return description.mid(description.indexOf(u'\n') + 1);
}

QString sourceLine(const QString& description)
{
    return description.left(description.indexOf(u'\n'));
}

// Code records around bank 1 and over its range, ended by the given end record.
QByteArray firmware(quint32 first, quint32 end, char endType)
{
    QByteArray text = quillner::formatSRecord('0', 0, kHeader) + "\r\n";
    for (quint32 address = first; address < end; address += 32)
        text += quillner::formatSRecord('2', address, QByteArray(32, char(address >> 5))) + "\r\n";
    text += quillner::formatSRecord(endType, 0, {}) + "\r\n";
    return text;
}

} // namespace

// quillner-cli runs from a copy in a tool folder of its own, with MASTER, PROJECTS and a
// stand-in Morvex.exe that records how it was started.
class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void helpAndVersion();
    void eachCommandHasItsHelp_data();
    void eachCommandHasItsHelp();
    void quietKeepsOnlyErrors();
    void decodeReadsStandardInput();
    void usageErrors_data();
    void usageErrors();
    void compileWritesTheTwoBankFiles();
    void compileErrors_data();
    void compileErrors();
    void compileMakesAMissingBinFolder();
    void compileOnAFullDiskKeepsBothBankFiles();
    void unreadableDocumentsStopUnlessLenient();
    void valueOutsideItsListWarns();
    void mergeTellsTheOutcome_data();
    void mergeTellsTheOutcome();
    void mergeErrors_data();
    void mergeErrors();
    void mergeRemovesOldBankRecordFiles_data();
    void mergeRemovesOldBankRecordFiles();
    void updateFlashesTheMergedFile();
    void updateDoesNotFlashWithoutTheBank();
    void updateWithoutFlasher();
    void showDescribesWithoutWriting();
    void showFilter20BList();
    void decodeOfBankAndMergedFirmwareAgree();
    void decodeRefusesAFaultyFirmware();
    void decodeToldProblems();
    void verifyChecksAMergedFile();
    void verifyProjectIsTheDocumentsAsTheyCompileNow();
    void updateWaitsForTheFlasher_data();
    void updateWaitsForTheFlasher();
    void aFolderWithoutPargenIsNoProject_data();
    void aFolderWithoutPargenIsNoProject();
    void updateDoesNotFlashAFirmwareWithABadRecord();
    void flasherStandInChecksTheFile();

private:
    Run cli(const QStringList& arguments, const QString& workingDirectory = {}) const;
    QString projectFile(const QString& name) const { return QDir(m_project).filePath(name); }
    QString firmwarePath() const { return m_tool + QStringLiteral("/MASTER/SX51804.sx"); }
    QString recordPath() const { return m_tool + QStringLiteral("/morvex-call.txt"); }
    void writeRecordingFlasher() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_tool;
    QString m_project;
};

void TestCli::init()
{
#ifdef Q_OS_WIN
    QSKIP("The recording flashing tool is a shell script");
#endif
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_tool = m_dir->filePath(QStringLiteral("tool"));
    m_project = m_tool + QStringLiteral("/PROJECTS/Demo Line");
    QVERIFY(QDir().mkpath(m_project + QStringLiteral("/bin")));
    QVERIFY(QDir().mkpath(m_tool + QStringLiteral("/MASTER")));
    QVERIFY(QFile::copy(QStringLiteral(QUILLNER_CLI), m_tool + QStringLiteral("/quillner-cli")));
    quillner::saveGeneralParameters(projectFile(QStringLiteral("pargen.xml")),
                                    quillner::GeneralParameters{});
    // Every identifier visible, as without the document, but without the warning of a filter
    // never saved.
    quillner::saveFilter20A(projectFile(QStringLiteral("Filter20A.xml")), quillner::Filter20A{});
    QVERIFY(writeFile(firmwarePath(), firmware(0x387000, 0x38D000, '9')));
    writeRecordingFlasher();
}

void TestCli::cleanup()
{
    m_dir.reset();
}

void TestCli::writeRecordingFlasher() const
{
    const QString path = m_tool + QStringLiteral("/Morvex.exe");
    QVERIFY(writeFile(path, "#!/bin/sh\n"
                            "record=\"$(dirname \"$0\")/morvex-call.txt\"\n"
                            "{ for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done; "
                            "printf 'cwd=%s\\n' \"$(pwd)\"; } > \"$record.part\"\n"
                            "mv \"$record.part\" \"$record\"\n"));
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner));
}

Run TestCli::cli(const QStringList& arguments, const QString& workingDirectory) const
{
    return quillner::testing::runProgram(m_tool + QStringLiteral("/quillner-cli"), arguments,
                                         workingDirectory.isEmpty() ? m_dir->path()
                                                                    : workingDirectory);
}

void TestCli::helpAndVersion()
{
    const Run help = cli({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Usage: quillner-cli [-q] COMMAND")));
    for (const char* command : {"compile", "merge", "update", "show", "decode"})
        QVERIFY(help.out.contains(QStringLiteral("\n  %1 ").arg(QLatin1String(command))));
    QCOMPARE(help.err, QString());

    const Run version = cli({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QStringLiteral("quillner-cli " QUILLNER_VERSION "\n"));
}

void TestCli::eachCommandHasItsHelp_data()
{
    QTest::addColumn<QString>("command");
    for (const char* command : {"new", "set", "get", "show", "compile", "merge", "update", "verify",
                                "decode", "describe", "diff", "import", "batch", "filter"})
        QTest::newRow(command) << QString::fromLatin1(command);
}

// help COMMAND, COMMAND --help and COMMAND -h print the same text, and only that command's.
void TestCli::eachCommandHasItsHelp()
{
    QFETCH(QString, command);
    const Run help = cli({QStringLiteral("help"), command});
    QCOMPARE(help.exitCode, 0);
    QCOMPARE(help.err, QString());
    QVERIFY2(help.out.startsWith(QStringLiteral("Usage:")), qPrintable(help.out));
    QVERIFY(help.out.contains(QStringLiteral("quillner-cli ") + command));
    QVERIFY(help.out.contains(QStringLiteral("Example")));
    QVERIFY(help.out != cli({QStringLiteral("--help")}).out);
    for (const char* option : {"--help", "-h"}) {
        const Run asked = cli({command, QStringLiteral("PROJECT"), QString::fromLatin1(option)});
        QCOMPARE(asked.exitCode, 0);
        QCOMPARE(asked.out, help.out);
    }
    QCOMPARE(cli({QStringLiteral("-h")}).out, cli({QStringLiteral("--help")}).out);

    const Run unknown = cli({QStringLiteral("help"), QStringLiteral("frobnicate")});
    QCOMPARE(unknown.exitCode, 2);
    QVERIFY(unknown.err.startsWith(QStringLiteral("error: unknown command 'frobnicate'\n")));
}

void TestCli::quietKeepsOnlyErrors()
{
    // A value outside its list is a warning, which -q silences with the report of what was
    // written; the bank is written all the same.
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>9</Ser_Baud><Ser_Par>0</Ser_Par>"
                      "<Can_Type>0</Can_Type><Can_Baud>5</Can_Baud>"
                      "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n"));
    const Run loud = cli({QStringLiteral("compile"), m_project});
    QCOMPARE(loud.exitCode, 0);
    QVERIFY(loud.err.startsWith(QStringLiteral("warning: ")));
    QVERIFY(!loud.out.isEmpty());
    for (const QStringList& arguments :
         {QStringList{"-q", "compile", m_project}, QStringList{"compile", m_project, "--quiet"}}) {
        QVERIFY(QFile::remove(projectFile(QStringLiteral("bin/bank1.bin"))));
        const Run quiet = cli(arguments);
        QCOMPARE(quiet.exitCode, 0);
        QCOMPARE(quiet.out, QString());
        QCOMPARE(quiet.err, QString());
        QVERIFY(QFile::exists(projectFile(QStringLiteral("bin/bank1.bin"))));
    }
    // Errors still reach the terminal, usage errors included.
    const Run failed = cli({QStringLiteral("-q"), QStringLiteral("decode"),
                            projectFile(QStringLiteral("missing.bin"))});
    QCOMPARE(failed.exitCode, 1);
    QVERIFY(failed.err.startsWith(QStringLiteral("error: ")));
    const Run usage = cli({QStringLiteral("-q"), QStringLiteral("compile")});
    QCOMPARE(usage.exitCode, 2);
    QVERIFY(usage.err.startsWith(QStringLiteral("error: compile takes one PROJECT_DIR\n")));
}

void TestCli::decodeReadsStandardInput()
{
    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    for (const char* name : {"bin/bank1.bin", "New_SX51804.sx"}) {
        const QString path = projectFile(QString::fromLatin1(name));
        const Run fromFile = cli({QStringLiteral("decode"), path});
        const Run fromInput = quillner::testing::runProgram(
            m_tool + QStringLiteral("/quillner-cli"),
            {QStringLiteral("decode"), QStringLiteral("-")}, m_dir->path(), readFile(path));
        QCOMPARE(fromInput.exitCode, 0);
        QCOMPARE(fromInput.err, QString());
        QCOMPARE(afterSourceLine(fromInput.out), afterSourceLine(fromFile.out));
        QVERIFY2(sourceLine(fromFile.out).endsWith(QStringLiteral(": ") + path),
                 qPrintable(fromFile.out));
        QVERIFY2(sourceLine(fromInput.out).endsWith(QStringLiteral(": standard input")),
                 qPrintable(fromInput.out));
    }
    const Run empty = quillner::testing::runProgram(
        m_tool + QStringLiteral("/quillner-cli"), {QStringLiteral("decode"), QStringLiteral("-")});
    QCOMPARE(empty.exitCode, 1);
    QVERIFY(empty.err.startsWith(QStringLiteral("error: ")));
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString project = QStringLiteral("tool/PROJECTS/Demo Line");
    QTest::newRow("no command") << QStringList{} << "error: no command given";
    QTest::newRow("unknown command")
        << QStringList{"frobnicate", "x"} << "error: unknown command 'frobnicate'";
    QTest::newRow("missing argument")
        << QStringList{"compile"} << "error: compile takes one PROJECT_DIR";
    QTest::newRow("two arguments")
        << QStringList{"decode", "a", "b"} << "error: decode takes one FILE";
    QTest::newRow("unknown option")
        << QStringList{"compile", project, "--bogus"} << "error: Unknown option 'bogus'.";
    QTest::newRow("json for compile")
        << QStringList{"compile", project, "--json"} << "error: --json does not apply to compile";
    QTest::newRow("strict for merge")
        << QStringList{"merge", project, "--strict"} << "error: --strict does not apply to merge";
    QTest::newRow("lenient for decode") << QStringList{"decode", project, "--lenient"}
                                        << "error: --lenient does not apply to decode";
    QTest::newRow("lenient and strict") << QStringList{"compile", project, "--lenient", "--strict"}
                                        << "error: --lenient and --strict exclude each other";
    QTest::newRow("master for show") << QStringList{"show", project, "--master", "MASTER"}
                                     << "error: --master does not apply to show";
    QTest::newRow("flash without port")
        << QStringList{"update", project, "--flash"} << "error: --flash needs --port N";
    QTest::newRow("port without flash")
        << QStringList{"update", project, "--port", "2"} << "error: --port needs --flash";
    QTest::newRow("port 8")
        << QStringList{"update", project, "--flash", "--port", "8"}
        << "error: --port takes a port index from 0 (COM1) to 7 (COM8), not '8'";
    QTest::newRow("port -1")
        << QStringList{"update", project, "--flash", "--port", "-1"}
        << "error: --port takes a port index from 0 (COM1) to 7 (COM8), not '-1'";
    QTest::newRow("port COM3")
        << QStringList{"update", project, "--flash", "--port", "COM3"}
        << "error: --port takes a port index from 0 (COM1) to 7 (COM8), not 'COM3'";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith(message + u'\n'), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    // A usage error stops before anything is written.
    QCOMPARE(entries(projectFile(QStringLiteral("bin"))), QStringList());
}

void TestCli::compileWritesTheTwoBankFiles()
{
    const QStringList before = entries(m_project);
    const Run run = cli({QStringLiteral("compile"), m_project});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QVERIFY(run.out.startsWith(QStringLiteral("Written: ")));
    QCOMPARE(entries(m_project), before);
    QCOMPARE(entries(projectFile(QStringLiteral("bin"))),
             QStringList({QStringLiteral("bank1.bin"), QStringLiteral("bankg.c")}));
    const QByteArray bank = readFile(projectFile(QStringLiteral("bin/bank1.bin")));
    QCOMPARE(bank.size(), quillner::kBankSize);
    QCOMPARE(bank.left(5), QByteArray::fromHex("0700000600"));
    QCOMPARE(QFileInfo(projectFile(QStringLiteral("bin/bankg.c"))).size(), 117824);
}

void TestCli::compileErrors_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("bin is no folder") << "bin file"
                                      << "error: Cannot create file \"";
    QTest::newRow("no project folder") << "no project"
                                       << "error: Project not valid: ";
}

void TestCli::compileErrors()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QString project = m_project;
    if (fault == QLatin1String("bin file")) {
        QVERIFY(QDir(projectFile(QStringLiteral("bin"))).removeRecursively());
        QVERIFY(writeFile(projectFile(QStringLiteral("bin")), "not a folder"));
    } else {
        project += QStringLiteral("/missing");
    }
    const Run run = cli({QStringLiteral("compile"), project});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
    const QStringList expected{QStringLiteral("Filter20A.xml"), QStringLiteral("bin"),
                               QStringLiteral("pargen.xml")};
    QCOMPARE(entries(m_project), expected);
}

// git keeps no empty folder: a project cloned from a repository compiles and updates all the same.
void TestCli::compileMakesAMissingBinFolder()
{
    QVERIFY(QDir(projectFile(QStringLiteral("bin"))).removeRecursively());
    const Run run = cli({QStringLiteral("update"), m_project, QStringLiteral("--master"),
                         m_tool + QStringLiteral("/MASTER")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bank1.bin"))).size(), 16384);
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bankg.c"))).size(), 117824);
    QVERIFY(QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
}

// A full disk while the bank files are written leaves both as they were, never a new bank1.bin
// beside an older bankg.c.
void TestCli::compileOnAFullDiskKeepsBothBankFiles()
{
    QCOMPARE(cli({QStringLiteral("compile"), m_project}).exitCode, 0);
    const QByteArray binary = readFile(projectFile(QStringLiteral("bin/bank1.bin")));
    const QByteArray source = readFile(projectFile(QStringLiteral("bin/bankg.c")));
    quillner::GeneralParameters faster;
    faster.Can_Baud = 6;
    quillner::saveGeneralParameters(projectFile(QStringLiteral("pargen.xml")), faster);

    Run run;
    {
        // Room for bank1.bin, not for bankg.c.
        const quillner::testing::FileSizeLimit limit(16384 + 1000);
        run = cli({QStringLiteral("compile"), m_project});
    }
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.err.startsWith(QStringLiteral("error: Cannot create file \"") +
                           QDir::toNativeSeparators(projectFile(QStringLiteral("bin/bankg.c")))),
        qPrintable(run.err));
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bank1.bin"))), binary);
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bankg.c"))), source);
    QCOMPARE(entries(projectFile(QStringLiteral("bin"))),
             QStringList({QStringLiteral("bank1.bin"), QStringLiteral("bankg.c")}));
}

// A document that exists but cannot be read stops compile, show and update before anything is
// written; --lenient goes on with zeros for what was not read; --strict changes nothing.
void TestCli::unreadableDocumentsStopUnlessLenient()
{
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>abc</Ser_Par>"
                      "</General_Parameter>\r\n"));
    const QString error =
        QStringLiteral("error: pargen.xml, Ser_Par: 'abc' is not a valid integer value\n"
                       "error: the project's documents could not be read; nothing was written "
                       "(--lenient builds the bank with zeros for what was not read)\n");
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("compile"), m_project, QStringLiteral("--strict")},
          QStringList{QStringLiteral("compile"), m_project}}) {
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("error: pargen.xml, Ser_Par: ")),
                 qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("abc")));
        QCOMPARE(run.err, error);
        QCOMPARE(run.out, QString());
        QCOMPARE(entries(projectFile(QStringLiteral("bin"))), QStringList());
    }

    const Run lenient = cli({QStringLiteral("compile"), m_project, QStringLiteral("--lenient")});
    QCOMPARE(lenient.exitCode, 0);
    QVERIFY2(lenient.err.startsWith(QStringLiteral("warning: pargen.xml, Ser_Par: ")),
             qPrintable(lenient.err));
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bank1.bin"))).left(2),
             QByteArray::fromHex("0700"));
    QVERIFY(QFile::remove(projectFile(QStringLiteral("bin/bank1.bin"))));
    QVERIFY(QFile::remove(projectFile(QStringLiteral("bin/bankg.c"))));

    for (const QString& flag : {QStringLiteral("--strict"), QString()}) {
        QStringList show{QStringLiteral("show"), m_project};
        QStringList update{QStringLiteral("update"), m_project};
        if (!flag.isEmpty()) {
            show << flag;
            update << flag;
        }
        const Run shown = cli(show);
        QCOMPARE(shown.exitCode, 1);
        QCOMPARE(shown.out, QString());
        QCOMPARE(shown.err, error);
        const Run updated = cli(update);
        QCOMPARE(updated.exitCode, 1);
        QCOMPARE(updated.err, error);
        QVERIFY(!QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
        QCOMPARE(entries(projectFile(QStringLiteral("bin"))), QStringList());
    }
    const Run shown = cli({QStringLiteral("show"), m_project, QStringLiteral("--lenient")});
    QCOMPARE(shown.exitCode, 0);
    QVERIFY(shown.out.startsWith(QStringLiteral("Project: ") + m_project +
                                 QStringLiteral("\nSerial line: 115200 bit/s")));
}

// A value outside its list is a warning that names the setting and what the device gets; the
// command goes on.
void TestCli::valueOutsideItsListWarns()
{
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par>"
                      "<Can_Type>0</Can_Type><Can_Baud>-1</Can_Baud>"
                      "<Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>\r\n"));
    const Run run = cli({QStringLiteral("compile"), m_project});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QStringLiteral("warning: pargen.xml, Can_Baud: -1 is not in the list (0 to "
                                     "8); the device gets code 0, which no window sets\n"));
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bank1.bin"))).left(5),
             QByteArray::fromHex("0700000000"));

    // So is a document not saved yet, saying what the device will do without it.
    QVERIFY(QFile::remove(projectFile(QStringLiteral("Filter20A.xml"))));
    const Run fresh = cli({QStringLiteral("show"), m_project});
    QCOMPARE(fresh.exitCode, 0);
    QVERIFY2(fresh.err.endsWith(kNoFilter20AWarning), qPrintable(fresh.err));
    QVERIFY(fresh.out.contains(QStringLiteral("Filter: 2.0A, all 2048 identifiers visible")));
}

void TestCli::mergeTellsTheOutcome_data()
{
    QTest::addColumn<QByteArray>("firmware");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("bank inserted")
        << firmware(0x387000, 0x38D000, '9') << "New_SX51804.sx: bank 1 inserted (outcome 1)" << 0;
    QTest::newRow("no bank range")
        << firmware(0x370000, 0x380000, '9')
        << "New_SX51804.sx: bank 1 not found in the firmware (outcome 0)" << 3;
    QTest::newRow("S8 end, bank inserted")
        << firmware(0x387000, 0x38D000, '8')
        << "New_SX51804.sx: bank 1 inserted, no S9 end record (outcome -1)" << 0;
    QTest::newRow("S8 end, no bank range")
        << firmware(0x370000, 0x380000, '8')
        << "New_SX51804.sx: bank 1 not found in the firmware, no S9 end record (outcome -1)" << 3;
}

void TestCli::mergeTellsTheOutcome()
{
    QFETCH(QByteArray, firmware);
    QFETCH(QString, summary);
    QFETCH(int, exitCode);
    QVERIFY(writeFile(firmwarePath(), firmware));
    QCOMPARE(cli({QStringLiteral("compile"), m_project}).exitCode, 0);
    const Run run = cli({QStringLiteral("merge"), m_project, QStringLiteral("--master"),
                         m_tool + QStringLiteral("/MASTER")});
    QCOMPARE(run.out, summary + u'\n');
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));

    // docs/formats.md tells the same line with the same exit status.
    const QString formats = QString::fromUtf8(
        readFile(QStringLiteral(QUILLNER_SOURCE_DIR) + QStringLiteral("/docs/formats.md")));
    QStringList rows;
    for (const QString& line : formats.split(u'\n')) {
        if (line.startsWith(u'|') && line.contains(u'`' + summary + u'`'))
            rows << line;
    }
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].split(u'|').value(3).trimmed(), QString::number(exitCode));
}

void TestCli::mergeErrors_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("firmware missing") << "no firmware"
                                      << "error: Error file SX51804.sx not found\nLooked for "
                                         "%1/MASTER/SX51804.sx\nName the folder that holds it "
                                         "with --master DIR.\n";
    QTest::newRow("bank file missing") << "no bank"
                                       << "error: File bank1.bin Not Found,Abort Procedure\n";
    // An erased bank file is refused before a merged file is written.
    QTest::newRow("bank file erased")
        << "erased bank"
        << "error: File bank1.bin Is Erased (All 0xFF),Abort Procedure\n";
    QTest::newRow("copy failed") << "bad record"
                                 << "error: File New Sx Not Create,Abort Procedure\n"
                                    "SX51804.sx, line 2: '3Z' is not a hexadecimal byte\n";
}

void TestCli::mergeErrors()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    if (fault != QLatin1String("no bank"))
        QCOMPARE(cli({QStringLiteral("compile"), m_project}).exitCode, 0);
    if (fault == QLatin1String("no firmware"))
        QVERIFY(QFile::remove(firmwarePath()));
    if (fault == QLatin1String("erased bank"))
        QVERIFY(
            writeFile(projectFile(QStringLiteral("bin/bank1.bin")), QByteArray(16384, char(0xFF))));
    if (fault == QLatin1String("bad record"))
        QVERIFY(
            writeFile(firmwarePath(), readFile(firmwarePath()).replace("S2243870", "S2243Z70")));
    // The MASTER folder beside the program is the default.
    const Run run = cli({QStringLiteral("merge"), m_project});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, message.contains(u'%') ? message.arg(m_tool) : message);
    QCOMPARE(run.out, QString());
    QVERIFY(!QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
}

void TestCli::mergeRemovesOldBankRecordFiles_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("merge") << "merge";
    QTest::newRow("update") << "update";
}

void TestCli::mergeRemovesOldBankRecordFiles()
{
    QFETCH(QString, command);
    QCOMPARE(cli({QStringLiteral("compile"), m_project}).exitCode, 0);
    for (const char* name : {"B1.sx", "B2.sx", "B3.sx", "B4.sx", "B5.sx", "B6.sx"})
        QVERIFY(writeFile(projectFile(QString::fromLatin1(name)), "S9030000FC\r\n"));
    const Run run = cli({command, m_project});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    for (const char* name : {"B1.sx", "B2.sx", "B3.sx", "B4.sx", "B5.sx"})
        QVERIFY2(!QFile::exists(projectFile(QString::fromLatin1(name))), name);
    QVERIFY(QFile::exists(projectFile(QStringLiteral("B6.sx"))));
    QVERIFY(QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
}

void TestCli::updateFlashesTheMergedFile()
{
    // A relative project path: the tool still gets the full path, as one argument.
    const Run run = cli({QStringLiteral("update"), QStringLiteral("PROJECTS/Demo Line"),
                         QStringLiteral("--master"), QStringLiteral("MASTER"),
                         QStringLiteral("--flash"), QStringLiteral("--port"), QStringLiteral("2")},
                        m_tool);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(u'\n');
    QVERIFY(lines.value(0).startsWith(QStringLiteral("Written: ")));
    QCOMPARE(lines.value(1), QStringLiteral("New_SX51804.sx: bank 1 inserted (outcome 1)"));
    QVERIFY2(lines.value(2).startsWith(QStringLiteral("Started Morvex.exe (process ")),
             qPrintable(run.out));

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordPath()), 10000);
    const QString merged =
        QFileInfo(projectFile(QStringLiteral("New_SX51804.sx"))).absoluteFilePath();
    QCOMPARE(QString::fromUtf8(readFile(recordPath())),
             QStringLiteral("%1\n2\ncwd=%2\n")
                 .arg(merged, QFileInfo(m_tool + QStringLiteral("/MASTER")).absoluteFilePath()));
    QVERIFY(quillner::readBankFile(merged).value ==
            quillner::readBankFile(projectFile(QStringLiteral("bin/bank1.bin"))).value);
}

void TestCli::updateDoesNotFlashWithoutTheBank()
{
    QVERIFY(writeFile(firmwarePath(), firmware(0x370000, 0x380000, '9')));
    const Run run = cli({QStringLiteral("update"), m_project, QStringLiteral("--flash"),
                         QStringLiteral("--port"), QStringLiteral("0")});
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.out.contains(QStringLiteral("bank 1 not found in the firmware (outcome 0)")));
    QVERIFY(!run.out.contains(QStringLiteral("Started")));
    QVERIFY2(run.err.startsWith(
                 QStringLiteral("error: Bank 1 Not Found In SX51804.sx, Procedure Aborted")),
             qPrintable(run.err));
}

void TestCli::updateWithoutFlasher()
{
    QVERIFY(QFile::remove(m_tool + QStringLiteral("/Morvex.exe")));
    const Run run = cli({QStringLiteral("update"), m_project, QStringLiteral("--flash"),
                         QStringLiteral("--port"), QStringLiteral("7")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
             QStringLiteral("error: Morvex.exe Not Found, Procedure Aborted\nLooked in %1\n")
                 .arg(QDir::toNativeSeparators(m_tool)));
    QVERIFY(QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
}

void TestCli::showDescribesWithoutWriting()
{
    const Run text = cli({QStringLiteral("show"), m_project});
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.err, QString());
    QCOMPARE(text.out, QStringLiteral("Project: ") + m_project +
                           QStringLiteral("\n"
                                          "Serial line: 115200 bit/s, parity none\n"
                                          "CAN frame format: 2.0A (11-bit identifiers)\n"
                                          "CAN baud rate: 250 kbit/s\n"
                                          "Remote frames: off\n"
                                          "Filter: 2.0A, all 2048 identifiers visible\n"));

    const Run json = cli({QStringLiteral("show"), m_project, QStringLiteral("--json")});
    QCOMPARE(json.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.out.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(document.isObject());
    QCOMPARE(document["schema"].toInt(), 1);
    QCOMPARE(document["source"]["kind"].toString(), QStringLiteral("project"));
    QCOMPARE(document["source"]["path"].toString(), m_project);
    QCOMPARE(document["settings"]["serial.baud"]["value"].toInt(), 115200);
    QCOMPARE(document["settings"]["can.baud"]["value"].toInt(), 250);
    QCOMPARE(document["filter"]["identifierCount"].toInt(), 2048);
    QCOMPARE(entries(projectFile(QStringLiteral("bin"))), QStringList());
}

void TestCli::showFilter20BList()
{
    QVERIFY(
        writeFile(projectFile(QStringLiteral("pargen.xml")),
                  "<General_Parameter><Ser_Baud>3</Ser_Baud><Ser_Par>2</Ser_Par>"
                  "<Can_Type>1</Can_Type><Can_Baud>8</Can_Baud><Can_Enable_RTR>1</Can_Enable_RTR>"
                  "</General_Parameter>\r\n"));
    QVERIFY(writeFile(projectFile(QStringLiteral("Filter20B.xml")),
                      "<Filter20B><Type>1</Type><Type_Func>0</Type_Func><Num_Frame>2</Num_Frame>"
                      "<Filter><data>291</data><data>$1FFFFFFF</data></Filter></Filter20B>\r\n"));
    const Run run = cli({QStringLiteral("show"), m_project});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out,
             QStringLiteral("Project: ") + m_project +
                 QStringLiteral("\n"
                                "Serial line: 9600 bit/s, parity even\n"
                                "CAN frame format: 2.0B (29-bit identifiers)\n"
                                "CAN baud rate: 1000 kbit/s\n"
                                "Remote frames: on\n"
                                "Filter: 2.0B identifier list, type negative, 2 identifiers\n"
                                "Identifier: 0x00000123 (291)\n"
                                "Identifier: 0x1FFFFFFF (536870911)\n"));
}

void TestCli::decodeOfBankAndMergedFirmwareAgree()
{
    QVERIFY(writeFile(projectFile(QStringLiteral("Filter20A.xml")),
                      "<Filter20A><filter>0</filter><filter>0</filter><filter>1</filter>"
                      "<filter>0</filter></Filter20A>\r\n"));
    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    for (const char* option : {"", "--json"}) {
        QStringList bankArguments{QStringLiteral("decode"),
                                  projectFile(QStringLiteral("bin/bank1.bin"))};
        QStringList firmwareArguments{QStringLiteral("decode"),
                                      projectFile(QStringLiteral("New_SX51804.sx"))};
        if (*option) {
            bankArguments << QString::fromLatin1(option);
            firmwareArguments << QString::fromLatin1(option);
        }
        const Run bank = cli(bankArguments);
        const Run merged = cli(firmwareArguments);
        QCOMPARE(bank.exitCode, 0);
        QCOMPARE(merged.exitCode, 0);
        // The same description but for the source.
        if (*option) {
            const QJsonDocument bankDocument = QJsonDocument::fromJson(bank.out.toUtf8());
            const QJsonDocument mergedDocument = QJsonDocument::fromJson(merged.out.toUtf8());
            QCOMPARE(bankDocument["source"]["kind"].toString(), QStringLiteral("bank"));
            QCOMPARE(mergedDocument["source"]["kind"].toString(), QStringLiteral("firmware"));
            QJsonObject bankJson = bankDocument.object();
            QJsonObject mergedJson = mergedDocument.object();
            bankJson.remove(QStringLiteral("source"));
            mergedJson.remove(QStringLiteral("source"));
            QCOMPARE(mergedJson, bankJson);
            // Identifiers past the document's last child are hidden in the bank.
            QCOMPARE(bankDocument["filter"]["identifierCount"].toInt(), 1);
            QCOMPARE(bankDocument["filter"]["identifiers"][0]["first"].toInt(), 2);
            QCOMPARE(bankDocument["filter"]["identifiers"][0]["last"].toInt(), 2);
        } else {
            QCOMPARE(sourceLine(bank.out),
                     QStringLiteral("Bank image: ") + projectFile(QStringLiteral("bin/bank1.bin")));
            QCOMPARE(sourceLine(merged.out),
                     QStringLiteral("Firmware: ") + projectFile(QStringLiteral("New_SX51804.sx")));
            QCOMPARE(afterSourceLine(merged.out), afterSourceLine(bank.out));
            QVERIFY2(bank.out.contains(
                         QStringLiteral("Hidden identifiers: 0x0000-0x0001, 0x0003-0x07FF\n")),
                     qPrintable(bank.out));
        }
    }
    // The original firmware holds the pattern bytes, not this project's bank.
    QVERIFY(afterSourceLine(cli({QStringLiteral("decode"), firmwarePath()}).out) !=
            afterSourceLine(
                cli({QStringLiteral("decode"), projectFile(QStringLiteral("bin/bank1.bin"))}).out));
}

void TestCli::decodeRefusesAFaultyFirmware()
{
    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    const QString merged = projectFile(QStringLiteral("New_SX51804.sx"));
    const QByteArray good = readFile(merged);

    QByteArray wrongChecksum = good;
    const qsizetype record = good.indexOf("S224388100");
    wrongChecksum[record + 20] = wrongChecksum[record + 20] == 'F' ? '0' : 'F';
    QVERIFY(writeFile(merged, wrongChecksum));
    const Run checksum = cli({QStringLiteral("decode"), merged});
    QCOMPARE(checksum.exitCode, 1);
    QVERIFY2(checksum.err.contains(QStringLiteral(": checksum 0x")), qPrintable(checksum.err));
    QCOMPARE(checksum.out, QString());

    QByteArray missing = good;
    missing.remove(record, 78);
    QVERIFY(writeFile(merged, missing));
    const Run gap = cli({QStringLiteral("decode"), merged});
    QCOMPARE(gap.exitCode, 1);
    QVERIFY2(gap.err.contains(QStringLiteral("no S2 record holds bank 1 at 0x388100-0x38811F")),
             qPrintable(gap.err));

    const Run absent = cli({QStringLiteral("decode"), projectFile(QStringLiteral("nothing.sx"))});
    QCOMPARE(absent.exitCode, 1);
    QVERIFY(absent.err.startsWith(QStringLiteral("error: File ")));
}

void TestCli::decodeToldProblems()
{
    const QString erased = projectFile(QStringLiteral("erased.bin"));
    QVERIFY(writeFile(erased, QByteArray(16384, char(0xFF))));
    const Run blank = cli({QStringLiteral("decode"), erased});
    QCOMPARE(blank.exitCode, 1);
    QCOMPARE(blank.err, QStringLiteral("error: bank 1 is erased (all 0xFF): this firmware was "
                                       "never configured\n"));
    QCOMPARE(blank.out, QString());

    QByteArray bank(16384, '\0');
    bank[0] = 7;
    bank[3] = 42; // no CAN baud rate a window writes
    const QString odd = projectFile(QStringLiteral("odd.bin"));
    QVERIFY(writeFile(odd, bank));
    const Run run = cli({QStringLiteral("decode"), odd});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains(QStringLiteral("CAN baud rate: unknown (code 42)")),
             qPrintable(run.out));
    QCOMPARE(run.err, QStringLiteral("problem: offset 3 (CAN baud rate): unknown baud code 42\n"));
}

void TestCli::verifyChecksAMergedFile()
{
    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    const QString merged = projectFile(QStringLiteral("New_SX51804.sx"));
    const QStringList arguments{QStringLiteral("verify"),    merged,
                                QStringLiteral("--master"),  firmwarePath(),
                                QStringLiteral("--project"), m_project};
    const Run good = cli(arguments);
    QCOMPARE(good.err, QString());
    QCOMPARE(good.exitCode, 0);
    const Run goodJson = cli(arguments + QStringList{QStringLiteral("--json")});
    QCOMPARE(goodJson.exitCode, 0);
    QVERIFY(QJsonDocument::fromJson(goodJson.out.toUtf8())["holds"].toBool());

    QByteArray text = readFile(merged);
    text.replace(text.indexOf("S224388100") + 10, 2, "EE");
    QVERIFY(writeFile(merged, text));
    const Run bad =
        cli({QStringLiteral("verify"), merged, QStringLiteral("--master"), firmwarePath(),
             QStringLiteral("--bank"), projectFile(QStringLiteral("bin/bank1.bin"))});
    QCOMPARE(bad.exitCode, 1);
    QVERIFY2(bad.err.startsWith(QStringLiteral("error: New_SX51804.sx, line ")),
             qPrintable(bad.err));
    QVERIFY2(bad.err.contains(QStringLiteral(": checksum 0x")), qPrintable(bad.err));
    const Run badJson = cli(arguments + QStringList{QStringLiteral("--json")});
    QCOMPARE(badJson.exitCode, 1);
    const QJsonDocument document = QJsonDocument::fromJson(badJson.out.toUtf8());
    QVERIFY(!document["holds"].toBool());
    QCOMPARE(document["report"][0]["file"].toString(), QStringLiteral("New_SX51804.sx"));

    const Run usage =
        cli({QStringLiteral("verify"), merged, QStringLiteral("--master"), firmwarePath()});
    QCOMPARE(usage.exitCode, 2);
    QVERIFY(usage.err.startsWith(
        QStringLiteral("error: verify needs either --bank BANK or --project DIR")));
}

// A set since the last update leaves bin/bank1.bin behind the documents: the merged file no
// longer holds the project, and verify says why. -q keeps the errors alone.
void TestCli::verifyProjectIsTheDocumentsAsTheyCompileNow()
{
    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    const QString merged = projectFile(QStringLiteral("New_SX51804.sx"));
    const QStringList arguments{QStringLiteral("verify"),    merged,
                                QStringLiteral("--master"),  firmwarePath(),
                                QStringLiteral("--project"), m_project};
    const Run quiet = cli(arguments + QStringList{QStringLiteral("-q")});
    QCOMPARE(quiet.exitCode, 0);
    QCOMPARE(quiet.out, QString());
    QCOMPARE(quiet.err, QString());

    QCOMPARE(cli({QStringLiteral("set"), m_project, QStringLiteral("can.baud=500")}).exitCode, 0);
    const Run stale = cli(arguments);
    QCOMPARE(stale.exitCode, 1);
    QVERIFY2(stale.err.startsWith(QStringLiteral("note: ") +
                                  QDir::toNativeSeparators(projectFile("bin/bank1.bin")) +
                                  QStringLiteral(" is older than the project's documents")),
             qPrintable(stale.err));
    QVERIFY2(stale.err.contains(QStringLiteral("error: New_SX51804.sx")), qPrintable(stale.err));
    const Run quietStale = cli(arguments + QStringList{QStringLiteral("-q")});
    QCOMPARE(quietStale.exitCode, 1);
    QVERIFY(!quietStale.err.contains(QStringLiteral("note: ")));
    QVERIFY(quietStale.err.contains(QStringLiteral("error: ")));

    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    QCOMPARE(cli(arguments).exitCode, 0);
}

// With --wait the command ends with the flashing tool's verdict, its output passed through.
void TestCli::updateWaitsForTheFlasher_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("flashed") << QByteArray("echo erasing; echo \"writing $1\"; echo done; exit 0")
                             << QStringList() << 0 << "erasing\nwriting "
                             << "";
    QTest::newRow("port busy") << QByteArray("echo 'port COM1 busy' >&2; exit 1") << QStringList()
                               << 4 << "port COM1 busy\n"
                               << "error: Morvex.exe failed with status 1: port COM1 busy\n";
    QTest::newRow("hangs") << QByteArray("echo waiting; sleep 30") << QStringList{"--timeout", "1"}
                           << 5 << "waiting\n"
                           << "error: Morvex.exe did not end within ";
    QTest::newRow("timeout without wait")
        << QByteArray("exit 0") << QStringList{"--timeout", "1", "--no-wait"} << 2 << ""
        << "";
}

void TestCli::updateWaitsForTheFlasher()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const QString flasher = m_tool + QStringLiteral("/Morvex.exe");
    QVERIFY(writeFile(flasher, "#!/bin/sh\n" + script + "\n"));
    QVERIFY(QFile::setPermissions(flasher, QFile::permissions(flasher) | QFileDevice::ExeOwner));
    QStringList arguments{QStringLiteral("update"), m_project, QStringLiteral("--flash"),
                          QStringLiteral("--port"), QStringLiteral("2")};
    if (!options.removeAll(QStringLiteral("--no-wait")))
        arguments << QStringLiteral("--wait");
    const Run run = cli(arguments + options);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 2)
        return;
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    if (err.isEmpty())
        QCOMPARE(run.err, QString());
    else
        QVERIFY2(run.err.startsWith(err), qPrintable(run.err));
}

// Without pargen.xml a folder is no project: its all-zero bank (an invalid CAN baud-rate code,
// every identifier hidden) is neither described nor built nor flashed unless asked for.
void TestCli::aFolderWithoutPargenIsNoProject_data()
{
    QTest::addColumn<QStringList>("arguments"); // FOLDER stands for the folder
    QTest::newRow("compile") << QStringList{"compile", "FOLDER"};
    QTest::newRow("update --flash") << QStringList{"update", "FOLDER", "--flash", "--port", "0"};
    QTest::newRow("show") << QStringList{"show", "FOLDER"};
    QTest::newRow("get") << QStringList{"get", "FOLDER", "can.baud"};
    QTest::newRow("show of the data folder") << QStringList{"show", "TOOL"};
}

void TestCli::aFolderWithoutPargenIsNoProject()
{
    QFETCH(QStringList, arguments);
    const QString folder = m_tool + QStringLiteral("/PROJECTS/Empty");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/bin")));
    arguments.replaceInStrings(QStringLiteral("FOLDER"), folder);
    arguments.replaceInStrings(QStringLiteral("TOOL"), m_tool);
    const QString named = arguments[1];
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("error: %1 is not a project: no pargen.xml")
                                    .arg(QDir::toNativeSeparators(named))),
             qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/bin/bank1.bin")));
    QVERIFY(!QFileInfo::exists(recordPath()));

    const Run lenient = cli(QStringList{arguments[0], arguments[1], QStringLiteral("--lenient")});
    QCOMPARE(lenient.exitCode, 0);
    QVERIFY2(
        lenient.err.startsWith(
            QStringLiteral("warning: %1 is not a project").arg(QDir::toNativeSeparators(named))),
        qPrintable(lenient.err));
}

void TestCli::updateDoesNotFlashAFirmwareWithABadRecord()
{
    QByteArray text = readFile(firmwarePath());
    QList<QByteArray> lines = text.split('\n');
    lines[4][lines[4].size() - 2] = lines[4].endsWith("0\r") ? '1' : '0';
    QVERIFY(writeFile(firmwarePath(), lines.join('\n')));
    const Run run = cli({QStringLiteral("update"), m_project, QStringLiteral("--flash"),
                         QStringLiteral("--port"), QStringLiteral("0")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("error: File New Sx Not Create,Abort Procedure\n"
                                               "SX51804.sx, line 5: checksum 0x")),
             qPrintable(run.err));
    QVERIFY(!run.out.contains(QStringLiteral("Started")));
    QVERIFY(!QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
    QVERIFY(!QFile::exists(recordPath()));

    QVERIFY(writeFile(firmwarePath(), "no records here\n"));
    const Run junk = cli({QStringLiteral("merge"), m_project});
    QCOMPARE(junk.exitCode, 1);
    QVERIFY2(junk.err.endsWith(QStringLiteral("SX51804.sx is not an S-record file\n")),
             qPrintable(junk.err));
    QVERIFY(!QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
}

void TestCli::flasherStandInChecksTheFile()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 runs the flashing tool stand-in");
    QCOMPARE(cli({QStringLiteral("update"), m_project}).exitCode, 0);
    const QString standIn = QStringLiteral(QUILLNER_SOURCE_DIR "/tools/morvex/Morvex.exe");
    const QString merged = projectFile(QStringLiteral("New_SX51804.sx"));
    const auto runStandIn = [&](const QString& file, const QString& port) {
        QProcess process;
        process.start(python, {standIn, file, port});
        process.waitForFinished(60000);
        return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                   QString::fromUtf8(process.readAllStandardError())};
    };

    const Run good = runStandIn(merged, QStringLiteral("2"));
    QCOMPARE(good.exitCode, 0);
    QCOMPARE(good.out, QStringLiteral(
                           "Morvex stand-in: would flash %1 (%2 records, bank 1 present) on COM3\n")
                           .arg(merged)
                           .arg(readFile(merged).count('\n')));

    QByteArray broken = readFile(merged);
    broken.remove(broken.indexOf("S22438BFE0"), 78);
    QVERIFY(writeFile(merged, broken));
    const Run bad = runStandIn(merged, QStringLiteral("2"));
    QCOMPARE(bad.exitCode, 1);
    QVERIFY2(bad.err.contains(QStringLiteral(
                 "1 of the 512 records of bank 1 are missing, the first at 0x38BFE0")),
             qPrintable(bad.err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
