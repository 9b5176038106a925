#include "command_table.h"

#include "cli_support.h"
#include "core/device/settings.h"
#include "core/logs/live_bus.h"

#include <QCommandLineParser>
#include <QSet>

#include <optional>

namespace quillner::cli {

namespace {

constexpr int kOptionColumn = 16;

QString optionLabel(const OptionSpec& option)
{
    QString label = QStringLiteral("--") + QLatin1StringView(option.name);
    if (option.alias)
        label = QStringLiteral("-%1, ").arg(QLatin1StringView(option.alias)) + label;
    if (option.takes != Takes::Nothing)
        label += u' ' + QLatin1StringView(option.valueName);
    return label;
}

// "  --json        Print …", longer labels with the text on the next line.
QString optionHelp(const OptionSpec& option)
{
    const QString label = QStringLiteral("  ") + optionLabel(option);
    const QStringList lines = QString::fromUtf8(option.help).split(u'\n');
    QString text;
    const QString indent(kOptionColumn, u' ');
    if (label.size() < kOptionColumn - 1)
        text = label.leftJustified(kOptionColumn) + lines.front() + u'\n';
    else
        text = label + u'\n' + indent + lines.front() + u'\n';
    for (qsizetype i = 1; i < lines.size(); ++i)
        text += indent + lines[i] + u'\n';
    return text;
}

QString words(const QStringList& list)
{
    return list.join(u' ');
}

// The completion of a value or an argument, as a line of the script.
QString completionOf(Takes takes)
{
    switch (takes) {
    case Takes::Folder:
        return QStringLiteral("_filedir -d");
    case Takes::File:
    case Takes::FileOrDir:
        return QStringLiteral("_filedir");
    case Takes::Port:
        return QStringLiteral("COMPREPLY=($(compgen -W '0 1 2 3 4 5 6 7' -- \"$cur\"))");
    case Takes::SettingKey: {
        QStringList keys;
        for (const Setting setting : allSettings())
            keys << settingName(setting);
        return QStringLiteral("COMPREPLY=($(compgen -W '%1' -- \"$cur\"))").arg(words(keys));
    }
    case Takes::Assignment: {
        QString text = QStringLiteral("case $cur in\n");
        QStringList keys;
        for (const Setting setting : allSettings()) {
            const QString key = settingName(setting);
            keys << key + u'=';
            text += QStringLiteral("                %1=*) COMPREPLY=($(compgen -P %1= -W '%2' -- "
                                   "\"${cur#*=}\")) ;;\n")
                        .arg(key, words(settingValues(setting)));
        }
        text += QStringLiteral("                *) COMPREPLY=($(compgen -W '%1' -- \"$cur\")); "
                               "compopt -o nospace ;;\n            esac")
                    .arg(words(keys));
        return text;
    }
    case Takes::Bus: {
        // The plugins found when the script is made; the interface after the colon is the user's.
        QStringList plugins;
        for (const QString& plugin : busPlugins())
            plugins << plugin + u':';
        return QStringLiteral("COMPREPLY=($(compgen -W '%1' -- \"$cur\")); compopt -o nospace")
            .arg(words(plugins));
    }
    case Takes::Nothing:
    case Takes::Text:
        break;
    }
    return {};
}

// The completion of an option's value; an option that takes a folder for one command and a file
// for another is completed with both.
Takes valueKind(const std::vector<const CommandSpec*>& commands, const char* name)
{
    std::optional<Takes> kind;
    for (const CommandSpec* command : commands) {
        for (const OptionSpec& option : command->options) {
            if (QLatin1StringView(option.name) != QLatin1StringView(name))
                continue;
            if (kind && *kind != option.takes)
                return Takes::FileOrDir;
            kind = option.takes;
        }
    }
    return kind.value_or(Takes::Text);
}

// The words an option's value may be, for every command that declares it.
QStringList valueWords(const std::vector<const CommandSpec*>& commands, const char* name)
{
    QStringList values;
    for (const CommandSpec* command : commands) {
        for (const OptionSpec& option : command->options) {
            if (QLatin1StringView(option.name) != QLatin1StringView(name) || !option.values)
                continue;
            for (const QString& value : option.values()) {
                if (!values.contains(value))
                    values << value;
            }
        }
    }
    return values;
}

} // namespace

CommandLine::CommandLine(const CommandSpec& command, const QStringList& arguments,
                         const std::vector<const CommandSpec*>& everyCommand)
    : m_command(QString::fromLatin1(command.name))
{
    // Every option any command declares is known, so that one given to the wrong command is
    // told as not applying to it rather than as unknown.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QSet<QString> known;
    QSet<QString> own;
    for (const OptionSpec& option : command.options)
        own.insert(QString::fromLatin1(option.name));
    for (const CommandSpec* each : everyCommand) {
        for (const OptionSpec& option : each->options) {
            const QString name = QString::fromLatin1(option.name);
            if (known.contains(name))
                continue;
            known.insert(name);
            QStringList names{name};
            if (option.alias)
                names << QString::fromLatin1(option.alias);
            parser.addOption(option.takes == Takes::Nothing
                                 ? QCommandLineOption(names)
                                 : QCommandLineOption(names, {}, QStringLiteral("VALUE")));
        }
    }
    // The parser takes the program's name first; the command's name (one word or two) follows.
    if (!parser.parse(QStringList{QStringLiteral("quillner-cli")} + arguments))
        usageError(parser.errorText());
    for (const QString& given : parser.optionNames()) {
        // A one-letter alias stands for its option's name.
        QString name = given;
        for (const CommandSpec* each : everyCommand) {
            for (const OptionSpec& option : each->options) {
                if (option.alias && given == QLatin1StringView(option.alias))
                    name = QString::fromLatin1(option.name);
            }
        }
        if (!own.contains(name))
            usageError(QStringLiteral("--%1 does not apply to %2").arg(name, m_command));
        m_values.insert(name, parser.values(name));
    }
    m_arguments = parser.positionalArguments().mid(m_command.count(u' ') + 1);
}

bool CommandLine::isSet(const char* option) const
{
    return m_values.contains(QLatin1StringView(option));
}

QString CommandLine::value(const char* option) const
{
    const QStringList given = m_values.value(QLatin1StringView(option));
    return given.isEmpty() ? QString() : given.last();
}

QStringList CommandLine::values(const char* option) const
{
    return m_values.value(QLatin1StringView(option));
}

void CommandLine::usageError(const QString& text) const
{
    cli::usageError(text, m_command);
}

QString usageLines(const CommandSpec& command, int firstColumn, int indent, bool requiredOnly)
{
    QString usage = QString::fromLatin1(command.usage);
    // The pieces between the places a line may end; each but the first begins with its space.
    QStringList pieces;
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < usage.size(); ++i) {
        const QChar c = usage[i];
        if (c == u'[' && depth == 0 && requiredOnly) {
            usage = usage.first(i).trimmed();
            break;
        }
        if (c == u'(' || c == u'[')
            ++depth;
        else if (c == u')' || c == u']')
            --depth;
        else if (c == u' ' &&
                 (depth == 0 || (depth == 1 && usage.sliced(i + 1).startsWith(u'|')))) {
            pieces << usage.sliced(start, i - start);
            start = i;
        }
    }
    if (start < usage.size())
        pieces << usage.sliced(start);
    QString text;
    qsizetype column = firstColumn;
    for (const QString& piece : pieces) {
        if (text.isEmpty()) {
            text = piece.trimmed();
            column += text.size();
        } else if (column + piece.size() <= kHelpWidth) {
            text += piece;
            column += piece.size();
        } else {
            const QString line = QString(indent, u' ') + piece.trimmed();
            text += u'\n' + line;
            column = line.size();
        }
    }
    return text;
}

QString commandHelp(const CommandSpec& command)
{
    QString text = QStringLiteral("Usage: quillner-cli %1\n\n%2")
                       .arg(usageLines(command, 20, 8), QString::fromUtf8(command.description));
    if (!command.options.empty()) {
        text += QStringLiteral("\nOptions:\n");
        for (const OptionSpec& option : command.options)
            text += optionHelp(option);
    }
    text += u'\n' + QString::fromUtf8(command.epilogue);
    return text;
}

QString bashCompletion(const std::vector<const CommandSpec*>& commands)
{
    QStringList names;
    QStringList groups; // commands of two words: "filter"
    for (const CommandSpec* command : commands) {
        const QString name = QString::fromLatin1(command->name);
        const QString first = name.section(u' ', 0, 0);
        if (!names.contains(first))
            names << first;
        if (name.contains(u' ') && !groups.contains(first))
            groups << first;
    }

    QString valueCases;
    QStringList valued;
    for (const CommandSpec* command : commands) {
        for (const OptionSpec& option : command->options) {
            const QString label = QStringLiteral("--") + QLatin1StringView(option.name);
            if (option.takes == Takes::Nothing || valued.contains(label))
                continue;
            valued << label;
            const QStringList values = valueWords(commands, option.name);
            const QString completion =
                values.isEmpty() ? completionOf(valueKind(commands, option.name))
                                 : QStringLiteral("COMPREPLY=($(compgen -W '%1' -- \"$cur\"))")
                                       .arg(words(values));
            valueCases += QStringLiteral("        %1)\n%2            return\n            ;;\n")
                              .arg(label, completion.isEmpty()
                                              ? QString()
                                              : QStringLiteral("            %1\n").arg(completion));
        }
    }

    QString optionCases;
    QString argumentCases;
    for (const CommandSpec* command : commands) {
        QStringList options;
        for (const OptionSpec& option : command->options)
            options << QStringLiteral("--") + QLatin1StringView(option.name);
        const QString name = QString::fromLatin1(command->name);
        optionCases += QStringLiteral("        '%1') options='%2' ;;\n").arg(name, words(options));
        QString argumentLines;
        for (size_t i = 0; i < command->arguments.size(); ++i) {
            const bool last = i + 1 == command->arguments.size();
            argumentLines +=
                QStringLiteral("            %1) %2 ;;\n")
                    .arg(last && command->repeats ? QStringLiteral("*") : QString::number(i))
                    .arg(QString(completionOf(command->arguments[i]))
                             .replace(u'\n', QStringLiteral("\n    ")));
        }
        argumentCases += QStringLiteral("        '%1')\n            case $position in\n%2"
                                        "            esac\n            ;;\n")
                             .arg(name, argumentLines);
    }

    return QStringLiteral(R"(# bash completion for quillner-cli, made from its table of commands
# (quillner-cli --bash-completion).

_quillner_cli()
{
    local cur prev words cword
    _init_completion -n = || return
    local commands='%1'
    local groups='%2'

    case $prev in
%3        help)
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            return
            ;;
    esac

    # The command, one word or two (a group and its sub-command), and the position of the
    # argument being completed among the command's own.
    local command="" position=0 word i
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if [[ -z $command ]]; then
            [[ " $commands " == *" $word "* ]] && command=$word
            continue
        fi
        if [[ " $groups " == *" $command "* && $command != *" "* ]]; then
            command="$command $word"
            continue
        fi
        if [[ $word != -* ]]; then
            local before=${words[i - 1]}
            [[ $before == --* && " $valued " == *" $before "* ]] || ((position++))
        fi
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --help-all --version --quiet -q' -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands help" -- "$cur"))
        fi
        return
    fi
    if [[ " $groups " == *" $command "* ]]; then
        local subcommands=""
        case $command in
%4        esac
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        return
    fi

    if [[ $cur == -* ]]; then
        local options=""
        case $command in
%5        esac
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return
    fi

    case $command in
%6    esac
} &&
    complete -F _quillner_cli quillner-cli
)")
        .arg(
            words(names), words(groups), valueCases,
            [&] {
                QString cases;
                for (const QString& group : groups) {
                    QStringList subcommands;
                    for (const CommandSpec* command : commands) {
                        const QString name = QString::fromLatin1(command->name);
                        if (name.startsWith(group + u' '))
                            subcommands << name.section(u' ', 1);
                    }
                    cases += QStringLiteral("            %1) subcommands='%2' ;;\n")
                                 .arg(group, words(subcommands));
                }
                return cases;
            }(),
            optionCases, argumentCases)
        .replace(QStringLiteral("local groups='"),
                 QStringLiteral("local valued='%1'\n    local groups='").arg(words(valued)));
}

} // namespace quillner::cli
