// What a filter window saves compiles to the bitmap or the words that the window showed.

#include "filter_test_support.h"

#include "core/app/int_parse.h"
#include "core/bank/bank_compiler.h"
#include "core/documents/general_parameters.h"
#include "core/filters/mask_pattern.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QSet>
#include <QTest>

using namespace quillner;
using namespace quillner::filtertest;

namespace {

ConfigurationBank compile(const AppPaths& paths)
{
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    if (!compiled.problems.isEmpty())
        qWarning() << problemLines(compiled.problems);
    return compiled.value;
}

quint32 wordAt(const ConfigurationBank& bank, int word)
{
    const int offset = 100 + 4 * word;
    return quint32(bank[offset]) | quint32(bank[offset + 1]) << 8 |
           quint32(bank[offset + 2]) << 16 | quint32(bank[offset + 3]) << 24;
}

// A project whose frame format is CAN 2.0B, so that the compiler reads Filter20B.xml.
void saveCanBParameters(const AppPaths& paths)
{
    GeneralParameters parameters;
    parameters.canTypeB = true;
    saveGeneralParameters(paths.PargenPath, parameters);
}

void moveRow(QWidget* window, const char* list, const QString& text, const char* button)
{
    QVERIFY2(selectRow(control<QAbstractItemView>(window, list), text), qPrintable(text));
    click(window, button);
}

} // namespace

class TestFilterBankRoundTrip : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void identifierBitmap()
    {
        FilterProject project;
        saveGeneralParameters(project.paths.PargenPath, GeneralParameters{});
        MessageRecorder messages;
        TFFilter window(project.paths);
        window.show();
        click(&window, "LbButton4"); // NONE
        moveRow(&window, "ListBox1", QStringLiteral("0x0000"), "LbButton1");
        moveRow(&window, "ListBox1", QStringLiteral("0x0009"), "LbButton1");
        moveRow(&window, "ListBox1", QStringLiteral("0x07FF"), "LbButton1");
        click(&window, "RomanRadio2"); // decimal
        moveRow(&window, "ListBox1", QStringLiteral("1000"), "LbButton1");
        moveRow(&window, "ListBox2", QStringLiteral("9"), "LbButton2");
        QSet<int> visible;
        for (const QString& row : rows(control<QAbstractItemView>(&window, "ListBox2")))
            visible.insert(parseIntStrict(row));
        QCOMPARE(visible, QSet<int>({0, 1000, 2047}));
        click(&window, "bitbtn1");
        QVERIFY(messages.messages.isEmpty());

        const ConfigurationBank bank = compile(project.paths);
        for (int id = 0; id < 2048; ++id) {
            const bool bit = bank[100 + id / 8] & (1u << (id % 8));
            QVERIFY2(bit == visible.contains(id), qPrintable(QString::number(id)));
        }
    }

    void identifierList()
    {
        FilterProject project;
        saveCanBParameters(project.paths);
        MessageRecorder messages;
        TFFilterExt window(project.paths);
        window.show();
        click(&window, "RB_COB_Filter"); // already checked: it stays so
        QVERIFY(control<QAbstractButton>(&window, "RB_COB_Filter")->isChecked());
        typeInto(&window, "Edit1", QStringLiteral("291"));
        click(&window, "LbButton1");
        click(&window, "HEX");
        typeInto(&window, "Edit1", QStringLiteral("536870911"));
        click(&window, "LbButton1");
        click(&window, "TypeNegative");
        const QStringList shown = rows(control<QAbstractItemView>(&window, "ListBox1"));
        // Switching to "HEX" converted the first entry too.
        QCOMPARE(shown, QStringList({QStringLiteral("$00000123"), QStringLiteral("$1FFFFFFF")}));
        click(&window, "bitbtn1");
        QVERIFY(messages.messages.isEmpty());

        const ConfigurationBank bank = compile(project.paths);
        QCOMPARE(bank[10], quint8(1));
        QCOMPARE(bank[11], quint8(1)); // identifier list
        QCOMPARE(bank[12], quint8(0)); // "Type Negative"
        QCOMPARE(bank[13], quint8(shown.size()));
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(wordAt(bank, i), quint32(parseIntStrict(shown[i])));
        QCOMPARE(wordAt(bank, shown.size()), 0u);
    }

    void maskPatterns()
    {
        FilterProject project;
        saveCanBParameters(project.paths);
        MessageRecorder messages;
        TFFilterExt window(project.paths);
        window.show();
        click(&window, "RB_Mask_Filter");
        for (const char* typed : {"111xxx1010", "X0X1", ""}) {
            typeInto(&window, "Edit2", QString::fromLatin1(typed));
            click(&window, "LbButton4");
        }
        const QStringList shown = rows(control<QAbstractItemView>(&window, "ListBox2"));
        QCOMPARE(shown.size(), 3);
        click(&window, "bitbtn1");
        QVERIFY(messages.messages.isEmpty());

        const ConfigurationBank bank = compile(project.paths);
        QCOMPARE(bank[10], quint8(1));
        QCOMPARE(bank[11], quint8(0)); // mask patterns
        QCOMPARE(bank[12], quint8(0));
        QCOMPARE(bank[13], quint8(3));
        for (int k = 0; k < shown.size(); ++k) {
            QCOMPARE(wordAt(bank, 2 * k), PatternNonZeroBits(shown[k]));
            QCOMPARE(wordAt(bank, 2 * k + 1), PatternOneBits(shown[k]));
        }
        QCOMPARE(wordAt(bank, 0), 1018u);
        QCOMPARE(wordAt(bank, 1), 906u);
    }
};

QTEST_MAIN(TestFilterBankRoundTrip)
#include "tst_filter_bank_roundtrip.moc"
