#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <sys/stat.h>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

Run cli(const QStringList& arguments, const QByteArray& standardInput = {})
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments, {},
                                         standardInput);
}

// The lines only one of the two texts holds, counted on both sides.
int changedLines(const QString& a, const QString& b)
{
    const QStringList linesA = a.split(u'\n', Qt::SkipEmptyParts);
    const QStringList linesB = b.split(u'\n', Qt::SkipEmptyParts);
    const QSet<QString> setA(linesA.cbegin(), linesA.cend());
    const QSet<QString> setB(linesB.cbegin(), linesB.cend());
    return int((setA - setB).size() + (setB - setA).size());
}

// A filter that hides a few identifiers, as most projects do.
quillner::Filter20A fewHidden()
{
    quillner::Filter20A filter;
    for (int id = 0x400; id <= 0x7FF; ++id)
        filter.IdVisible[size_t(id)] = 0;
    filter.IdVisible[0x123] = 0;
    return filter;
}

} // namespace

// describe tells every kind of file one fact a line, whatever the file is called.
class TestCliDescribe : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void eachKindOfFile_data();
    void eachKindOfFile();
    void firmwareTellsItsBank();
    void sameContentSameText_data();
    void sameContentSameText();
    void oneIdentifierIsOneLine_data();
    void oneIdentifierIsOneLine();
    void unreadableFiles_data();
    void unreadableFiles();
    void onlyRegularFilesAreRead();
    void endlessStandardInputIsRefused();
    void gitDiffShowsTheChangedLine();

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestCliDescribe::initTestCase()
{
    QVERIFY(m_dir.isValid());
    quillner::GeneralParameters parameters;
    parameters.Ser_Par = 2;
    parameters.Can_Enable_RTR = true;
    quillner::saveGeneralParameters(file(QStringLiteral("pargen.xml")), parameters);
    quillner::saveFilter20A(file(QStringLiteral("Filter20A.xml")), fewHidden());
    quillner::Filter20B list;
    list.typePositive = false;
    list.cobIds = {QStringLiteral("$18FF0010"), QStringLiteral("291")};
    quillner::saveFilter20B(file(QStringLiteral("list.xml")), list);
    quillner::Filter20B mask;
    mask.cobIdFilter = false;
    mask.patterns = {QStringLiteral("1xxxxxxxxxxxxxxxxxxxxxxxxxxx0"),
                     QStringLiteral("0XXXXXXXXXXXXXXXXXXXXXXXXXXX1")};
    quillner::saveFilter20B(file(QStringLiteral("mask.xml")), mask);
    quillner::saveTranslateTable(file(QStringLiteral("var.xml")));

    // A project compiled into its bank, and that bank merged into a firmware.
    const QString project = file(QStringLiteral("project"));
    QVERIFY(QDir().mkpath(project + QStringLiteral("/bin")));
    QVERIFY(QDir().mkpath(file(QStringLiteral("MASTER"))));
    QVERIFY(
        QFile::copy(file(QStringLiteral("pargen.xml")), project + QStringLiteral("/pargen.xml")));
    QVERIFY(QFile::copy(file(QStringLiteral("Filter20A.xml")),
                        project + QStringLiteral("/Filter20A.xml")));
    quillner::writeSyntheticFirmware(file(QStringLiteral("MASTER/SX51804.sx")), 0x380000, 0x390000,
                                     32, "QUILLNER TEST FIRMWARE");
    const Run update =
        cli({QStringLiteral("update"), project, QStringLiteral("--master"),
             file(QStringLiteral("MASTER")), QStringLiteral("--home"), m_dir.path()});
    QVERIFY2(update.exitCode == 0, qPrintable(update.err));
}

void TestCliDescribe::eachKindOfFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const QString settings = QStringLiteral("serial.baud = 115200\n"
                                            "serial.parity = even\n"
                                            "can.format = 2.0A\n"
                                            "can.baud = 250\n"
                                            "can.rtr = on\n");
    const QString hidden = QStringLiteral("filter.kind = 2.0A\n"
                                          "hidden 0x0123\n"
                                          "hidden 0x0400-0x07FF\n");
    QTest::newRow("pargen.xml") << QStringLiteral("pargen.xml")
                                << QStringLiteral("document = pargen.xml\n") + settings;
    QTest::newRow("Filter20A.xml")
        << QStringLiteral("Filter20A.xml") << QStringLiteral("document = Filter20A.xml\n") + hidden;
    QTest::newRow("Filter20B.xml list, sorted") << QStringLiteral("list.xml")
                                                << QStringLiteral("document = Filter20B.xml\n"
                                                                  "filter.kind = 2.0B list\n"
                                                                  "filter.type = negative\n"
                                                                  "identifier 0x00000123\n"
                                                                  "identifier 0x18FF0010\n");
    QTest::newRow("Filter20B.xml mask, sorted")
        << QStringLiteral("mask.xml")
        << QStringLiteral("document = Filter20B.xml\n"
                          "filter.kind = 2.0B mask\n"
                          "pattern 0xxxxxxxxxxxxxxxxxxxxxxxxxxx1\n"
                          "pattern 1xxxxxxxxxxxxxxxxxxxxxxxxxxx0\n");
    QTest::newRow("var.xml") << QStringLiteral("var.xml") << QStringLiteral("document = var.xml\n");
    QTest::newRow("bank image") << QStringLiteral("project/bin/bank1.bin")
                                << QStringLiteral("document = bank image\n") + settings + hidden;
}

void TestCliDescribe::eachKindOfFile()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const Run run = cli({QStringLiteral("describe"), file(name)});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out, expected);
    QCOMPARE(run.exitCode, 0);
}

void TestCliDescribe::firmwareTellsItsBank()
{
    const Run bank =
        cli({QStringLiteral("describe"), file(QStringLiteral("project/bin/bank1.bin"))});
    const Run firmware =
        cli({QStringLiteral("describe"), file(QStringLiteral("project/New_SX51804.sx"))});
    QCOMPARE(firmware.exitCode, 0);
    QVERIFY(firmware.out.startsWith(QStringLiteral("document = firmware, bank 1\n")));
    QCOMPARE(firmware.out.section(u'\n', 1), bank.out.section(u'\n', 1));
}

void TestCliDescribe::sameContentSameText_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"pargen.xml", "Filter20A.xml", "list.xml", "var.xml",
                             "project/bin/bank1.bin", "project/New_SX51804.sx"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// git hands textconv a temporary copy with a name of its own.
void TestCliDescribe::sameContentSameText()
{
    QFETCH(QString, name);
    const QByteArray content = readFile(file(name));
    const QString copy = file(QStringLiteral("tmp/.git_vtmp_Xy12Ab"));
    QVERIFY(writeFile(copy, content));
    const Run original = cli({QStringLiteral("describe"), file(name)});
    const Run renamed = cli({QStringLiteral("describe"), copy});
    const Run piped = cli({QStringLiteral("describe"), QStringLiteral("-")}, content);
    QCOMPARE(original.exitCode, 0);
    QCOMPARE(renamed.out, original.out);
    QCOMPARE(piped.out, original.out);
    QVERIFY(!original.out.contains(m_dir.path()));
    QVERIFY(!renamed.out.contains(QStringLiteral("vtmp")));
}

void TestCliDescribe::oneIdentifierIsOneLine_data()
{
    QTest::addColumn<int>("identifier");
    QTest::newRow("hide a lone one") << 0x200;
    QTest::newRow("widen a range") << 0x3FF;
    QTest::newRow("show a lone one again") << 0x123;
    QTest::newRow("narrow a range") << 0x7FF;
}

void TestCliDescribe::oneIdentifierIsOneLine()
{
    QFETCH(int, identifier);
    quillner::Filter20A changed = fewHidden();
    changed.IdVisible[size_t(identifier)] ^= 1;
    const QString path = file(QStringLiteral("changed/Filter20A.xml"));
    QVERIFY(QDir().mkpath(file(QStringLiteral("changed"))));
    quillner::saveFilter20A(path, changed);
    const Run before = cli({QStringLiteral("describe"), file(QStringLiteral("Filter20A.xml"))});
    const Run after = cli({QStringLiteral("describe"), path});
    QCOMPARE(after.exitCode, 0);
    // A changed range is one line removed and one added; a new or removed range one line.
    const int changes = changedLines(before.out, after.out);
    const int linesBefore = int(before.out.count(u'\n'));
    const int linesAfter = int(after.out.count(u'\n'));
    QCOMPARE(changes, linesBefore == linesAfter ? 2 : 1);
}

void TestCliDescribe::unreadableFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("child that is no integer")
        << QByteArray("<Filter20A><filter>1</filter><filter>0</filter><filter>abc</filter>"
                      "</Filter20A>")
        << QStringLiteral("document = Filter20A.xml\n"
                          "filter.kind = 2.0A\n"
                          "entries = 3 (the window writes 2048)\n"
                          "hidden 0x0001\n"
                          "problem: child 3: 'abc' is not a valid integer value\n")
        << 0;
    QTest::newRow("setting missing or outside its list")
        << QByteArray("<General_Parameter><Ser_Baud>9</Ser_Baud><Ser_Par>x</Ser_Par>"
                      "<Can_Type>1</Can_Type><Can_Baud>0</Can_Baud></General_Parameter>")
        << QStringLiteral("document = pargen.xml\n"
                          "serial.baud = (code 9, no value of the list)\n"
                          "serial.parity = (unreadable: 'x' is not a valid integer value)\n"
                          "can.format = 2.0B\n"
                          "can.baud = 10\n"
                          "can.rtr = (unreadable: Element Can_Enable_RTR not found)\n")
        << 0;
    // git's textconv must not fail: what is no project document is shown as it is written, after
    // a line that says why.
    QTest::newRow("not well-formed")
        << QByteArray("<Filter20A><filter>1</filter>") << QString() << 0;
    QTest::newRow("another XML document")
        << QByteArray("<html/>")
        << QStringLiteral("problem: an XML document with the root element 'html' is no "
                          "document of a project; it is shown as written\n<html/>")
        << 0;
    QTest::newRow("neither") << QByteArray("hello\n")
                             << QStringLiteral("problem: neither a project document, a "
                                               "16384-byte bank image nor an S-record firmware; "
                                               "it is shown as written\nhello\n")
                             << 0;
    QTest::newRow("faulty S-records") << QByteArray("S1FF\n") << QString() << 0;
    const QByteArray conflicted = "<Filter20A><filter>1</filter>\n<<<<<<< HEAD\n<filter>1</filter>"
                                  "\n=======\n<filter>0</filter>\n>>>>>>> other\n</Filter20A>\n";
    QTest::newRow("conflict markers")
        << conflicted
        << QStringLiteral("conflict: the file holds merge conflict markers; it is shown as "
                          "written\n") +
               QString::fromLatin1(conflicted)
        << 0;
}

void TestCliDescribe::unreadableFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(int, exitCode);
    const QString path = file(QStringLiteral("unreadable/some name.xml"));
    QVERIFY(writeFile(path, content));
    const Run run = cli({QStringLiteral("describe"), path});
    QCOMPARE(run.exitCode, exitCode);
    if (expected.isEmpty())
        QVERIFY2(run.out.startsWith(QStringLiteral("problem: ")) &&
                     run.out.endsWith(u'\n' + QString::fromLatin1(content)),
                 qPrintable(run.out));
    else
        QCOMPARE(run.out, expected);
    QVERIFY2(!run.out.contains(QStringLiteral("some name")), qPrintable(run.out));
}

// A FIFO would block the reading and git with it; a missing file cannot be shown at all.
void TestCliDescribe::onlyRegularFilesAreRead()
{
    const QString fifo = file(QStringLiteral("fifo.xml"));
    QVERIFY(QDir().mkpath(QFileInfo(fifo).path()));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Run run = cli({QStringLiteral("describe"), fifo});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(
        run.out,
        QStringLiteral("problem: %1: not a regular file\n").arg(QDir::toNativeSeparators(fifo)));
    const QString missing = file(QStringLiteral("missing.xml"));
    run = cli({QStringLiteral("describe"), missing});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out,
             QStringLiteral("problem: %1: not found\n").arg(QDir::toNativeSeparators(missing)));
}

// Standard input is kept for the readers, but never more than any firmware could be.
void TestCliDescribe::endlessStandardInputIsRefused()
{
    const Run run = quillner::testing::runProgram(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("head -c 300000000 /dev/zero | \"%1\" describe -").arg(QUILLNER_CLI)});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("standard input holds more than 256 MiB")),
             qPrintable(run.err));
}

// The two lines of docs/cli.md make git diff show the documents' changes as facts.
void TestCliDescribe::gitDiffShowsTheChangedLine()
{
    const QString git = QStandardPaths::findExecutable(QStringLiteral("git"));
    if (git.isEmpty())
        QSKIP("git is not installed");
    const QString repository = file(QStringLiteral("repository"));
    QVERIFY(QDir().mkpath(repository));
    const auto run = [&](const QStringList& arguments) {
        return quillner::testing::runProgram(git, arguments, repository);
    };
    QCOMPARE(run({QStringLiteral("init"), QStringLiteral("-q")}).exitCode, 0);
    QVERIFY(writeFile(repository + QStringLiteral("/.gitattributes"),
                      "pargen.xml diff=quillner\nFilter20A.xml diff=quillner\n"
                      "Filter20B.xml diff=quillner\nvar.xml diff=quillner\n*.sx diff=quillner\n"
                      "bin/*.bin diff=quillner\n"));
    QCOMPARE(run({QStringLiteral("config"), QStringLiteral("diff.quillner.textconv"),
                  QStringLiteral("\"%1\" describe").arg(QStringLiteral(QUILLNER_CLI))})
                 .exitCode,
             0);
    const QString document = repository + QStringLiteral("/Filter20A.xml");
    quillner::saveFilter20A(document, fewHidden());
    QCOMPARE(run({QStringLiteral("add"), QStringLiteral(".")}).exitCode, 0);
    QCOMPARE(run({QStringLiteral("-c"), QStringLiteral("user.name=Test"), QStringLiteral("-c"),
                  QStringLiteral("user.email=test@example.org"), QStringLiteral("commit"),
                  QStringLiteral("-q"), QStringLiteral("-m"), QStringLiteral("filter")})
                 .exitCode,
             0);

    quillner::Filter20A changed = fewHidden();
    changed.IdVisible[0x200] = 0;
    quillner::saveFilter20A(document, changed);
    const Run diff =
        run({QStringLiteral("-c"), QStringLiteral("core.pager=cat"), QStringLiteral("diff"),
             QStringLiteral("--no-color"), QStringLiteral("-U0")});
    QCOMPARE(diff.exitCode, 0);
    QStringList changes;
    for (const QString& line : diff.out.split(u'\n')) {
        if ((line.startsWith(u'+') || line.startsWith(u'-')) &&
            !line.startsWith(QStringLiteral("+++")) && !line.startsWith(QStringLiteral("---")))
            changes << line;
    }
    QCOMPARE(changes, QStringList{QStringLiteral("+hidden 0x0200")});

    // A document with conflict markers and a firmware that is none still diff, as they are.
    QVERIFY(writeFile(document, "<Filter20A>\n<<<<<<< HEAD\n<filter>1</filter>\n=======\n"
                                "<filter>0</filter>\n>>>>>>> other\n</Filter20A>\n"));
    QVERIFY(writeFile(repository + QStringLiteral("/notes.sx"), "not a firmware\n"));
    QCOMPARE(run({QStringLiteral("add"), QStringLiteral(".")}).exitCode, 0);
    const Run conflicted = run({QStringLiteral("-c"), QStringLiteral("core.pager=cat"),
                                QStringLiteral("diff"), QStringLiteral("--cached")});
    QCOMPARE(conflicted.exitCode, 0);
    QVERIFY2(conflicted.out.contains(QStringLiteral("+conflict: the file holds merge conflict "
                                                    "markers")),
             qPrintable(conflicted.out));
    QVERIFY2(conflicted.out.contains(QStringLiteral("+not a firmware")),
             qPrintable(conflicted.out));
}

QTEST_GUILESS_MAIN(TestCliDescribe)
#include "tst_cli_describe.moc"
