#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/bank/bank_import.h"
#include "core/filters/mask_pattern.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "test_files.h"

using namespace quillner;

namespace {

using BytePatch = QList<QPair<int, int>>;

ConfigurationBank compileFolder(const QString& folder)
{
    AppPaths paths;
    paths.ProjectDir = folder;
    SetDocumentPaths(paths);
    return CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath).value;
}

// The documents of the project, written as import writes them, compiled.
ConfigurationBank compileProject(const ImportedProject& project)
{
    QTemporaryDir dir;
    if (!writeImportedProject(dir.path(), project).whole())
        return {};
    return compileFolder(dir.path());
}

int firstDifference(const ConfigurationBank& a, const ConfigurationBank& b)
{
    for (int i = 0; i < kBankSize; ++i) {
        if (a[i] != b[i])
            return i;
    }
    return -1;
}

QString randomPattern(QRandomGenerator& random)
{
    QString pattern;
    for (int i = 0; i < kPatternLength; ++i)
        pattern += QStringLiteral("01x")[random.bounded(3)];
    return pattern;
}

// Counts around the edges: none, the window's most, the device's most, past them, and past the
// 256 that the count byte wraps at.
int entryCount(QRandomGenerator& random, int deviceMost)
{
    const int edges[] = {0, 1, 10, 63, deviceMost - 1, deviceMost, deviceMost + 1, 255, 256, 300};
    return random.bounded(2) ? edges[random.bounded(int(std::size(edges)))]
                             : random.bounded(deviceMost + 5);
}

// Projects as the windows make them, each setting value taken in turn and the filter varied.
ImportedProject generatedProject(int index, QRandomGenerator& random)
{
    ImportedProject project;
    GeneralParameters& p = project.parameters;
    p.Ser_Baud = index % 8;
    p.Ser_Par = index % 3;
    p.Can_Baud = index % 9;
    p.canTypeB = index % 2 == 1;
    p.Can_Enable_RTR = index % 4 >= 2;
    if (!p.canTypeB) {
        Filter20A filter;
        const int kind = (index / 2) % 4;
        for (auto& visible : filter.IdVisible)
            visible = kind == 0   ? 1
                      : kind == 1 ? 0
                                  : quint8(random.bounded(kind == 2 ? 2 : 50) == 0);
        project.filter = filter;
        return project;
    }
    Filter20B filter;
    filter.cobIdFilter = random.bounded(2) == 0;
    filter.typePositive = random.bounded(2) == 0;
    if (filter.cobIdFilter) {
        const int count = entryCount(random, kFilterWordCount);
        for (int i = 0; i < count; ++i) {
            const quint32 id = random.bounded(4) == 0 ? kPatternBits : random.bounded(kPatternBits);
            filter.cobIds.append(random.bounded(2)
                                     ? QString::number(id)
                                     : QStringLiteral("$%1").arg(id, 8, 16, QChar(u'0')));
        }
    } else {
        const int count = entryCount(random, kMaxPatterns);
        for (int i = 0; i < count; ++i)
            filter.patterns.append(randomPattern(random));
    }
    project.filter = filter;
    return project;
}

ConfigurationBank bankOf(const BytePatch& bytes)
{
    ConfigurationBank bank{};
    for (const auto& [offset, value] : bytes)
        bank[offset] = quint8(value);
    return bank;
}

// The defaults of a new project, every 2.0A identifier visible.
ConfigurationBank bankA()
{
    ConfigurationBank bank = bankOf({{0, 7}, {3, 6}});
    std::fill(bank.begin() + kFilterAreaOffset, bank.begin() + kFilterAreaOffset + kBitmapBytes,
              0xFF);
    return bank;
}

// A positive 2.0B list of 0x123 and 0x1FFFFFFF.
ConfigurationBank bankBList()
{
    return bankOf({{0, 7},
                   {2, 1},
                   {3, 6},
                   {10, 1},
                   {11, 1},
                   {12, 1},
                   {13, 2},
                   {100, 0x23},
                   {101, 0x01},
                   {104, 0xFF},
                   {105, 0xFF},
                   {106, 0xFF},
                   {107, 0x1F}});
}

// One 2.0B mask pattern: 0x3FF and 0x0F0.
ConfigurationBank bankBMask()
{
    return bankOf(
        {{0, 7}, {2, 1}, {3, 6}, {10, 1}, {13, 1}, {100, 0xFF}, {101, 0x03}, {104, 0xF0}});
}

ConfigurationBank baseBank(const QString& name)
{
    if (name == u"A")
        return bankA();
    if (name == u"list")
        return bankBList();
    if (name == u"mask")
        return bankBMask();
    ConfigurationBank erased;
    erased.fill(0xFF);
    return erased;
}

ConfigurationBank patched(ConfigurationBank bank, const BytePatch& bytes)
{
    for (const auto& [offset, value] : bytes)
        bank[offset] = quint8(value);
    return bank;
}

} // namespace

class TestBankImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void generatedProjectsComeBackByteForByte();
    void banksOfTheWindowsAreExact_data();
    void banksOfTheWindowsAreExact();
    void obstacles_data();
    void obstacles();
    void entriesTheDeviceDoesNotReadArePlaceholders_data();
    void entriesTheDeviceDoesNotReadArePlaceholders();
    void writesTheDocumentsOfANewProject();
    void neverWritesThroughASymbolicLink();
    void findsTheDocumentsOfAFolder();
};

// compile -> import -> compile gives the same bank for a few hundred projects.
void TestBankImport::generatedProjectsComeBackByteForByte()
{
    QRandomGenerator random(20261210);
    for (int index = 0; index < 300; ++index) {
        const ImportedProject project = generatedProject(index, random);
        const ConfigurationBank compiled = compileProject(project);
        const BankImport imported = importBank(compiled);
        QVERIFY2(imported.exact(),
                 qPrintable(QStringLiteral("project %1: %2")
                                .arg(index)
                                .arg(problemLines(imported.obstacles).join(u'\n'))));
        const ConfigurationBank rebuilt = compileProject(imported.project);
        QVERIFY2(rebuilt == compiled, qPrintable(QStringLiteral("project %1 differs at offset %2")
                                                     .arg(index)
                                                     .arg(firstDifference(rebuilt, compiled))));
    }
}

void TestBankImport::banksOfTheWindowsAreExact_data()
{
    QTest::addColumn<QString>("base");
    QTest::newRow("2.0A defaults") << "A";
    QTest::newRow("2.0B list") << "list";
    QTest::newRow("2.0B mask") << "mask";
}

void TestBankImport::banksOfTheWindowsAreExact()
{
    QFETCH(QString, base);
    const ConfigurationBank bank = baseBank(base);
    const BankImport imported = importBank(bank);
    QCOMPARE(problemLines(imported.obstacles), QStringList());
    QCOMPARE(problemLines(imported.notes), QStringList());
    QCOMPARE(compileProject(imported.project), bank);
    QCOMPARE(firstRebuildDifference(imported.project, bank).value, std::nullopt);
    QCOMPARE(firstRebuildDifference(imported.project, patched(bank, {{200, 1}})).value,
             std::optional<int>(200));
}

// Banks no project gives: every obstacle is listed, and the documents written anyway compile to
// the bank with what they could not hold changed.
void TestBankImport::obstacles_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<BytePatch>("patch");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<BytePatch>("forced"); // how the rebuilt bank differs from the base

    QTest::newRow("reserved byte")
        << "A" << BytePatch{{5, 1}}
        << QStringList{"offset 5 (reserved): byte 5 is not zero, which no compile writes; the "
                       "documents give zeros"}
        << BytePatch{};
    QTest::newRow("reserved bytes, two runs")
        << "A" << BytePatch{{400, 1}, {401, 2}, {16383, 3}}
        << QStringList{"offset 400 (reserved): bytes 400 to 401 are not zero, which no compile "
                       "writes; the documents give zeros",
                       "offset 16383 (reserved): byte 16383 is not zero, which no compile writes; "
                       "the documents give zeros"}
        << BytePatch{};
    QTest::newRow("2.0B header in a 2.0A bank")
        << "A" << BytePatch{{10, 1}, {13, 2}}
        << QStringList{"offset 10 (reserved): byte 10 is not zero, which no compile writes; the "
                       "documents give zeros",
                       "offset 13 (reserved): byte 13 is not zero, which no compile writes; the "
                       "documents give zeros"}
        << BytePatch{};
    QTest::newRow("word after the counted identifiers")
        << "list" << BytePatch{{108, 5}}
        << QStringList{"offset 108 (reserved): byte 108 is not zero, which no compile writes; "
                       "the documents give zeros"}
        << BytePatch{};
    QTest::newRow("unknown serial baud code")
        << "A" << BytePatch{{0, 8}}
        << QStringList{"offset 0 (serial baud rate): unknown baud code 8, which no window "
                       "writes; the documents keep it (Ser_Baud 8)"}
        << BytePatch{{0, 8}};
    QTest::newRow("CAN baud code 0")
        << "A" << BytePatch{{3, 0}}
        << QStringList{"offset 3 (CAN baud rate): unknown baud code 0, which no window writes; "
                       "the documents keep it (Can_Baud -1)"}
        << BytePatch{{3, 0}};
    QTest::newRow("CAN baud code 10")
        << "list" << BytePatch{{3, 10}}
        << QStringList{"offset 3 (CAN baud rate): unknown baud code 10, which no window writes; "
                       "the documents keep it (Can_Baud 9)"}
        << BytePatch{{3, 10}};
    QTest::newRow("parity code 2")
        << "A" << BytePatch{{1, 2}}
        << QStringList{"offset 1 (parity): unknown parity code 2, which no document gives; the "
                       "documents give None (code 0)"}
        << BytePatch{};
    QTest::newRow("frame format code 2")
        << "list" << BytePatch{{2, 2}}
        << QStringList{"offset 2 (CAN frame format): code 2 is neither 0 nor 1, which no "
                       "document gives; the documents give 1"}
        << BytePatch{};
    QTest::newRow("remote frames code 5")
        << "A" << BytePatch{{4, 5}}
        << QStringList{"offset 4 (remote frames): code 5 is neither 0 nor 1, which no document "
                       "gives; the documents give 1"}
        << BytePatch{{4, 1}};
    QTest::newRow("filter mode code 2")
        << "mask" << BytePatch{{11, 2}}
        << QStringList{"offset 11 (filter mode): code 2, which no document gives; the documents "
                       "give 0 (mask patterns)"}
        << BytePatch{};
    QTest::newRow("list function code 2")
        << "list" << BytePatch{{12, 2}}
        << QStringList{"offset 12 (list function): code 2 is neither 0 nor 1, which no document "
                       "gives; the documents give 1"}
        << BytePatch{};
    QTest::newRow("list function with mask patterns")
        << "mask" << BytePatch{{12, 1}}
        << QStringList{"offset 12 (list function): code 1 with mask patterns, which no document "
                       "gives; the documents give 0"}
        << BytePatch{};
    QTest::newRow("entries not marked present")
        << "list" << BytePatch{{10, 0}}
        << QStringList{"offset 10 (filter present): 2 entries counted but not marked as present, "
                       "which only a filter document that cannot be read gives; the documents "
                       "give them marked present (1)"}
        << BytePatch{};
    QTest::newRow("present code 2")
        << "list" << BytePatch{{10, 2}}
        << QStringList{"offset 10 (filter present): code 2 is neither 0 nor 1, which no "
                       "document gives; the documents give 1"}
        << BytePatch{};
    QTest::newRow("identifier above 29 bits")
        << "list" << BytePatch{{107, 0xFF}}
        << QStringList{"offset 104 (identifier 2): 0xFFFFFFFF has more than 29 bits, which no "
                       "window writes; the documents keep it"}
        << BytePatch{{107, 0xFF}};
    QTest::newRow("pattern with a one where its first value has none")
        << "mask" << BytePatch{{105, 0x10}}
        << QStringList{"offset 100 (pattern 1): the values 0x000003FF and 0x000010F0 are no "
                       "pattern's; the documents give 0000000000000000x00xx1111xxxx"}
        << BytePatch{{101, 0x13}};
    QTest::newRow("pattern above 29 bits")
        << "mask" << BytePatch{{103, 0x20}}
        << QStringList{"offset 100 (pattern 1): the values 0x200003FF and 0x000000F0 are no "
                       "pattern's; the documents give 0000000000000000000xx1111xxxx"}
        << BytePatch{{103, 0}};
    QTest::newRow("erased bank")
        << "erased" << BytePatch{}
        << QStringList{"bank 1 is erased (all 0xFF): this firmware was never configured; the "
                       "documents are those of a new project"}
        << BytePatch{};
    QTest::newRow("everything at once")
        << "list" << BytePatch{{0, 9}, {1, 4}, {9, 1}, {12, 3}}
        << QStringList{"offset 0 (serial baud rate): unknown baud code 9, which no window "
                       "writes; the documents keep it (Ser_Baud 9)",
                       "offset 1 (parity): unknown parity code 4, which no document gives; the "
                       "documents give None (code 0)",
                       "offset 12 (list function): code 3 is neither 0 nor 1, which no document "
                       "gives; the documents give 1",
                       "offset 9 (reserved): byte 9 is not zero, which no compile writes; the "
                       "documents give zeros"}
        << BytePatch{{0, 9}, {12, 1}};
}

void TestBankImport::obstacles()
{
    QFETCH(QString, base);
    QFETCH(BytePatch, patch);
    QFETCH(QStringList, expected);
    QFETCH(BytePatch, forced);

    const ConfigurationBank bank = patched(baseBank(base), patch);
    const BankImport imported = importBank(bank);
    QVERIFY(!imported.exact());
    QCOMPARE(problemLines(imported.obstacles), expected);
    const ConfigurationBank rebuilt = compileProject(imported.project);
    const ConfigurationBank expectedBank =
        patched(baseBank(base == u"erased" ? "A" : base), forced);
    QCOMPARE(firstDifference(rebuilt, expectedBank), -1);
    QCOMPARE(firstRebuildDifference(imported.project, expectedBank).value, std::nullopt);
}

void TestBankImport::entriesTheDeviceDoesNotReadArePlaceholders_data()
{
    QTest::addColumn<BytePatch>("patch");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("70 identifiers")
        << BytePatch{{11, 1}, {13, 70}}
        << QStringList{"offset 13 (filter entries): the bank counts 70 identifiers, the device "
                       "reads at most 65 and the bank holds 65; the documents give the other 5 "
                       "as 0"};
    QTest::newRow("count 0, identifiers present")
        << BytePatch{{11, 1}, {13, 0}}
        << QStringList{"offset 13 (filter entries): an entry count of 0 with entries present is "
                       "what 256 identifiers give, the device reads at most 65 and the bank "
                       "holds 0; the documents give the other 256 as 0"};
    QTest::newRow("40 patterns")
        << BytePatch{{11, 0}, {13, 40}}
        << QStringList{"offset 13 (filter entries): the bank counts 40 patterns, the device "
                       "reads at most 32 and the bank holds 32; the documents give the other 8 "
                       "as 00000000000000000000000000000"};
}

void TestBankImport::entriesTheDeviceDoesNotReadArePlaceholders()
{
    QFETCH(BytePatch, patch);
    QFETCH(QStringList, expected);
    ConfigurationBank bank = patched(bankOf({{0, 7}, {2, 1}, {3, 6}, {10, 1}}), patch);
    const bool list = bank[kFilterModeOffset] == 1;
    const int count = bank[kEntryCountOffset];
    const int words = list ? std::min(count, kFilterWordCount) : 2 * std::min(count, kMaxPatterns);
    for (int j = 0; j < words; ++j)
        bank[kFilterAreaOffset + kFilterWordBytes * j] = list ? quint8(j + 1) : j % 2 ? 0x0F : 0xFF;
    const BankImport imported = importBank(bank);
    QCOMPARE(problemLines(imported.obstacles), QStringList());
    QCOMPARE(problemLines(imported.notes), expected);
    QCOMPARE(firstDifference(compileProject(imported.project), bank), -1);
}

void TestBankImport::writesTheDocumentsOfANewProject()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("made/here"));
    const QStringList written = writeImportedProject(folder, importBank(bankA()).project).value;
    QCOMPARE(written,
             (QStringList{folder + "/pargen.xml", folder + "/Filter20A.xml", folder + "/var.xml"}));
    QVERIFY(QFileInfo(folder + "/bin").isDir());
    QCOMPARE(quillner::testing::readFile(folder + "/pargen.xml"),
             QByteArray("<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par><Can_Type>0"
                        "</Can_Type><Can_Baud>5</Can_Baud><Can_Enable_RTR>0</Can_Enable_RTR>"
                        "</General_Parameter>\r\n"));
    QCOMPARE(quillner::testing::readFile(folder + "/var.xml"), QByteArray("<TCP_TO_RTU/>\r\n"));
    QVERIFY(!QFileInfo::exists(folder + "/Filter20B.xml"));

    const QStringList again = writeImportedProject(folder, importBank(bankBList()).project).value;
    QCOMPARE(again[1], folder + "/Filter20B.xml");
}

void TestBankImport::neverWritesThroughASymbolicLink()
{
#ifdef Q_OS_WIN
    QSKIP("Symbolic links need rights on Windows");
#endif
    QTemporaryDir dir;
    const QString outside = dir.filePath(QStringLiteral("outside.xml"));
    QVERIFY(quillner::testing::writeFile(outside, "keep"));
    const QString folder = dir.filePath(QStringLiteral("project"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::link(outside, folder + "/var.xml"));
    QVERIFY_THROWS_EXCEPTION(Error, writeImportedProject(folder, importBank(bankA()).project));
    QCOMPARE(quillner::testing::readFile(outside), QByteArray("keep"));
    QVERIFY(!QFileInfo::exists(folder + "/pargen.xml"));
}

void TestBankImport::findsTheDocumentsOfAFolder()
{
    QTemporaryDir dir;
    QCOMPARE(projectDocumentsIn(dir.path()), QStringList());
    QVERIFY(quillner::testing::writeFile(dir.filePath("Filter20B.xml"), "x"));
    QVERIFY(quillner::testing::writeFile(dir.filePath("bank1.bin"), "x"));
    QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("var.xml")));
    QCOMPARE(projectDocumentsIn(dir.path()), (QStringList{"Filter20B.xml", "var.xml"}));
}

QTEST_GUILESS_MAIN(TestBankImport)
#include "tst_bank_import.moc"
