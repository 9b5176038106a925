#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace quillner::cli {

// What an option's value or an argument is, for the parser's words and the bash completion.
enum class Takes {
    Nothing,    // a switch
    Folder,     // completed with folders
    File,       // completed with files
    FileOrDir,  // either
    Port,       // 0 to 7
    SettingKey, // serial.baud, ...
    Assignment, // KEY=VALUE of the settings
    Bus,        // PLUGIN:INTERFACE, completed with the CAN plugins of Qt SerialBus
    Text,       // no completion
};

// One option of a command, declared once: the parser, the command's help, --help-all (and so
// the manual page) and the bash completion are all made from it.
struct OptionSpec
{
    const char* name;            // without "--"
    Takes takes;                 // Nothing for a switch
    const char* valueName;       // "DIR", "N"; empty for a switch
    const char* help;            // lines after the first are indented under it
    const char* alias = nullptr; // a one-letter name, given as "-o"
    // The words the value may be, offered by the completion; none for a value of any text.
    QStringList (*values)() = nullptr;
};

class CommandLine;

// One command of quillner-cli, or one sub-command ("filter set").
struct CommandSpec
{
    const char* name;        // "update", "filter set"
    const char* usage;       // after "quillner-cli ": "update PROJECT_DIR [--flash --port N]"
    const char* summary;     // one line for the program's help
    const char* description; // what it does, before its options
    std::vector<OptionSpec> options;
    const char* epilogue; // exit statuses and an example, after its options
    // The arguments in order; the last one repeats when `repeats`.
    std::vector<Takes> arguments;
    bool repeats = false;
    int (*run)(const CommandLine& line) = nullptr;
};

// A command's arguments read by its own table: the positional arguments after its name, and the
// options it declares. An option of another command is refused as not applying to this one.
class CommandLine
{
public:
    CommandLine(const CommandSpec& command, const QStringList& arguments,
                const std::vector<const CommandSpec*>& everyCommand);

    const QString& command() const { return m_command; }
    const QStringList& arguments() const { return m_arguments; }
    QString argument(qsizetype index) const { return m_arguments.value(index); }
    bool isSet(const char* option) const;
    QString value(const char* option) const;
    // Every value of an option that may be given again ("--log a --log b").
    QStringList values(const char* option) const;

    // A usage error of this command, with the hint to its help.
    [[noreturn]] void usageError(const QString& text) const;

private:
    QString m_command;
    QStringList m_arguments;
    QHash<QString, QStringList> m_values; // a switch holds no value
};

// "Usage: quillner-cli COMMAND ..." with the description, the options and the epilogue.
QString commandHelp(const CommandSpec& command);

// The command's usage after "quillner-cli " in lines of at most kHelpWidth characters, the
// later ones indented by indent. A line ends only at a space between groups, or before an
// alternative ("| --hide SET") of an outermost one, so that no group is cut mid-way; requiredOnly
// leaves out the optional part (from the first "[" outside every group).
inline constexpr int kHelpWidth = 80;
// The first line starts at firstColumn (after what stands before it).
QString usageLines(const CommandSpec& command, int firstColumn, int indent,
                   bool requiredOnly = false);

// The bash completion script for every command, made from their tables.
QString bashCompletion(const std::vector<const CommandSpec*>& commands);

} // namespace quillner::cli
