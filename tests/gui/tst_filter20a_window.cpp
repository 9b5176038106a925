#include "filter_test_support.h"

#include "core/filters/filter20a.h"
#include "gui/filters/filter20a_window.h"

#include <QFile>
#include <QListView>
#include <QTest>

using namespace quillner;
using namespace quillner::filtertest;

namespace {

using IdSet = QList<int>;

QString fixture(const QString& name)
{
    return QStringLiteral(QUILLNER_TEST_DATA "/filters/") + name;
}

// The two lists as they must read for these hidden identifiers.
QStringList hiddenRows(const IdSet& hidden, NumberBase base)
{
    QStringList texts;
    for (const int id : hidden)
        texts.append(standardIdText(id, base));
    return texts;
}

QStringList visibleRows(const IdSet& hidden, NumberBase base)
{
    QStringList texts;
    for (int id = 0; id < kStandardIdCount; ++id) {
        if (!hidden.contains(id))
            texts.append(standardIdText(id, base));
    }
    return texts;
}

// What "OK" writes for these hidden identifiers.
QByteArray documentBytes(const IdSet& hidden)
{
    QByteArray bytes = "<Filter20A>";
    for (int id = 0; id < kStandardIdCount; ++id)
        bytes += hidden.contains(id) ? "<filter>0</filter>" : "<filter>1</filter>";
    return bytes + "</Filter20A>\r\n";
}

void saveHidden(const QString& path, const IdSet& hidden)
{
    Filter20A filter;
    for (const int id : hidden)
        filter.IdVisible[id] = 0;
    saveFilter20A(path, filter);
}

} // namespace

class TestFilter20AWindow : public QObject
{
    Q_OBJECT
private:
    QListView* hiddenList() { return control<QListView>(m_window.get(), "ListBox1"); }
    QListView* visibleList() { return control<QListView>(m_window.get(), "ListBox2"); }

    void verifyLists(const IdSet& hidden, NumberBase base)
    {
        QCOMPARE(rows(hiddenList()), hiddenRows(hidden, base));
        QCOMPARE(rows(visibleList()), visibleRows(hidden, base));
    }

    // "OK" saves and closes.
    void pressOk()
    {
        click(m_window.get(), "bitbtn1");
        QVERIFY(!m_window->isVisible());
    }

private Q_SLOTS:
    void init()
    {
        m_project = std::make_unique<FilterProject>();
        m_messages = std::make_unique<MessageRecorder>();
        m_window = std::make_unique<TFFilter>(m_project->paths);
    }

    void cleanup()
    {
        m_window.reset();
        m_messages.reset();
        m_project.reset();
    }

    void withoutDocumentAllVisible()
    {
        m_window->show();
        verifyLists({}, NumberBase::Hexadecimal);
        QCOMPARE(m_messages->takeErrors(), QStringList{});
        pressOk();
        QCOMPARE(readFile(m_project->paths.Filter20APath), documentBytes({}));
    }

    void identifierForms_data()
    {
        QTest::addColumn<QByteArray>("radio");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::newRow("hexadecimal") << QByteArray("RomanRadio1") << "0x0000"
                                     << "0x07FF";
        QTest::newRow("decimal") << QByteArray("RomanRadio2") << "0"
                                 << "2047";
    }

    void identifierForms()
    {
        QFETCH(QByteArray, radio);
        QFETCH(QString, first);
        QFETCH(QString, last);
        m_window->show();
        click(m_window.get(), "RomanRadio2"); // the other mode first, so each row switches
        click(m_window.get(), radio.constData());
        click(m_window.get(), "LbButton4");
        const QStringList hidden = rows(hiddenList());
        QCOMPARE(hidden.size(), kStandardIdCount);
        QCOMPARE(hidden.first(), first);
        QCOMPARE(hidden.last(), last);
        QVERIFY(rows(visibleList()).isEmpty());
    }

    void allAndNone_data()
    {
        QTest::addColumn<QByteArrayList>("buttons");
        QTest::addColumn<IdSet>("hidden");
        IdSet every;
        for (int id = 0; id < kStandardIdCount; ++id)
            every.append(id);
        QTest::newRow("NONE") << QByteArrayList{"LbButton4"} << every;
        QTest::newRow("NONE then ALL") << QByteArrayList{"LbButton4", "LbButton3"} << IdSet{};
    }

    void allAndNone()
    {
        QFETCH(QByteArrayList, buttons);
        QFETCH(IdSet, hidden);
        saveHidden(m_project->paths.Filter20APath, {7, 8});
        m_window->show();
        for (const QByteArray& button : buttons)
            click(m_window.get(), button.constData());
        verifyLists(hidden, NumberBase::Hexadecimal);
        pressOk();
        QCOMPARE(readFile(m_project->paths.Filter20APath), documentBytes(hidden));
    }

    void move_data()
    {
        QTest::addColumn<QByteArray>("radio");
        QTest::addColumn<NumberBase>("base");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<int>("id");
        QTest::addColumn<IdSet>("hiddenAfter");
        // Identifiers 3, 5 and 9 start hidden.
        QTest::newRow(">> hexadecimal")
            << QByteArray("RomanRadio1") << NumberBase::Hexadecimal << QByteArray("ListBox1")
            << QByteArray("LbButton1") << 5 << IdSet{3, 9};
        QTest::newRow(">> decimal")
            << QByteArray("RomanRadio2") << NumberBase::Decimal << QByteArray("ListBox1")
            << QByteArray("LbButton1") << 9 << IdSet{3, 5};
        QTest::newRow("<< hexadecimal")
            << QByteArray("RomanRadio1") << NumberBase::Hexadecimal << QByteArray("ListBox2")
            << QByteArray("LbButton2") << 4 << IdSet{3, 4, 5, 9};
        QTest::newRow("<< decimal")
            << QByteArray("RomanRadio2") << NumberBase::Decimal << QByteArray("ListBox2")
            << QByteArray("LbButton2") << 2047 << IdSet{3, 5, 9, 2047};
    }

    void move()
    {
        QFETCH(QByteArray, radio);
        QFETCH(NumberBase, base);
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, button);
        QFETCH(int, id);
        QFETCH(IdSet, hiddenAfter);
        saveHidden(m_project->paths.Filter20APath, {3, 5, 9});
        m_window->show();
        click(m_window.get(), radio.constData());
        verifyLists({3, 5, 9}, base);

        auto* from = control<QListView>(m_window.get(), list.constData());
        QVERIFY(selectRow(from, standardIdText(id, base)));
        click(m_window.get(), button.constData());
        verifyLists(hiddenAfter, base);
        QVERIFY(!hasSelection(hiddenList()) && !hasSelection(visibleList()));

        // Switching the display keeps exactly the same identifiers hidden.
        click(m_window.get(), base == NumberBase::Decimal ? "RomanRadio1" : "RomanRadio2");
        verifyLists(hiddenAfter,
                    base == NumberBase::Decimal ? NumberBase::Hexadecimal : NumberBase::Decimal);
        pressOk();
        QCOMPARE(readFile(m_project->paths.Filter20APath), documentBytes(hiddenAfter));
    }

    void moveWithoutSelection_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::newRow(">>") << QByteArray("LbButton1");
        QTest::newRow("<<") << QByteArray("LbButton2");
    }

    void moveWithoutSelection()
    {
        QFETCH(QByteArray, button);
        saveHidden(m_project->paths.Filter20APath, {1, 2});
        m_window->show();
        click(m_window.get(), button.constData());
        QCOMPARE(m_messages->takeErrors(), QStringList{"List index out of bounds (-1)"});
        verifyLists({1, 2}, NumberBase::Hexadecimal);
        QVERIFY(m_window->isVisible());
    }

    void loading_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<IdSet>("hidden");
        QTest::addColumn<QString>("error"); // "*": the parser's error, in its own words
        QTest::newRow("fewer children") << "filter20a_three_children.xml" << IdSet{0, 2} << "";
        QTest::newRow("non-zero integers visible") << "filter20a_child_2.xml" << IdSet{1} << "";
        QTest::newRow("other element names") << "filter20a_other_names.xml" << IdSet{0, 2} << "";
        QTest::newRow("non-integer child") << "filter20a_child_3_abc.xml" << IdSet{0, 1, 2}
                                           << "'abc' is not a valid integer value.";
        QTest::newRow("not well-formed") << "filter20a_not_well_formed.xml" << IdSet{} << "*";
        QTest::newRow("other root")
            << "filter20a_wrong_root.xml" << IdSet{} << "Element Filter20A not found.";
    }

    void loading()
    {
        QFETCH(QString, file);
        QFETCH(IdSet, hidden);
        QFETCH(QString, error);
        // A showing that leaves every identifier hidden in the lists.
        m_window->show();
        click(m_window.get(), "LbButton4");
        click(m_window.get(), "bitbtn2");

        QVERIFY(QFile::copy(fixture(file), m_project->paths.Filter20APath));
        m_window->show();
        const QStringList errors = m_messages->takeErrors();
        if (error.isEmpty()) {
            QCOMPARE(errors, QStringList{});
        } else if (error == u'*') {
            QCOMPARE(errors.size(), 1);
            QVERIFY(errors.first().contains(QStringLiteral("\nLine: ")));
        } else {
            QCOMPARE(errors, QStringList{error});
        }
        // The lists show the table as read, also after an error: what "OK" writes.
        verifyLists(hidden, NumberBase::Hexadecimal);
        pressOk();
        QCOMPARE(readFile(m_project->paths.Filter20APath), documentBytes(hidden));
    }

    void cancelWritesNothing()
    {
        saveHidden(m_project->paths.Filter20APath, {1});
        const QByteArray before = readFile(m_project->paths.Filter20APath);
        m_window->show();
        click(m_window.get(), "LbButton4");
        click(m_window.get(), "bitbtn2");
        QVERIFY(!m_window->isVisible());
        QCOMPARE(readFile(m_project->paths.Filter20APath), before);
        m_window->show();
        verifyLists({1}, NumberBase::Hexadecimal);
    }

    void failedSaveKeepsWindowOpen()
    {
        AppPaths paths = m_project->paths;
        paths.Filter20APath = joinPath(m_project->dir.filePath(QStringLiteral("gone")),
                                       QStringLiteral("Filter20A.xml"));
        TFFilter window(paths);
        window.show();
        click(&window, "LbButton4");
        click(&window, "bitbtn1");
        const QStringList errors = m_messages->takeErrors();
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QStringLiteral("Cannot create file")));
        QVERIFY(window.isVisible());
        QCOMPARE(rows(control<QListView>(&window, "ListBox1")).size(), kStandardIdCount);
    }

private:
    std::unique_ptr<FilterProject> m_project;
    std::unique_ptr<MessageRecorder> m_messages;
    std::unique_ptr<TFFilter> m_window;
};

QTEST_MAIN(TestFilter20AWindow)
#include "tst_filter20a_window.moc"
