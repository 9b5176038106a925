// The help, the manual page and docs/cli.md against the command table: usage lines whole, no
// stray words, and every option documented under its command.

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "support/program_run.h"

using quillner::testing::Run;

namespace {

QString cli(const QStringList& arguments)
{
    const Run run = quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments);
    return run.exitCode == 0 ? run.out : QString();
}

// The commands of the program's help ("  update PROJECT_DIR" lines), one word or two.
QStringList commandNames()
{
    QStringList names;
    static const QRegularExpression line(QStringLiteral("^  ([a-z][a-z-]*(?: [a-z][a-z-]*)?)\\b"),
                                         QRegularExpression::MultilineOption);
    for (auto match = line.globalMatch(cli({QStringLiteral("--help")})); match.hasNext();)
        names << match.next().captured(1);
    return names;
}

// The options a command's help lists under "Options:", as the table declares them.
QSet<QString> tableOptions(const QString& command)
{
    const QString help = cli(QStringList{QStringLiteral("help")} + command.split(u' '));
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

QSet<QString> optionsIn(const QString& text)
{
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--[a-z][a-z-]*)"));
    QSet<QString> options;
    for (auto match = option.globalMatch(text); match.hasNext();)
        options.insert(match.next().captured(1));
    return options;
}

// Whether every "(" and "[" of the text is closed within it, in order.
bool groupsClosed(const QString& text)
{
    QString open;
    for (const QChar c : text) {
        if (c == u'(' || c == u'[')
            open += c;
        else if (c == u')' || c == u']') {
            if (open.isEmpty() || open.back() != (c == u')' ? u'(' : u'['))
                return false;
            open.chop(1);
        }
    }
    return open.isEmpty();
}

// The usage of a command's help: the lines after "Usage: quillner-cli " up to the blank line,
// one space between their words.
QString usageOf(const QString& help)
{
    const QString block = help.section(QStringLiteral("\n\n"), 0, 0);
    return block.mid(QStringLiteral("Usage: quillner-cli ").size()).simplified();
}

} // namespace

class TestCliHelp : public QObject
{
    Q_OBJECT

    static void addCommandRows()
    {
        QTest::addColumn<QString>("command");
        const QStringList names = commandNames();
        QVERIFY(names.contains(QStringLiteral("filter set")));
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }

private Q_SLOTS:

    // A usage line ends between groups, never inside one: each line of the program's help and
    // of the command's help closes what it opens, or continues an alternative of the group the
    // lines share.
    void usageLinesKeepGroupsWhole_data() { addCommandRows(); }
    void usageLinesKeepGroupsWhole()
    {
        QFETCH(QString, command);
        const QString help = cli(QStringList{QStringLiteral("help")} + command.split(u' '));
        const QString usage = usageOf(help);
        QVERIFY2(usage.startsWith(command + u' ') || usage == command, qPrintable(usage));
        QVERIFY2(groupsClosed(usage), qPrintable(usage));
        const QStringList lines = help.section(QStringLiteral("\n\n"), 0, 0).split(u'\n');
        for (const QString& line : lines) {
            QVERIFY2(line.size() <= 80 || groupsClosed(line.trimmed()), qPrintable(line));
            QVERIFY2(!line.trimmed().endsWith(u'(') && !line.trimmed().endsWith(u'|'),
                     qPrintable(line));
        }
        // The program's help gives what the command needs: the usage up to its first optional
        // group, whole.
        const QString program = cli({QStringLiteral("--help")});
        const qsizetype at = program.indexOf(QStringLiteral("\n  ") + command + u' ');
        const qsizetype atEnd = program.indexOf(QStringLiteral("\n  ") + command + u'\n');
        const qsizetype start = at >= 0 ? at : atEnd;
        QVERIFY(start >= 0);
        const QString entry = program.mid(start + 1).section(QStringLiteral("\n      "), 0, 0);
        const QString required = entry.simplified();
        QVERIFY2(groupsClosed(required), qPrintable(entry));
        QVERIFY2(usage.startsWith(required), qPrintable(required + u'\n' + usage));
        QVERIFY2(usage.size() == required.size() || usage.at(required.size()) == u' ',
                 qPrintable(required));
    }

    // No line of the full help (the manual page's text) is a word left alone by a broken
    // reflow.
    void noStrayWords()
    {
        const QString all = cli({QStringLiteral("--help-all")});
        QVERIFY(all.contains(QStringLiteral("filter export")));
        static const QRegularExpression alone(QStringLiteral("^\\s+[a-z]+$"),
                                              QRegularExpression::MultilineOption);
        const QRegularExpressionMatch match = alone.match(all);
        QVERIFY2(!match.hasMatch(), qPrintable(match.captured(0)));
    }

    // docs/cli.md has a section for each command, headed by its usage: every option of the
    // table is told in that section, and every option of the heading is one of the table's.
    void docsTellTheOptionsOfTheTable_data() { addCommandRows(); }
    void docsTellTheOptionsOfTheTable()
    {
        QFETCH(QString, command);
        QFile file(QStringLiteral(QUILLNER_SOURCE_DIR "/docs/cli.md"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString docs = QString::fromUtf8(file.readAll());
        const QRegularExpression heading(
            QStringLiteral("^### %1( .*)?$").arg(QRegularExpression::escape(command)),
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch found = heading.match(docs);
        QVERIFY2(found.hasMatch(), qPrintable(command));
        // The next section's heading; a line of "# " is a comment of an example.
        static const QRegularExpression nextHeading(QStringLiteral("^#{2,3} "),
                                                    QRegularExpression::MultilineOption);
        const qsizetype end = docs.indexOf(nextHeading, found.capturedEnd());
        const QString section = docs.mid(found.capturedEnd(), end - found.capturedEnd());

        const QSet<QString> table = tableOptions(command);
        const QSet<QString> told = optionsIn(found.captured(0)) | optionsIn(section);
        const QSet<QString> untold = table - told;
        QVERIFY2(untold.isEmpty(), qPrintable(QStringList(untold.values()).join(u' ')));
        const QSet<QString> unknown = optionsIn(found.captured(0)) - table;
        QVERIFY2(unknown.isEmpty(), qPrintable(QStringList(unknown.values()).join(u' ')));
    }
};

QTEST_GUILESS_MAIN(TestCliHelp)
#include "tst_cli_help.moc"
