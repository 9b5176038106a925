#include "core/app/error.h"
#include "core/bank/bank_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "file_size_limit.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::FileSizeLimit;
using quillner::testing::readFile;
using quillner::testing::writeFile;

namespace {

// The image of a 2.0A project with the window's defaults and no Filter20A.xml.
ConfigurationBank defaultsImage()
{
    ConfigurationBank bank{};
    bank[0] = 7;
    bank[3] = 6;
    for (int i = 100; i <= 355; ++i)
        bank[i] = 0xFF;
    return bank;
}

QByteArray items(int count, const char* item)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += item;
    return text;
}

} // namespace

class TestBankFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void paths()
    {
        const QString project = QDir::toNativeSeparators(QStringLiteral("/x/PROJECTS/Line1"));
        QCOMPARE(bankBinaryPath(project),
                 QDir::toNativeSeparators(QStringLiteral("/x/PROJECTS/Line1/bin/bank1.bin")));
        QCOMPARE(bankSourcePath(project),
                 QDir::toNativeSeparators(QStringLiteral("/x/PROJECTS/Line1/bin/bankg.c")));
    }

    void sourceTextOfTheDefaults()
    {
        const QByteArray text = bankSourceText(defaultsImage());
        QCOMPARE(text.size(), 117824);
        QVERIFY(text.endsWith("\r\n"));
        QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), 1027);
        for (QByteArray& line : lines) {
            QVERIFY(line.endsWith('\r'));
            line.chop(1);
            QVERIFY(!line.contains('\r'));
        }
        const QByteArray indent(17, ' ');
        QCOMPARE(lines[0], QByteArray("#pragma CONST_SEG SEGMENT0"));
        QCOMPARE(lines[1], "const char Bank1 [] = { 0x07, 0x00, 0x00, 0x06," + items(12, " 0x00,"));
        QCOMPARE(lines[7], indent + items(4, " 0x00,") + items(12, " 0xFF,"));
        QCOMPARE(lines[1024], indent + items(15, " 0x00,") + " 0x00};");
        QCOMPARE(lines[1025], QByteArray());
        QCOMPARE(lines[1026], QByteArray("#pragma CONST_SEG DEFAULT"));
    }

    void sourceTextDigits()
    {
        ConfigurationBank bank{};
        bank[16] = 10;
        bank[17] = 255;
        bank[kBankSize - 1] = 0xAB;
        const QList<QByteArray> lines = bankSourceText(bank).split('\n');
        QVERIFY(lines[2].startsWith(QByteArray(17, ' ') + " 0x0A, 0xFF, 0x00,"));
        QVERIFY(lines[1024].endsWith(" 0xAB};\r"));
        QCOMPARE(bankSourceText(bank).size(), 117824);
    }

    void savesBothFiles()
    {
        QTemporaryDir project;
        QVERIFY(QDir(project.path()).mkdir("bin"));
        // An older bank file of another size is replaced whole.
        QFile old(bankBinaryPath(project.path()));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(20000, 'x'));
        old.close();

        const ConfigurationBank bank = defaultsImage();
        SaveBankBinary(project.path(), bank);
        SaveBankSource(project.path(), bank);
        const QByteArray binary = readFile(bankBinaryPath(project.path()));
        QCOMPARE(binary.size(), kBankSize);
        QCOMPARE(binary, QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize));
        QCOMPARE(readFile(bankSourcePath(project.path())), bankSourceText(bank));

        SaveBankBinary(project.path(), ConfigurationBank{});
        QCOMPARE(readFile(bankBinaryPath(project.path())), QByteArray(kBankSize, '\0'));
    }

    void withoutBinFolderBothThrow_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::newRow("bank1.bin") << true;
        QTest::newRow("bankg.c") << false;
    }

    void withoutBinFolderBothThrow()
    {
        QFETCH(bool, binary);
        QTemporaryDir project;
        const QString path =
            binary ? bankBinaryPath(project.path()) : bankSourcePath(project.path());
        try {
            if (binary)
                SaveBankBinary(project.path(), defaultsImage());
            else
                SaveBankSource(project.path(), defaultsImage());
            QFAIL("no error");
        } catch (const Error& error) {
            const QString start = QStringLiteral("Cannot create file \"%1\". ").arg(path);
            QVERIFY2(error.message().startsWith(start), qPrintable(error.message()));
            QVERIFY(error.message().size() > start.size());
        }
        QVERIFY(!QFile::exists(path));
    }

    // A full disk while bankg.c is written leaves both files as they were: never a new
    // bank1.bin beside an older bankg.c.
    void bothFilesOrNeither()
    {
        QTemporaryDir project;
        QVERIFY(QDir(project.path()).mkdir("bin"));
        ConfigurationBank older{};
        older[0] = 3;
        SaveBankFiles(project.path(), older);
        const QByteArray olderBinary = readFile(bankBinaryPath(project.path()));
        const QByteArray olderSource = readFile(bankSourcePath(project.path()));
        QCOMPARE(olderSource, bankSourceText(older));

        bool threw = false;
        {
            // Room for bank1.bin, not for bankg.c.
            FileSizeLimit limit(kBankSize + 1000);
            try {
                SaveBankFiles(project.path(), defaultsImage());
            } catch (const Error& error) {
                threw = error.message().startsWith("Cannot create file \"" +
                                                   bankSourcePath(project.path()) + "\".");
            }
        }
        QVERIFY(threw);
        QCOMPARE(readFile(bankBinaryPath(project.path())), olderBinary);
        QCOMPARE(readFile(bankSourcePath(project.path())), olderSource);
        QCOMPARE(QDir(project.filePath("bin")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"bank1.bin", "bankg.c"}));
    }

    // git keeps no empty folder: a project cloned from a repository has no bin folder, which is
    // made inside the project and nowhere else.
    void makesAMissingBinFolder_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<bool>("written");
        QTest::newRow("no bin folder") << "none" << true;
        QTest::newRow("bin is a file") << "file" << false;
        QTest::newRow("bin links to a folder elsewhere") << "link" << false;
        QTest::newRow("no project folder") << "no project" << false;
    }

    void makesAMissingBinFolder()
    {
        QFETCH(QString, setting);
        QFETCH(bool, written);
        QTemporaryDir root;
        const QString project = root.filePath("Line");
        const QString elsewhere = root.filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        if (setting != "no project")
            QVERIFY(QDir().mkpath(project));
        if (setting == "file")
            QVERIFY(writeFile(project + "/bin", "not a folder"));
        if (setting == "link")
            QVERIFY(QFile::link(elsewhere, project + "/bin"));
        try {
            SaveBankFiles(project, defaultsImage());
            QVERIFY(written);
        } catch (const Error& error) {
            QVERIFY2(!written, qPrintable(error.message()));
            QVERIFY2(error.message().startsWith("Cannot create file \"" + bankBinaryPath(project)),
                     qPrintable(error.message()));
        }
        QCOMPARE(QFile::exists(bankBinaryPath(project)) && QFile::exists(bankSourcePath(project)),
                 written);
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(QFileInfo::exists(project), setting != "no project");
    }
};

QTEST_GUILESS_MAIN(TestBankFiles)
#include "tst_bank_files.moc"
