#include "gui/app/start_up.h"

#include <QTest>

using namespace quillner;

// The command line of Quillner, read before any window system is touched.
class TestStartUp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void options_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the program's name
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("notOurs");
        const QStringList none;
        QTest::newRow("nothing") << none << false << false << ""
                                 << "" << none;
        QTest::newRow("--help") << QStringList{"--help"} << true << false << ""
                                << "" << none;
        QTest::newRow("-h") << QStringList{"-h"} << true << false << ""
                            << "" << none;
        QTest::newRow("--version") << QStringList{"--version"} << false << true << ""
                                   << "" << none;
        QTest::newRow("--home DIR") << QStringList{"--home", "/srv/q"} << false << false << "/srv/q"
                                    << "" << none;
        QTest::newRow("--home=DIR") << QStringList{"--home=/srv/q"} << false << false << "/srv/q"
                                    << "" << none;
        QTest::newRow("--home without a folder") << QStringList{"--home"} << false << false << ""
                                                 << "--home needs a folder" << none;
        QTest::newRow("--home= empty") << QStringList{"--home="} << false << false << ""
                                       << "--home needs a folder" << none;
        QTest::newRow("Qt's own options are left for Qt")
            << QStringList{"-platform", "offscreen", "--home", "d"} << false << false << "d"
            << "" << QStringList{"-platform", "offscreen"};
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(QString, home);
        QFETCH(QString, error);
        QFETCH(QStringList, notOurs);
        const StartOptions options =
            parseStartOptions(QStringList{QStringLiteral("/usr/bin/Quillner")} + arguments);
        QCOMPARE(options.help, help);
        QCOMPARE(options.version, version);
        QCOMPARE(options.home, home);
        QCOMPARE(options.error, error);
        QCOMPARE(options.notOurs, notOurs);
    }

    void texts()
    {
        QVERIFY(startHelpText().startsWith(QStringLiteral("Usage: Quillner [--home DIR]\n")));
        QVERIFY(startHelpText().contains(QStringLiteral("\nOptions:\n  --home DIR ")));
        QCOMPARE(startVersionText(), QStringLiteral("Quillner " QUILLNER_VERSION "\n"));
        // One line, for a terminal or a session log.
        QCOMPARE(noDisplayMessage().count(u'\n'), 1);
        QVERIFY(noDisplayMessage().endsWith(u'\n'));
    }

    void display_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("able");
        const QStringList none;
        QTest::newRow("X11") << QStringList{"DISPLAY=:0"} << none << true;
        QTest::newRow("Wayland") << QStringList{"WAYLAND_DISPLAY=wayland-0"} << none << true;
        QTest::newRow("offscreen") << QStringList{"QT_QPA_PLATFORM=offscreen"} << none << true;
        QTest::newRow("-platform") << none << QStringList{"-platform", "offscreen"} << true;
        QTest::newRow("--platform=") << none << QStringList{"--platform=offscreen"} << true;
        QTest::newRow("empty DISPLAY") << QStringList{"DISPLAY="} << none << false;
        QTest::newRow("nothing") << QStringList{"HOME=/root"} << none << false;
    }

    void display()
    {
#if !defined(Q_OS_UNIX) || defined(Q_OS_MACOS)
        QSKIP("Windows and macOS always have their window system");
#endif
        QFETCH(QStringList, variables);
        QFETCH(QStringList, arguments);
        QFETCH(bool, able);
        QProcessEnvironment environment;
        for (const QString& variable : variables)
            environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        QCOMPARE(canShowWindows(QStringList{QStringLiteral("Quillner")} + arguments, environment),
                 able);
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_start_up.moc"
