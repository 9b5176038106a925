// The project chain of quillner-cli: compile, merge, update, show and decode.

#include "project_commands.h"

#include "cli_support.h"
#include "configuration_output.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_lock.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/configuration_description.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_job.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace quillner::cli {

namespace {

struct Options
{
    QString command;
    QString target;
    QString master;
    QString home;
    bool flash = false;
    QString port;
    bool json = false;
    bool lenient = false;
};

QString exeDir()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

// compile, and the first half of update.
bool compileAndSave(const AppPaths& paths, bool lenient)
{
    const BankBuild build = compileAndWriteBank(paths, [lenient](const CompiledBank& compiled) {
        return acceptCompile(compiled, lenient);
    });
    if (!build.written)
        return false;
    say(QStringLiteral("Written: %1, %2\n")
            .arg(bankBinaryPath(paths.ProjectDir), bankSourcePath(paths.ProjectDir)));
    return true;
}

// Looked up, never made: the command line only reads the data folder.
QString dataFolder(const Options& options)
{
    return chooseDataFolder(exeDir(), options.home, standardDataFolder());
}

QString masterFolder(const Options& options)
{
    return options.master.isEmpty() ? joinPath(dataFolder(options), QStringLiteral("MASTER"))
                                    : absoluteNativePath(options.master);
}

// The firmware job of the project; the flashing tool lies beside this program or in the data
// folder.
FirmwareJob planJob(const AppPaths& paths, const Options& options)
{
    AppPaths jobPaths = paths;
    jobPaths.ExeDir = exeDir();
    jobPaths.DataDir = dataFolder(options);
    const Partial<FirmwareJob> plan = planFirmwareJob(jobPaths, masterFolder(options));
    if (!plan.whole())
        throw Error(problemLines(plan.problems).join(u'\n') +
                    QStringLiteral("\nName the folder that holds it with --master DIR."));
    return plan.value;
}

// Merges and tells how the merge ended; a merge that did not complete its new file ends the
// command. The decision says whether the merged file may go to the device on the port.
FlashDecision mergeProject(const FirmwareJob& job, int port)
{
    const MergeResult result = job.merge();
    const FlashDecision decision = job.decideFlash(result, port);
    if (decision.refusal == FlashRefusal::MergeFailed ||
        decision.refusal == FlashRefusal::VerificationFailed)
        throw Error(problemLines(decision.launch.problems).join(u'\n'));
    say(mergeSummary(job.newFileName, job.bank, result) + u'\n');
    return decision;
}

int portIndex(const Options& options)
{
    bool ok = false;
    const int port = options.port.toInt(&ok);
    if (!ok || options.port.trimmed() != options.port || port < 0 || port >= kFlasherPortCount)
        usageError(QStringLiteral("--port takes a port index from 0 (COM1) to %1 (COM%2), not '%3'")
                       .arg(kFlasherPortCount - 1)
                       .arg(kFlasherPortCount)
                       .arg(options.port),
                   options.command);
    return port;
}

int runUpdate(const Options& options)
{
    const int port = options.flash ? portIndex(options) : 0;
    const AppPaths paths = requireProject(options.target);
    const ProjectLock lock(paths.ProjectDir);
    if (!compileAndSave(paths, options.lenient))
        return kExitFailure;
    const FirmwareJob job = planJob(paths, options);
    const FlashDecision decision = mergeProject(job, port);
    if (decision.refusal == FlashRefusal::BankNotInFirmware) {
        if (options.flash)
            complain(QStringLiteral("error"), problemLines(decision.launch.problems).join(u'\n'));
        return kExitBankNotInFirmware;
    }
    if (!options.flash)
        return kExitSuccess;
    if (decision.refused())
        throw Error(problemLines(decision.launch.problems).join(u'\n'));

    const qint64 processId = startFlasher(decision.launch.value);
    say(QStringLiteral("Started %1 (process %2) with %3 on COM%4 (port %5)\n")
            .arg(QString::fromLatin1(kFlasherName))
            .arg(processId)
            .arg(job.mergedPath())
            .arg(port + 1)
            .arg(port));
    return kExitSuccess;
}

int runShow(const Options& options)
{
    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(requireProject(options.target), options.lenient);
    if (!configuration)
        return kExitFailure;
    printConfiguration(*configuration, options.json);
    return kExitSuccess;
}

// An erased bank describes nothing; values no window writes are told after the description.
int runDecode(const Options& options)
{
    const InputFile input(options.target);
    if (QFileInfo(input.path()).isDir())
        throw Error(QStringLiteral("%1 is a folder; 'quillner-cli show' describes a project")
                        .arg(input.path()));
    ConfigurationDescription configuration = loadConfiguration(input.path());
    if (input.isStandardInput())
        configuration.path = input.displayName();
    printConfiguration(configuration, options.json);
    for (const Problem& problem : configuration.problems)
        complain(QStringLiteral("problem"), problem.toString());
    return configuration.problems.isEmpty() ? kExitSuccess : kExitFailure;
}

// What each command takes besides its one argument.
struct Accepts
{
    bool master = false; // --master and --home
    bool flash = false;  // --flash and --port
    bool json = false;
    bool lenient = false; // --lenient and --strict
};

void refuseOption(bool given, bool allowed, const char* option, const QString& command)
{
    if (given && !allowed)
        usageError(
            QStringLiteral("%1 does not apply to %2").arg(QLatin1StringView(option), command),
            command);
}

Options parseOptions(const QStringList& arguments, const char* argument, Accepts accepts)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption master(QStringLiteral("master"), {}, QStringLiteral("DIR"));
    const QCommandLineOption home(QStringLiteral("home"), {}, QStringLiteral("DIR"));
    const QCommandLineOption flash(QStringLiteral("flash"));
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption lenient(QStringLiteral("lenient"));
    const QCommandLineOption strict(QStringLiteral("strict"));
    parser.addOptions({master, home, flash, port, json, lenient, strict});
    const QString command = arguments.value(0);
    // The parser takes the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("quillner-cli")} + arguments))
        usageError(parser.errorText(), command);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        usageError(QStringLiteral("%1 takes one %2").arg(command, QLatin1StringView(argument)),
                   command);

    Options options;
    options.command = command;
    options.target = positional[1];
    options.master = parser.value(master);
    options.home = parser.value(home);
    options.flash = parser.isSet(flash);
    options.port = parser.value(port);
    options.json = parser.isSet(json);
    options.lenient = parser.isSet(lenient);
    refuseOption(parser.isSet(master), accepts.master, "--master", command);
    refuseOption(parser.isSet(home), accepts.master, "--home", command);
    refuseOption(options.flash, accepts.flash, "--flash", command);
    refuseOption(parser.isSet(port), accepts.flash, "--port", command);
    refuseOption(options.json, accepts.json, "--json", command);
    refuseOption(options.lenient, accepts.lenient, "--lenient", command);
    refuseOption(parser.isSet(strict), accepts.lenient, "--strict", command);
    if (options.lenient && parser.isSet(strict))
        usageError(QStringLiteral("--lenient and --strict exclude each other"), command);
    if (parser.isSet(master) && options.master.isEmpty())
        usageError(QStringLiteral("--master needs a folder"), command);
    if (parser.isSet(home) && options.home.isEmpty())
        usageError(QStringLiteral("--home needs a folder"), command);
    if (options.flash && !parser.isSet(port))
        usageError(QStringLiteral("--flash needs --port N"), command);
    if (parser.isSet(port) && !options.flash)
        usageError(QStringLiteral("--port needs --flash"), command);
    return options;
}

const char* const kLenientHelp = R"(
  --lenient     Warn about a document that exists but cannot be read and go on
                with zeros for what was not read; without it such a document
                stops the command before anything is written.
  --strict      Accepted and ignored: stopping on an unreadable document is the
                default.
)";

const char* const kMasterHelp = R"(
  --master DIR  The folder holding SX51804.sx; by default the MASTER folder of
                the data folder.
  --home DIR    The data folder, which holds MASTER and PROJECTS. By default
                this program's folder when it is a portable folder (writable, or
                holding Quillner.ini or PROJECTS), else ~/.local/share/Quillner.
)";

} // namespace

const CommandSpec& compileCommand()
{
    static const QByteArray help = QByteArray(R"(Usage: quillner-cli compile PROJECT_DIR [--lenient]

Compiles the project's documents into PROJECT_DIR/bin/bank1.bin and
PROJECT_DIR/bin/bankg.c (the bin folder must exist).

Options:)") + kLenientHelp + R"(
Example:
  quillner-cli compile ~/.local/share/Quillner/PROJECTS/Alpha
)";
    static const CommandSpec spec{
        "compile", "compile PROJECT_DIR", "Compile the project into bin/bank1.bin and bin/bankg.c.",
        help.constData(), [](const QStringList& arguments) {
            const Options options = parseOptions(arguments, "PROJECT_DIR", {.lenient = true});
            const AppPaths paths = requireProject(options.target);
            const ProjectLock lock(paths.ProjectDir);
            return compileAndSave(paths, options.lenient) ? kExitSuccess : kExitFailure;
        }};
    return spec;
}

const CommandSpec& mergeCommand()
{
    static const QByteArray help =
        QByteArray(R"(Usage: quillner-cli merge PROJECT_DIR [--master DIR] [--home DIR]

Merges PROJECT_DIR/bin/bank1.bin as bank 1 into the firmware SX51804.sx, giving
PROJECT_DIR/New_SX51804.sx, and checks the merged file before it is kept.

Options:)") +
        kMasterHelp + R"(
Exit status: 0 merged; 1 failure; 3 the merge completed but the new firmware
does not hold bank 1 (the firmware has no record of its address range).

Example:
  quillner-cli merge PROJECTS/Alpha --master /srv/firmware
)";
    static const CommandSpec spec{
        "merge", "merge PROJECT_DIR", "Merge bin/bank1.bin into the firmware: New_SX51804.sx.",
        help.constData(), [](const QStringList& arguments) {
            const Options options = parseOptions(arguments, "PROJECT_DIR", {.master = true});
            const AppPaths paths = requireProject(options.target);
            const ProjectLock lock(paths.ProjectDir);
            const FlashDecision decision = mergeProject(planJob(paths, options), 0);
            return decision.refusal == FlashRefusal::BankNotInFirmware ? kExitBankNotInFirmware
                                                                       : kExitSuccess;
        }};
    return spec;
}

const CommandSpec& updateCommand()
{
    static const QByteArray help =
        QByteArray(R"(Usage: quillner-cli update PROJECT_DIR [--master DIR] [--home DIR]
                          [--flash --port N] [--lenient]

Compiles the project, then merges its bank into the firmware, as "Update Device"
does; with --flash also starts Morvex.exe.

Options:)") +
        kMasterHelp +
        R"(  --flash       Start Morvex.exe, from this program's folder or else the data
                folder, with the merged file and the port; it is not waited for.
  --port N      Serial port index: 0 (COM1) to 7 (COM8).)" +
        kLenientHelp + R"(
Exit status: 0 done; 1 failure; 3 the merge completed but the new firmware
does not hold bank 1.

Example:
  quillner-cli update PROJECTS/Alpha --flash --port 0
)";
    static const CommandSpec spec{
        "update", "update PROJECT_DIR", "compile, then merge; with --flash start Morvex.exe.",
        help.constData(), [](const QStringList& arguments) {
            const Options options = parseOptions(arguments, "PROJECT_DIR",
                                                 {.master = true, .flash = true, .lenient = true});
            return runUpdate(options);
        }};
    return spec;
}

const CommandSpec& showCommand()
{
    static const QByteArray help =
        QByteArray(R"(Usage: quillner-cli show PROJECT_DIR [--json] [--lenient]

Compiles the project in memory (writing nothing) and describes its
configuration.

Options:
  --json        Print the description as one JSON object of schema 1
                (docs/description-schema.md).)") +
        kLenientHelp + R"(
Example:
  quillner-cli show PROJECTS/Alpha --json
)";
    static const CommandSpec spec{
        "show", "show PROJECT_DIR", "Describe the project's configuration, writing nothing.",
        help.constData(), [](const QStringList& arguments) {
            return runShow(parseOptions(arguments, "PROJECT_DIR", {.json = true, .lenient = true}));
        }};
    return spec;
}

const CommandSpec& decodeCommand()
{
    static const CommandSpec spec{
        "decode", "decode FILE", "Describe the configuration in a bank image or firmware.",
        R"(Usage: quillner-cli decode FILE [--json]

Describes the configuration in a 16384-byte bank image or in bank 1 of an
S-record firmware such as New_SX51804.sx; FILE "-" is read from standard input.
Values no window writes are listed as problems, and the exit status is then 1.

Options:
  --json        Print the description as one JSON object of schema 1
                (docs/description-schema.md).

Example:
  quillner-cli decode PROJECTS/Alpha/New_SX51804.sx
)",
        [](const QStringList& arguments) {
            return runDecode(parseOptions(arguments, "FILE", {.json = true}));
        }};
    return spec;
}

} // namespace quillner::cli
