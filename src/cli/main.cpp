// quillner-cli: the "Update Device" chain and the project tools without windows, for scripts,
// production lines and headless machines.

#include "batch_commands.h"
#include "cli_support.h"
#include "core/app/error.h"
#include "describe_commands.h"
#include "filter_commands.h"
#include "import_commands.h"
#include "project_commands.h"
#include "report_command.h"
#include "settings_commands.h"
#include "verify_command.h"

#include <QCoreApplication>
#include <QTextStream>

#include <functional>
#include <vector>

using namespace quillner;
using namespace quillner::cli;

namespace {

const std::vector<std::reference_wrapper<const CommandSpec>>& commands()
{
    static const std::vector<std::reference_wrapper<const CommandSpec>> list{
        newCommand(),   setCommand(),    getCommand(),    showCommand(),   compileCommand(),
        mergeCommand(), updateCommand(), verifyCommand(), decodeCommand(), describeCommand(),
        diffCommand(),  importCommand(), batchCommand(),  filterCommand(), reportCommand(),
    };
    return list;
}

const CommandSpec* findCommand(const QString& name)
{
    for (const CommandSpec& command : commands()) {
        if (name == QLatin1StringView(command.name))
            return &command;
    }
    return nullptr;
}

QString programHelp()
{
    QString text = QStringLiteral(R"(Usage: quillner-cli [-q] COMMAND ARGUMENT... [OPTIONS]
       quillner-cli help COMMAND

Builds the configuration bank of a Quillner project, merges it into the device
firmware and describes, edits and compares configurations, as the windows do.

Commands:
)");
    for (const CommandSpec& command : commands()) {
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(QLatin1StringView(command.synopsis), QLatin1StringView(command.summary));
    }
    text += QStringLiteral(R"(
Options for every command:
  -q, --quiet   Print nothing but errors.
  -h, --help    Show this text, or with a command that command's help.
  --version     Show the version.

Exit status: 0 success; 1 failure; 2 usage error; 3 the merge completed but the
new firmware does not hold bank 1 (the firmware has no record of its address
range).

'quillner-cli help COMMAND' tells each command's options, with an example.
)");
    return text;
}

// The program's help followed by every command's, for the manual page.
QString fullHelp()
{
    QString text = programHelp();
    for (const CommandSpec& command : commands())
        text += QStringLiteral("\n") + QString::fromUtf8(command.help);
    return text;
}

bool isHelpOption(const QString& argument)
{
    return argument == QLatin1StringView("-h") || argument == QLatin1StringView("--help") ||
           argument == QLatin1StringView("-help");
}

bool isQuietOption(const QString& argument)
{
    return argument == QLatin1StringView("-q") || argument == QLatin1StringView("--quiet");
}

const CommandSpec& requireCommand(const QString& name)
{
    const CommandSpec* command = findCommand(name);
    if (!command)
        usageError(QStringLiteral("unknown command '%1'").arg(name));
    return *command;
}

int run(QStringList arguments)
{
    arguments.removeFirst(); // the program
    // -q may stand anywhere before "--".
    const qsizetype end = arguments.indexOf(QStringLiteral("--"));
    QStringList options = end < 0 ? arguments : arguments.mid(0, end);
    setQuiet(options.removeIf(isQuietOption) > 0);
    arguments = end < 0 ? options : options + arguments.mid(end);

    if (arguments.isEmpty())
        usageError(QStringLiteral("no command given"));
    const QString first = arguments.front();
    if (first == QLatin1StringView("--version") || first == QLatin1StringView("-version")) {
        say(QStringLiteral("quillner-cli " QUILLNER_VERSION "\n"));
        return kExitSuccess;
    }
    if (first == QLatin1StringView("--help-all")) {
        say(fullHelp());
        return kExitSuccess;
    }
    if (isHelpOption(first) || first == QLatin1StringView("help")) {
        if (arguments.size() > 2)
            usageError(QStringLiteral("help takes at most one COMMAND"));
        say(arguments.size() == 2 ? QString::fromUtf8(requireCommand(arguments[1]).help)
                                  : programHelp());
        return kExitSuccess;
    }
    const CommandSpec& command = requireCommand(first);
    if (std::any_of(options.cbegin(), options.cend(), isHelpOption)) {
        say(QString::fromUtf8(command.help));
        return kExitSuccess;
    }
    return command.run(arguments);
}

void tell(const QString& text)
{
    static QTextStream stream(stderr);
    stream << "error: " << text << '\n';
    stream.flush();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillner-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLNER_VERSION));

    int status = kExitFailure;
    try {
        status = run(QCoreApplication::arguments());
    } catch (const UsageError& error) {
        const QString hint = error.command.isEmpty()
                                 ? QStringLiteral("Try 'quillner-cli --help'.")
                                 : QStringLiteral("Try 'quillner-cli help %1'.").arg(error.command);
        tell(error.message + u'\n' + hint);
        status = kExitUsage;
    } catch (const Error& error) {
        tell(error.message());
    } catch (const std::exception& error) {
        tell(QString::fromLocal8Bit(error.what()));
    }
    return status;
}
