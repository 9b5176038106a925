// quillner-cli: the "Update Device" chain without windows, for scripts and headless machines.

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_lock.h"
#include "core/firmware/bank_decode.h"
#include "core/firmware/bank_description.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/configuration_bank.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_job.h"
#include "filter_commands.h"
#include "verify_command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>

using namespace quillner;

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
// The merge completed but the new firmware does not hold the bank.
constexpr int kExitBankNotInFirmware = 3;

const char* const kUsage = R"(Usage: quillner-cli COMMAND ARGUMENT [OPTIONS]

Builds the configuration bank of a Quillner project, merges it into the device
firmware and describes configurations, as "Update Device" does in the windows.

Commands:
  compile PROJECT_DIR   Compile the project's documents into PROJECT_DIR/bin/bank1.bin
                        and PROJECT_DIR/bin/bankg.c (the bin folder must exist).
  merge PROJECT_DIR     Merge PROJECT_DIR/bin/bank1.bin as bank 1 into the firmware
                        SX51804.sx, giving PROJECT_DIR/New_SX51804.sx.
  update PROJECT_DIR    compile, then merge; with --flash also start Morvex.exe.
  show PROJECT_DIR      Compile the project in memory (writing nothing) and describe
                        its configuration.
  decode FILE           Describe the configuration in a 16384-byte bank image or in
                        bank 1 of an S-record firmware such as New_SX51804.sx; values
                        no window writes are listed as problems (exit status 1).
  verify MERGED --master FIRMWARE (--bank BANK | --project DIR) [--json]
                        Check that MERGED is FIRMWARE (a file, or the folder holding
                        SX51804.sx) with the bank file BANK, or DIR/bin/bank1.bin, as
                        bank 1 and nothing else changed: exit status 0 when it holds,
                        1 with the first problem and how many more when not. merge and
                        update make the same check before the merged file is kept.
  filter set PROJECT_DIR (--show SET | --hide SET | --list SET [--negative]
                             | --patterns P,...)
                        Edit the project's filter as the filter windows do: for
                        CAN 2.0A make the identifiers of SET visible or hidden;
                        for CAN 2.0B make SET the COB-ID list (positive, or
                        negative with --negative) or the patterns the mask list.
  filter fit (--ids SET | --ids-file FILE) [--max-patterns N] [--apply DIR]
                        Choose the 2.0B filter for 29-bit identifiers: the list
                        when it holds them (63), else at most N (10) patterns;
                        print it with the number of extra identifiers passed;
                        --apply saves it in the project folder DIR.
  filter test PROJECT_DIR LOG... [--json | --blocked | --passed]
                        Tell for each frame of candump or Vector ASC logs whether
                        the project's compiled filter passes it: per identifier
                        and in total; --blocked or --passed print only those
                        frames, in the log's own format.
  filter import-dbc PROJECT_DIR FILE.dbc [--messages NAME,...]
                        Make the identifiers of the DBC file's messages the
                        filter: visible for 2.0A, the list or fitted patterns
                        for 2.0B. Messages of the other identifier form are
                        listed as skipped.
  A SET is written as 0x100-0x1FF, 0x7DF 1024, 0x600:0x7F0 (id:mask) or
  0x600~0x7F0 (the identifiers the pair does not pass).

Options:
  --master DIR          (merge, update) The folder holding SX51804.sx; by default
                        the MASTER folder of the data folder.
  --home DIR            (merge, update) The data folder, which holds MASTER and
                        PROJECTS. By default this program's folder when it is a
                        portable folder (writable, or holding Quillner.ini or
                        PROJECTS), else ~/.local/share/Quillner.
  --flash               (update) Start Morvex.exe, from this program's folder or
                        else the data folder, with the merged file and the port;
                        it is not waited for.
  --port N              (update --flash) Serial port index: 0 (COM1) to 7 (COM8).
  --json                (show, decode) Print the description as one JSON object.
  --lenient             (compile, show, update) Warn about a document that exists but
                        cannot be read and go on with zeros for what was not read;
                        without it such a document stops the command before anything
                        is written.
  --strict              (compile, show, update) Accepted and ignored: stopping on
                        an unreadable document is the default.
  --help                Show this text.
  --version             Show the version.

Exit status: 0 success; 1 failure; 3 the merge completed but the new firmware
does not hold bank 1 (the firmware has no record of its address range).
)";

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

QTextStream& outStream()
{
    static QTextStream stream(stdout);
    return stream;
}

// Every line goes out at once, so that standard output and standard error interleave in the
// order they were written.
void say(const QString& text)
{
    outStream() << text;
    outStream().flush();
}

void complain(const QString& kind, const QString& text)
{
    static QTextStream stream(stderr);
    stream << kind << ": " << text << '\n';
    stream.flush();
}

// A failure with its exit status, for usage errors that are no core failure.
struct UsageError
{
    QString message;
};

QString absoluteNativePath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(toNativeSeparators(path)).absoluteFilePath());
}

QString exeDir()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

AppPaths requireProject(const QString& projectDir)
{
    const AppPaths paths = projectPaths(absoluteNativePath(projectDir));
    if (!QFileInfo(paths.ProjectDir).isDir())
        throw Error(QStringLiteral("Project not valid: %1 is not a folder").arg(paths.ProjectDir));
    return paths;
}

// Tells what the compile met and whether the command goes on: an unreadable document is an
// error that ends it, unless --lenient makes it a warning; values outside their lists and
// documents not saved yet are warnings.
bool acceptCompile(const CompiledBank& compiled, bool lenient)
{
    const bool goesOn = bankMayGoOn(compiled, lenient);
    for (const Problem& problem : compiled.unreadable)
        complain(goesOn ? QStringLiteral("warning") : QStringLiteral("error"), problem.toString());
    for (const Problem& problem : compiled.warnings)
        complain(QStringLiteral("warning"), problem.toString());
    if (!goesOn) {
        complain(QStringLiteral("error"),
                 QStringLiteral("the project's documents could not be read; nothing was written "
                                "(--lenient builds the bank with zeros for what was not read)"));
    }
    return goesOn;
}

CompiledBank compileProject(const AppPaths& paths)
{
    return CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
}

// compile, and the first half of update.
bool compileAndSave(const AppPaths& paths, bool lenient)
{
    const CompiledBank compiled = compileProject(paths);
    if (!acceptCompile(compiled, lenient))
        return false;
    SaveBankBinary(paths.ProjectDir, compiled.bank);
    SaveBankSource(paths.ProjectDir, compiled.bank);
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
        throw UsageError{
            QStringLiteral("--port takes a port index from 0 (COM1) to %1 (COM%2), not '%3'")
                .arg(kFlasherPortCount - 1)
                .arg(kFlasherPortCount)
                .arg(options.port)};
    return port;
}

void printDescription(const ConfigurationBank& bank, bool json)
{
    const BankDescription description = describeBank(bank);
    if (json)
        say(QString::fromUtf8(QJsonDocument(bankDescriptionJson(description)).toJson()));
    else
        say(bankDescriptionText(description));
}

int runCompile(const Options& options)
{
    const AppPaths paths = requireProject(options.target);
    const ProjectLock lock(paths.ProjectDir);
    return compileAndSave(paths, options.lenient) ? kExitSuccess : kExitFailure;
}

int runMerge(const Options& options)
{
    const AppPaths paths = requireProject(options.target);
    const ProjectLock lock(paths.ProjectDir);
    const FlashDecision decision = mergeProject(planJob(paths, options), 0);
    return decision.refusal == FlashRefusal::BankNotInFirmware ? kExitBankNotInFirmware
                                                               : kExitSuccess;
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
    const AppPaths paths = requireProject(options.target);
    const CompiledBank compiled = compileProject(paths);
    if (!acceptCompile(compiled, options.lenient))
        return kExitFailure;
    printDescription(compiled.bank, options.json);
    return kExitSuccess;
}

// An erased bank describes nothing; values no window writes are told after the description.
int runDecode(const Options& options)
{
    const ConfigurationBank bank = readBankFile(absoluteNativePath(options.target));
    const BankDescription description = describeBank(bank);
    if (description.erased)
        throw Error(erasedBankText(1));
    printDescription(bank, options.json);
    for (const Problem& problem : description.problems)
        complain(QStringLiteral("problem"), problem.toString());
    return description.problems.isEmpty() ? kExitSuccess : kExitFailure;
}

struct Command
{
    const char* name;
    int (*run)(const Options&);
    const char* argument;
    bool master;
    bool flash;
    bool json;
    bool lenient; // --lenient and --strict
};

constexpr Command kCommands[] = {
    {"compile", runCompile, "PROJECT_DIR", false, false, false, true},
    {"merge", runMerge, "PROJECT_DIR", true, false, false, false},
    {"update", runUpdate, "PROJECT_DIR", true, true, false, true},
    {"show", runShow, "PROJECT_DIR", false, false, true, true},
    {"decode", runDecode, "FILE", false, false, true, false},
};

void refuseOption(bool given, bool allowed, const char* option, const Command& command)
{
    if (given && !allowed)
        throw UsageError{QStringLiteral("%1 does not apply to %2")
                             .arg(QLatin1StringView(option), QLatin1StringView(command.name))};
}

int run(const QStringList& arguments)
{
    // The verifier and the filter tools read their own options.
    if (arguments.value(1) == QLatin1StringView("verify"))
        return quillner::cli::runVerify(arguments);
    if (arguments.value(1) == QLatin1StringView("filter"))
        return runFilterCommand(arguments.mid(1));
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption master(QStringLiteral("master"), {}, QStringLiteral("DIR"));
    const QCommandLineOption home(QStringLiteral("home"), {}, QStringLiteral("DIR"));
    const QCommandLineOption flash(QStringLiteral("flash"));
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption lenient(QStringLiteral("lenient"));
    const QCommandLineOption strict(QStringLiteral("strict"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({master, home, flash, port, json, lenient, strict, help, version});
    if (!parser.parse(arguments))
        throw UsageError{parser.errorText()};
    if (parser.isSet(help)) {
        say(QString::fromUtf8(kUsage));
        return kExitSuccess;
    }
    if (parser.isSet(version)) {
        say(QStringLiteral("quillner-cli " QUILLNER_VERSION "\n"));
        return kExitSuccess;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw UsageError{QStringLiteral("no command given")};
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (positional.front() == QLatin1StringView(candidate.name))
            command = &candidate;
    }
    if (!command)
        throw UsageError{QStringLiteral("unknown command '%1'").arg(positional.front())};
    if (positional.size() != 2)
        throw UsageError{
            QStringLiteral("%1 takes one %2")
                .arg(QLatin1StringView(command->name), QLatin1StringView(command->argument))};

    Options options;
    options.command = positional[0];
    options.target = positional[1];
    options.master = parser.value(master);
    options.home = parser.value(home);
    options.flash = parser.isSet(flash);
    options.port = parser.value(port);
    options.json = parser.isSet(json);
    options.lenient = parser.isSet(lenient);
    refuseOption(parser.isSet(master), command->master, "--master", *command);
    refuseOption(parser.isSet(home), command->master, "--home", *command);
    refuseOption(options.flash, command->flash, "--flash", *command);
    refuseOption(parser.isSet(port), command->flash, "--port", *command);
    refuseOption(options.json, command->json, "--json", *command);
    refuseOption(options.lenient, command->lenient, "--lenient", *command);
    refuseOption(parser.isSet(strict), command->lenient, "--strict", *command);
    if (options.lenient && parser.isSet(strict))
        throw UsageError{QStringLiteral("--lenient and --strict exclude each other")};
    if (parser.isSet(master) && options.master.isEmpty())
        throw UsageError{QStringLiteral("--master needs a folder")};
    if (parser.isSet(home) && options.home.isEmpty())
        throw UsageError{QStringLiteral("--home needs a folder")};
    if (options.flash && !parser.isSet(port))
        throw UsageError{QStringLiteral("--flash needs --port N")};
    if (parser.isSet(port) && !options.flash)
        throw UsageError{QStringLiteral("--port needs --flash")};
    return command->run(options);
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
        complain(QStringLiteral("error"),
                 error.message + QStringLiteral("\nTry 'quillner-cli --help'."));
    } catch (const Error& error) {
        complain(QStringLiteral("error"), error.message());
    } catch (const std::exception& error) {
        complain(QStringLiteral("error"), QString::fromLocal8Bit(error.what()));
    }
    return status;
}
