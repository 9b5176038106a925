#include "filter_test_support.h"

#include "core/documents/general_parameters.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "gui/documents/general_parameter_window.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

using namespace quillner;
using namespace quillner::filtertest;

namespace {

// An editor window and two versions of its document, each as the window itself writes it: the
// one the window reads, and the one written beside it while the window is open.
struct Editor
{
    std::function<QDialog*(const AppPaths&)> open;
    std::function<QString(const AppPaths&)> document;
    std::function<void(const QString& path, bool second)> write;
};

Editor editor(const QString& name)
{
    if (name == QLatin1String("pargen.xml"))
        return {[](const AppPaths& paths) -> QDialog* { return new TFpargen(paths); },
                [](const AppPaths& paths) { return paths.PargenPath; },
                [](const QString& path, bool second) {
                    GeneralParameters parameters;
                    if (second) {
                        parameters.Ser_Baud = 4;
                        parameters.Can_Baud = 3;
                        parameters.Can_Enable_RTR = true;
                    }
                    saveGeneralParameters(path, parameters);
                }};
    if (name == QLatin1String("Filter20A.xml"))
        return {[](const AppPaths& paths) -> QDialog* { return new TFFilter(paths); },
                [](const AppPaths& paths) { return paths.Filter20APath; },
                [](const QString& path, bool second) {
                    Filter20A filter;
                    if (second)
                        std::fill_n(filter.IdVisible.begin(), 0x100, quint8(0));
                    saveFilter20A(path, filter);
                }};
    return {[](const AppPaths& paths) -> QDialog* { return new TFFilterExt(paths); },
            [](const AppPaths& paths) { return paths.Filter20BPath; },
            [](const QString& path, bool second) {
                Filter20B filter;
                filter.cobIds = second ? QStringList{QStringLiteral("291"), QStringLiteral("7")}
                                       : QStringList{QStringLiteral("5")};
                saveFilter20B(path, filter);
            }};
}

} // namespace

// An editor window remembers its document as it read it. On OK, a document changed on disk
// since is overwritten only when the user says so; else the window shows the file's values.
class TestOutsideChanges : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void okAsksBeforeOverwritingAnOutsideChange_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("change"); // none, other, same: what is written meanwhile
        QTest::addColumn<bool>("answer");    // to the question, when there is one
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("overwritten");
        for (const char* document : {"pargen.xml", "Filter20A.xml", "Filter20B.xml"}) {
            const QString name = QString::fromLatin1(document);
            QTest::addRow("%s unchanged", document) << name << "none" << false << false << true;
            QTest::addRow("%s written again alike", document)
                << name << "same" << false << false << true;
            QTest::addRow("%s changed, overwrite", document)
                << name << "other" << true << true << true;
            QTest::addRow("%s changed, keep", document)
                << name << "other" << false << true << false;
        }
    }

    void okAsksBeforeOverwritingAnOutsideChange()
    {
        QFETCH(QString, document);
        QFETCH(QString, change);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, overwritten);
        FilterProject project;
        const Editor tested = editor(document);
        const QString path = tested.document(project.paths);
        tested.write(path, false);
        const QByteArray read = readFile(path);
        tested.write(path, change == QLatin1String("other"));
        const QByteArray changed = readFile(path);
        tested.write(path, false);

        MessageRecorder messages;
        messages.answer = answer;
        std::unique_ptr<QDialog> window(tested.open(project.paths));
        window->show();
        if (change != QLatin1String("none"))
            QVERIFY(writeFile(path, changed));
        click(window.get(), "bitbtn1");

        const QStringList questions = messages.questions();
        QCOMPARE(questions.size(), asked ? 1 : 0);
        if (asked) {
            QVERIFY2(questions.first().startsWith(document +
                                                  QStringLiteral(" was changed on disk "
                                                                 "after this window "
                                                                 "read it:\n") +
                                                  QDir::toNativeSeparators(path) + u'\n'),
                     qPrintable(questions.first()));
        }
        QCOMPARE(messages.errors(), QStringList());
        QCOMPARE(readFile(path), overwritten ? read : changed);
        QCOMPARE(window->isVisible(), !overwritten);
        if (overwritten)
            return;
        // Kept: the window shows the file's values now, so the next OK writes them as they are,
        // without asking again.
        click(window.get(), "bitbtn1");
        QCOMPARE(messages.questions().size(), 1);
        QCOMPARE(readFile(path), changed);
        QVERIFY(!window->isVisible());
    }
};

QTEST_MAIN(TestOutsideChanges)
#include "tst_outside_changes.moc"
