#include "core/device/bank_layout.h"
#include "core/documents/general_parameters.h"
#include "core/filters/filter20b.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <memory>

using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

constexpr auto kHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

// A bank of the new project's defaults with every 2.0A identifier visible.
QByteArray defaultBank()
{
    QByteArray bank(quillner::kBankSize, '\0');
    bank[0] = 7;
    bank[3] = 6;
    bank.replace(quillner::kFilterAreaOffset, quillner::kBitmapBytes,
                 QByteArray(quillner::kBitmapBytes, char(0xFF)));
    return bank;
}

// A reserved byte set and a parity code no window writes.
QByteArray refusedBank()
{
    QByteArray bank = defaultBank();
    bank[1] = 2;
    bank[7] = 1;
    return bank;
}

const QString kRefusalLines = QStringLiteral(
    "offset 1 (parity): unknown parity code 2, which no document gives; the documents give None "
    "(code 0)\n"
    "%1: offset 7 (reserved): byte 7 is not zero, which no compile writes; the documents give "
    "zeros\n");

} // namespace

// A 2.0B project updated into a synthetic firmware; its merged file and its bank file are
// imported into new folders and compiled again.
class TestCliImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void importsAndCompilesToTheSameBank_data();
    void importsAndCompilesToTheSameBank();
    void refusesABankNoProjectGives();
    void forceWritesWhatCanBeKept();
    void replaceWritesOverTheDocumentsOnly();
    void usageErrors_data();
    void usageErrors();

private:
    Run cli(const QStringList& arguments, const QByteArray& input = {}) const
    {
        return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments, m_dir->path(),
                                             input);
    }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    // The documents written, then what their filter holds.
    QString written(const QString& folder, const QString& filter) const
    {
        QString text;
        for (const QString& name :
             {QStringLiteral("pargen.xml"), filter, QStringLiteral("var.xml")})
            text += QStringLiteral("Written: %1\n")
                        .arg(QDir::toNativeSeparators(path(folder + u'/' + name)));
        return text + (filter == QLatin1String("Filter20B.xml")
                           ? QStringLiteral("Identifiers: 0x00000123, 0x1FFFFFFF, 0x00000000\n")
                           : QStringLiteral("Visible: 0x0-0x7FF\n"));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliImport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(path("project/bin")));
    QVERIFY(QDir().mkpath(path("MASTER")));
    quillner::writeSyntheticFirmware(path("MASTER/SX51804.sx"), 0x387000, 0x38D000, 32, kHeader);
    quillner::GeneralParameters parameters;
    parameters.canTypeB = true;
    parameters.Ser_Par = 2;
    parameters.Can_Baud = 8;
    parameters.Can_Enable_RTR = true;
    quillner::saveGeneralParameters(path("project/pargen.xml"), parameters);
    quillner::Filter20B filter;
    filter.typePositive = false;
    filter.cobIds = QStringList{"291", "$1FFFFFFF", "0"};
    quillner::saveFilter20B(path("project/Filter20B.xml"), filter);
    const Run update =
        cli({"update", path("project"), "--master", path("MASTER"), "--home", m_dir->path()});
    QVERIFY2(update.exitCode == 0, qPrintable(update.err));
}

void TestCliImport::cleanup()
{
    m_dir.reset();
}

void TestCliImport::importsAndCompilesToTheSameBank_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("standardInput");
    QTest::newRow("merged firmware") << "project/New_SX51804.sx" << false;
    QTest::newRow("bank file") << "project/bin/bank1.bin" << false;
    QTest::newRow("firmware on standard input") << "project/New_SX51804.sx" << true;
    QTest::newRow("bank on standard input") << "project/bin/bank1.bin" << true;
}

void TestCliImport::importsAndCompilesToTheSameBank()
{
    QFETCH(QString, source);
    QFETCH(bool, standardInput);
    const Run run = standardInput ? cli({"import", "-", "copy/deeper"}, readFile(path(source)))
                                  : cli({"import", source, "copy/deeper"});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out, written("copy/deeper", "Filter20B.xml"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFileInfo(path("copy/deeper/bin")).isDir());
    QCOMPARE(readFile(path("copy/deeper/Filter20B.xml")),
             readFile(path("project/Filter20B.xml")).replace("$1FFFFFFF", "536870911"));

    const Run compiled = cli({"compile", "copy/deeper"});
    QCOMPARE(compiled.exitCode, 0);
    QCOMPARE(readFile(path("copy/deeper/bin/bank1.bin")), readFile(path("project/bin/bank1.bin")));
}

void TestCliImport::refusesABankNoProjectGives()
{
    QVERIFY(writeFile(path("refused.bin"), refusedBank()));
    const Run run = cli({"import", "refused.bin", "copy"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("error: ") + kRefusalLines.arg(QStringLiteral("error")) +
                          QStringLiteral("error: no project compiles to the bank of %1; nothing "
                                         "was written (--force writes what can be kept)\n")
                              .arg(QDir::toNativeSeparators(path("refused.bin"))));
    QVERIFY(!QFileInfo::exists(path("copy")));

    QVERIFY(writeFile(path("erased.bin"), QByteArray(quillner::kBankSize, char(0xFF))));
    const Run erased = cli({"import", "-", "copy"}, readFile(path("erased.bin")));
    QCOMPARE(erased.exitCode, 1);
    QCOMPARE(erased.err,
             QStringLiteral("error: bank 1 is erased (all 0xFF): this firmware was never "
                            "configured; the documents are those of a new project\n"
                            "error: no project compiles to the bank of standard input; nothing "
                            "was written (--force writes what can be kept)\n"));
}

void TestCliImport::forceWritesWhatCanBeKept()
{
    QVERIFY(writeFile(path("refused.bin"), refusedBank()));
    const Run run = cli({"import", "refused.bin", "copy", "--force"});
    QCOMPARE(run.err, QStringLiteral("warning: ") + kRefusalLines.arg(QStringLiteral("warning")));
    QCOMPARE(run.out, written("copy", "Filter20A.xml"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(cli({"compile", "copy"}).exitCode, 0);
    QCOMPARE(readFile(path("copy/bin/bank1.bin")), defaultBank());
}

void TestCliImport::replaceWritesOverTheDocumentsOnly()
{
    QVERIFY(QDir().mkpath(path("copy")));
    QVERIFY(writeFile(path("copy/Filter20A.xml"), "old"));
    QVERIFY(writeFile(path("copy/notes.txt"), "mine"));
    const Run refused = cli({"import", "project/bin/bank1.bin", "copy"});
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.err,
             QStringLiteral("error: \"%1\" already holds project documents (Filter20A.xml); "
                            "nothing was written (--replace writes over them)\n")
                 .arg(QDir::toNativeSeparators(path("copy"))));
    QVERIFY(!QFileInfo::exists(path("copy/pargen.xml")));

    const Run replaced = cli({"import", "project/bin/bank1.bin", "copy", "--replace"});
    QCOMPARE(replaced.exitCode, 0);
    QCOMPARE(replaced.out, written("copy", "Filter20B.xml"));
    QCOMPARE(readFile(path("copy/notes.txt")), QByteArray("mine"));
    QCOMPARE(readFile(path("copy/Filter20A.xml")), QByteArray("old"));
    QCOMPARE(readFile(path("copy/pargen.xml")), readFile(path("project/pargen.xml")));
}

void TestCliImport::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{"import"}
                             << "error: import takes a FIRMWARE or BANK file and a DIR";
    QTest::newRow("no folder") << QStringList{"import", "bank1.bin"}
                               << "error: import takes a FIRMWARE or BANK file and a DIR";
    QTest::newRow("two folders") << QStringList{"import", "bank1.bin", "a", "b"}
                                 << "error: import takes a FIRMWARE or BANK file and a DIR";
    QTest::newRow("empty folder") << QStringList{"import", "bank1.bin", ""}
                                  << "error: import needs a DIR";
    QTest::newRow("unknown option")
        << QStringList{"import", "bank1.bin", "a", "--bogus"} << "error: Unknown option 'bogus'.";
    QTest::newRow("option of another command")
        << QStringList{"import", "bank1.bin", "a", "--lenient"}
        << "error: --lenient does not apply to import";
}

void TestCliImport::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.err, message + QStringLiteral("\nTry 'quillner-cli help import'.\n"));
    QCOMPARE(run.out, QString());
}

QTEST_GUILESS_MAIN(TestCliImport)
#include "tst_cli_import.moc"
