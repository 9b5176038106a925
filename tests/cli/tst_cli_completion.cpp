// The bash completion is made from the same table as each command's help: for every command it
// offers exactly the options that command's help lists.

#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "test_files.h"

using quillner::testing::Run;
using quillner::testing::writeFile;

namespace {

Run cli(const QStringList& arguments)
{
    return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
}

// The commands of the program's help ("  update PROJECT_DIR" lines), one word or two.
QStringList commandNames()
{
    QStringList names;
    const QString help = cli({QStringLiteral("--help")}).out;
    static const QRegularExpression line(QStringLiteral("^  ([a-z][a-z-]*(?: [a-z][a-z-]*)?)\\b"),
                                         QRegularExpression::MultilineOption);
    for (auto match = line.globalMatch(help); match.hasNext();)
        names << match.next().captured(1);
    return names;
}

// The options a command's help lists under "Options:".
QSet<QString> helpOptions(const QString& command)
{
    const QString help = cli(QStringList{QStringLiteral("help")} + command.split(u' ')).out;
    QSet<QString> options;
    const qsizetype start = help.indexOf(QStringLiteral("\nOptions:\n"));
    if (start < 0)
        return options;
    static const QRegularExpression option(QStringLiteral("^  (?:-[a-z], )?(--[a-z-]+)"),
                                           QRegularExpression::MultilineOption);
    for (auto match = option.globalMatch(help.mid(start)); match.hasNext();)
        options.insert(match.next().captured(1));
    return options;
}

} // namespace

class TestCliCompletion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_script;
    QString m_bash;

    // What the completion offers for the words typed so far, the last one being completed.
    QSet<QString> complete(const QStringList& typed)
    {
        QString words;
        for (const QString& word : typed)
            words += QStringLiteral(" '%1'").arg(word);
        const QString program = QStringLiteral(R"(
_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};
    words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
_filedir() { COMPREPLY=(FILES); }
compopt() { :; }
complete() { :; }
source '%1'
COMP_WORDS=(quillner-cli%2)
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_quillner_cli
printf '%s\n' "${COMPREPLY[@]}"
)")
                                    .arg(m_script, words);
        const Run run = quillner::testing::runProgram(m_bash, {QStringLiteral("-c"), program});
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        return QSet<QString>(lines.begin(), lines.end());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_bash = QStandardPaths::findExecutable(QStringLiteral("bash"));
        if (m_bash.isEmpty())
            QSKIP("bash is not installed");
        m_script = m_dir.filePath(QStringLiteral("quillner-cli"));
        const Run made = cli({QStringLiteral("--bash-completion")});
        QCOMPARE(made.exitCode, 0);
        QVERIFY(writeFile(m_script, made.out.toUtf8()));
    }

    void everyCommandIsOffered()
    {
        const QStringList names = commandNames();
        QVERIFY(names.contains(QStringLiteral("filter set")));
        QSet<QString> first;
        for (const QString& name : names)
            first.insert(name.section(u' ', 0, 0));
        first.insert(QStringLiteral("help"));
        QCOMPARE(complete({QString()}), first);
        QSet<QString> filterTools;
        for (const QString& name : names) {
            if (name.startsWith(QStringLiteral("filter ")))
                filterTools.insert(name.section(u' ', 1));
        }
        QVERIFY(filterTools.contains(QStringLiteral("import-dbc")));
        QCOMPARE(complete({QStringLiteral("filter"), QString()}), filterTools);
    }

    void optionsAreThoseOfTheHelp_data()
    {
        QTest::addColumn<QString>("command");
        for (const QString& name : commandNames())
            QTest::newRow(qPrintable(name)) << name;
    }

    void optionsAreThoseOfTheHelp()
    {
        QFETCH(QString, command);
        QSet<QString> expected = helpOptions(command);
        expected.insert(QStringLiteral("--help"));
        QCOMPARE(complete(command.split(u' ') + QStringList{QStringLiteral("--")}), expected);
    }

    void valuesAndArguments()
    {
        QCOMPARE(complete({"update", "PROJECTS/A", "--flash", "--port", ""}),
                 (QSet<QString>{"0", "1", "2", "3", "4", "5", "6", "7"}));
        QCOMPARE(
            complete({"get", "PROJECTS/A", ""}),
            (QSet<QString>{"serial.baud", "serial.parity", "can.format", "can.baud", "can.rtr"}));
        QCOMPARE(complete({"set", "PROJECTS/A", "can.format="}),
                 (QSet<QString>{"can.format=2.0A", "can.format=2.0B"}));
        QCOMPARE(complete({"filter", "export", "PROJECTS/A", "--as", ""}),
                 (QSet<QString>{"candump", "socketcan", "python-can", "json"}));
        QCOMPARE(complete({"compile", ""}), QSet<QString>{"FILES"});
        // The CAN plugins of Qt SerialBus, each ready for its interface.
        QVERIFY(complete({"filter", "test", "PROJECTS/A", "--bus", ""}).contains("virtualcan:"));
        QVERIFY(complete({"record", "--bus", "sock"}).contains("socketcan:"));
        QCOMPARE(complete({"merge", "PROJECTS/A", "--master", ""}), QSet<QString>{"FILES"});
    }
};

QTEST_GUILESS_MAIN(TestCliCompletion)
#include "tst_cli_completion.moc"
