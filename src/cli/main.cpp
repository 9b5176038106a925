// quillner-cli: the "Update Device" chain and the project tools without windows, for scripts,
// production lines and headless machines.

#include "batch_commands.h"
#include "bus_commands.h"
#include "cli_support.h"
#include "core/app/error.h"
#include "core/update/flasher_run.h"
#include "describe_commands.h"
#include "filter_commands.h"
#include "import_commands.h"
#include "journal_command.h"
#include "key_command.h"
#include "project_commands.h"
#include "report_command.h"
#include "settings_commands.h"
#include "verify_command.h"

#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace quillner;
using namespace quillner::cli;

namespace {

// Every command and sub-command, in the order of the program's help.
const std::vector<const CommandSpec*>& commands()
{
    static const std::vector<const CommandSpec*> list = [] {
        std::vector<const CommandSpec*> all{
            &newCommand(),     &setCommand(),         &getCommand(),    &showCommand(),
            &compileCommand(), &mergeCommand(),       &updateCommand(), &verifyCommand(),
            &decodeCommand(),  &describeCommand(),    &diffCommand(),   &importCommand(),
            &batchCommand(),   &journalShowCommand(), &keyCommand(),    &reportCommand(),
            &recordCommand()};
        for (const CommandSpec& command : filterCommands())
            all.push_back(&command);
        return all;
    }();
    return list;
}

// The command named by the first argument, or the first two for a group ("filter set").
const CommandSpec* findCommand(const QStringList& arguments)
{
    const QString one = arguments.value(0);
    const QString two = one + u' ' + arguments.value(1);
    for (const CommandSpec* command : commands()) {
        const QLatin1StringView name(command->name);
        if (name == one || name == two)
            return command;
    }
    return nullptr;
}

bool isGroup(const QString& name)
{
    return std::any_of(commands().begin(), commands().end(), [&](const CommandSpec* command) {
        return QLatin1StringView(command->name).startsWith(name + u' ');
    });
}

QString programHelp()
{
    QString text = QStringLiteral(R"(Usage: quillner-cli [-q] COMMAND ARGUMENT... [OPTIONS]
       quillner-cli help COMMAND

Builds the configuration bank of a Quillner project, merges it into the device
firmware and describes, edits and compares configurations, as the windows do.

Commands:
)");
    for (const CommandSpec* command : commands()) {
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(usageLines(*command, 2, 4, true), QLatin1StringView(command->summary));
    }
    text += QStringLiteral(R"(
Options for every command:
  -q, --quiet   Print nothing but errors.
  -h, --help    Show this text, or with a command that command's help.
  --version     Show the version.

Exit status: 0 success; 1 failure; 2 usage error; 3 the merge completed but the
new firmware does not hold bank 1 (the firmware has no record of its address
range); 4 the flashing tool failed and 5 it did not end in time (update --wait).

'quillner-cli help COMMAND' tells each command's options, with an example.
)");
    return text;
}

// The help of every command of a group, one after the other.
QString groupHelp(const QString& group)
{
    QString text;
    for (const CommandSpec* command : commands()) {
        if (QLatin1StringView(command->name).startsWith(group + u' '))
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + commandHelp(*command);
    }
    return text;
}

// The program's help followed by every command's, for the manual page.
QString fullHelp()
{
    QString text = programHelp();
    for (const CommandSpec* command : commands())
        text += QStringLiteral("\n") + commandHelp(*command);
    return text;
}

QString subcommandNames(const QString& group)
{
    QStringList names;
    for (const CommandSpec* command : commands()) {
        if (QLatin1StringView(command->name).startsWith(group + u' '))
            names << QLatin1StringView(command->name).sliced(group.size() + 1).toString();
    }
    return names.join(QStringLiteral(", "));
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

// The help a "help" names: a command's, or every sub-command's of a group.
QString helpOf(const QStringList& names)
{
    if (const CommandSpec* command = findCommand(names))
        return commandHelp(*command);
    if (names.size() == 1 && isGroup(names.front()))
        return groupHelp(names.front());
    usageError(QStringLiteral("unknown command '%1'").arg(names.join(u' ')));
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
    if (first == QLatin1StringView("--bash-completion")) {
        say(bashCompletion(commands()));
        return kExitSuccess;
    }
    if (isHelpOption(first) || first == QLatin1StringView("help")) {
        if (arguments.size() > 3)
            usageError(QStringLiteral("help takes at most one COMMAND"));
        say(arguments.size() >= 2 ? helpOf(arguments.mid(1)) : programHelp());
        return kExitSuccess;
    }
    const CommandSpec* command = findCommand(arguments);
    const bool wantsHelp = std::any_of(options.cbegin(), options.cend(), isHelpOption);
    if (!command) {
        if (isGroup(first)) {
            if (wantsHelp) {
                say(groupHelp(first));
                return kExitSuccess;
            }
            if (arguments.size() < 2)
                usageError(QStringLiteral("%1 needs one of: %2").arg(first, subcommandNames(first)),
                           first);
            usageError(QStringLiteral("unknown %1 command '%2'").arg(first, arguments[1]), first);
        }
        usageError(QStringLiteral("unknown command '%1'").arg(first));
    }
    if (wantsHelp) {
        say(commandHelp(*command));
        return kExitSuccess;
    }
    return command->run(CommandLine(*command, arguments, commands()));
}

#ifdef Q_OS_UNIX
// SIGTERM and Ctrl-C end the flashing tools this program waits for, each with its whole process
// group, before the program ends as the signal asks: a tool must not go on writing a device once
// its batch or update is gone. The handler only wakes a thread, which does the ending.
int g_endSignalPipe[2] = {-1, -1};

extern "C" void onEndSignal(int signal)
{
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_endSignalPipe[1], &number, 1);
}

void endFlashersOnSignals()
{
    if (::pipe2(g_endSignalPipe, O_CLOEXEC) != 0)
        return;
    std::thread([] {
        unsigned char number = 0;
        while (::read(g_endSignalPipe[0], &number, 1) != 1) {
            if (errno != EINTR)
                return;
        }
        endWaitedFlashers();
        ::signal(number, SIG_DFL);
        ::kill(::getpid(), number);
    }).detach();
    for (const int signal : {SIGTERM, SIGINT}) {
        struct sigaction previous
        {
        };
        // A signal the caller made this program ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action
        {
        };
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}
#endif

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
#ifdef Q_OS_UNIX
    endFlashersOnSignals();
#endif

    int status = kExitFailure;
    try {
        status = run(QCoreApplication::arguments());
    } catch (const UsageError& error) {
        tell(error.message + u'\n' + usageHint(error.command));
        status = kExitUsage;
    } catch (const Error& error) {
        tell(error.message());
    } catch (const std::exception& error) {
        tell(QString::fromLocal8Bit(error.what()));
    }
    return status;
}
