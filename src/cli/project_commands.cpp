// The project chain of quillner-cli: compile, merge, update, show and decode.

#include "project_commands.h"

#include "cli_support.h"
#include "configuration_output.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/project_lock.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_files.h"
#include "core/bank/configuration_description.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/manifest_signature.h"
#include "core/update/device_update.h"
#include "core/update/firmware_job.h"
#include "core/update/flasher_run.h"
#include "core/update/port_lock.h"
#include "core/update/update_run.h"

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
    int port = 0;
    bool wait = false;
    std::optional<std::chrono::milliseconds> timeout;
    bool json = false;
    bool lenient = false;
    std::optional<SigningKey> signingKey;    // --sign
    std::optional<PublicKey> requiredSigner; // --require-signature
    QString requiredSignerPath;
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

// The device a project's build is signed for: the project, by its folder's name.
SignedDevice projectSignedDevice(const FirmwareJob& job)
{
    return {QFileInfo(QDir::cleanPath(job.outputFolder)).fileName(), {}};
}

// The manifest the merge has just written, signed for the project.
void signBuild(const FirmwareJob& job, const SigningKey& key)
{
    const QString folder = QDir::cleanPath(job.outputFolder);
    const QString manifest = joinPath(folder, QString::fromLatin1(kBuildManifestName));
    if (!QFileInfo::exists(manifest))
        return;
    stopOnProblems(signManifest(folder, key, projectSignedDevice(job)).problems);
    say(QStringLiteral("Signed: %1 (key %2)\n")
            .arg(manifestSignaturePath(QDir::toNativeSeparators(manifest)),
                 keyIdText(key.publicKey.keyId)));
}

// Only a build whose manifest the key signed, and whose files are the manifest's, is flashed; a
// problem naming the build otherwise.
Result<Done> requireSignedBuild(const FirmwareJob& job, const Options& options)
{
    const QString manifest = joinPath(job.outputFolder, QString::fromLatin1(kBuildManifestName));
    const SignedBuildCheck check =
        checkSignedBuild(manifest, job.mergedPath(), *options.requiredSigner, job.firmwarePath,
                         projectSignedDevice(job));
    if (!check.holds()) {
        for (const Problem& problem : check.problems)
            complain(QStringLiteral("error"), problem.toString());
        return Result<Done>::failure(
            {{{},
              {},
              QStringLiteral("%1 is not flashed: its build is not signed with the key of %2")
                  .arg(job.mergedPath(), options.requiredSignerPath)}});
    }
    say(QStringLiteral("Signature holds: %1 (%2)\n")
            .arg(check.trustedComment, check.matching.join(QStringLiteral(", "))));
    return {};
}

// The update run of the project, told as it goes; its stop is the command's exit status.
int runUpdate(const Options& options, bool compile)
{
    UpdateRequest request;
    const Result<AppPaths> project = projectNamed(options.target);
    if (!project.whole())
        return stoppedBy(project.problems);
    request.paths = project.value;
    // The flashing tool lies beside this program or in the data folder.
    request.paths.ExeDir = exeDir();
    request.paths.DataDir = dataFolder(options);
    request.masterDir = masterFolder(options);
    request.compile = compile;
    request.flash = options.flash;
    request.port = options.port;
    request.waitForFlasher = options.wait;
    request.timeout = options.timeout;

    UpdateObserver observer;
    observer.acceptCompile = [&](const CompiledBank& compiled) {
        return acceptCompile(compiled, options.lenient);
    };
    observer.compiled = [&](const BankBuild& build) {
        if (build.written)
            say(QStringLiteral("Written: %1, %2\n")
                    .arg(bankBinaryPath(request.paths.ProjectDir),
                         bankSourcePath(request.paths.ProjectDir)));
    };
    observer.merged = [&](const FirmwareJob& job, const UpdatePass& pass) {
        if (pass.stop == UpdateStop::Merge)
            return;
        say(mergeSummary(job.newFileName, job.bank, pass.merged) + u'\n');
        if (options.signingKey)
            signBuild(job, *options.signingKey);
    };
    // A build the key did not sign is not flashed, and why ends the command.
    Problems notSigned;
    observer.mayFlash = [&](const FirmwareJob& job) {
        if (options.requiredSigner)
            notSigned = requireSignedBuild(job, options).problems;
        return notSigned.isEmpty();
    };
    observer.flasherStarted = [&](const FlasherLaunch& launch, qint64 processId) {
        const QString mergedFile = launch.arguments.value(0);
        if (options.wait)
            say(QStringLiteral("Flashing %1 on %2 with %3\n")
                    .arg(mergedFile, cli::portText(options.port),
                         QString::fromLatin1(kFlasherName)));
        else
            say(QStringLiteral("Started %1 (process %2) with %3 on %4\n")
                    .arg(QString::fromLatin1(kFlasherName))
                    .arg(processId)
                    .arg(mergedFile, cli::portText(options.port)));
    };
    observer.flasherOutput = [](const QString& line) { say(line + u'\n'); };
    // A tool of an earlier run whose processes still hold the port is waited for, and said so.
    observer.waitingForPort = [](const QString& waiting) {
        complain(QStringLiteral("note"), waiting);
    };

    const Result<UpdateReport> run = quillner::runUpdate(request, observer);
    const UpdateReport& report = run.value;
    if (report.stop == UpdateStop::NotPlanned)
        return stoppedBy(problemLines(run.problems).join(u'\n') +
                         QStringLiteral("\nName the folder that holds it with --master DIR."));
    if (!run.whole())
        return stoppedBy(run.problems);
    if (!notSigned.isEmpty())
        return stoppedBy(notSigned);
    const auto refusalText = [&] {
        return problemLines(report.last->decision.launch.problems).join(u'\n');
    };
    switch (report.stop) {
    case UpdateStop::None:
        if (report.last && report.last->verdict)
            say(flasherVerdictText(*report.last->verdict) + u'\n');
        return kExitSuccess;
    case UpdateStop::Compile:
    case UpdateStop::NotPlanned:
        return kExitFailure;
    case UpdateStop::Merge:
    case UpdateStop::NotFlashed:
        return stoppedBy(refusalText());
    case UpdateStop::BankNotInFirmware:
        if (options.flash)
            complain(QStringLiteral("error"), refusalText());
        return kExitBankNotInFirmware;
    case UpdateStop::FlasherFailed:
        complain(QStringLiteral("error"), flasherVerdictText(*report.last->verdict));
        return kExitFlasherFailed;
    case UpdateStop::FlasherTimedOut:
        complain(QStringLiteral("error"), flasherVerdictText(*report.last->verdict));
        return kExitFlasherTimedOut;
    }
    return kExitFailure;
}

int runShow(const Options& options)
{
    const Result<AppPaths> project = projectNamed(options.target);
    if (!project.whole())
        return stoppedBy(project.problems);
    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(project.value, options.lenient);
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
        return stoppedBy(QStringLiteral("%1 is a folder; 'quillner-cli show' describes a project")
                             .arg(input.path()));
    Result<ConfigurationDescription> read = loadConfiguration(input.path());
    if (!read.whole())
        return stoppedBy(read.problems);
    ConfigurationDescription& configuration = read.value;
    if (input.isStandardInput())
        configuration.path = input.displayName();
    printConfiguration(configuration, options.json);
    for (const Problem& problem : configuration.problems)
        complain(QStringLiteral("problem"), problem.toString());
    return configuration.problems.isEmpty() ? kExitSuccess : kExitFailure;
}

// The options of the project chain, from the command's own table; the checks between them are
// here.
Options optionsOf(const CommandLine& line, const char* argument)
{
    if (line.arguments().size() != 1)
        line.usageError(
            QStringLiteral("%1 takes one %2").arg(line.command(), QLatin1StringView(argument)));
    Options options;
    options.command = line.command();
    options.target = line.argument(0);
    options.master = line.value("master");
    options.home = line.value("home");
    options.flash = line.isSet("flash");
    options.wait = line.isSet("wait");
    options.json = line.isSet("json");
    options.lenient = lenientOf(line);
    if (line.isSet("master") && options.master.isEmpty())
        line.usageError(QStringLiteral("--master needs a folder"));
    if (line.isSet("home") && options.home.isEmpty())
        line.usageError(QStringLiteral("--home needs a folder"));
    if (options.flash && !line.isSet("port"))
        line.usageError(QStringLiteral("--flash needs --port N"));
    if (line.isSet("port") && !options.flash)
        line.usageError(QStringLiteral("--port needs --flash"));
    if (options.wait && !options.flash)
        line.usageError(QStringLiteral("--wait needs --flash"));
    if (line.isSet("timeout") && !options.wait)
        line.usageError(QStringLiteral("--timeout needs --wait"));
    if (options.flash)
        options.port = portIndexOf(line.value("port"), "--port", line);
    options.timeout = timeoutOf(line);
    if (line.isSet("require-signature") && !options.flash)
        line.usageError(QStringLiteral("--require-signature needs --flash"));
    // The keys are read before anything is written: a wrong key stops the update at once.
    if (line.isSet("sign"))
        options.signingKey = valueOrStop(readSigningKey(absoluteNativePath(line.value("sign"))));
    if (line.isSet("require-signature")) {
        options.requiredSignerPath = line.value("require-signature");
        options.requiredSigner =
            valueOrStop(readPublicKey(absoluteNativePath(options.requiredSignerPath)));
    }
    return options;
}

} // namespace

const CommandSpec& compileCommand()
{
    static const CommandSpec spec{
        "compile",
        "compile PROJECT_DIR [--lenient]",
        "Compile the project into bin/bank1.bin and bin/bankg.c.",
        R"(Compiles the project's documents into PROJECT_DIR/bin/bank1.bin and
PROJECT_DIR/bin/bankg.c. A folder without pargen.xml is no project.
)",
        {kLenientOption, kStrictOption},
        R"(Example:
  quillner-cli compile ~/.local/share/Quillner/PROJECTS/Alpha
)",
        {Takes::Folder},
        false,
        [](const CommandLine& line) {
            const Options options = optionsOf(line, "PROJECT_DIR");
            const Result<AppPaths> project = projectNamed(options.target);
            if (!project.whole())
                return stoppedBy(project.problems);
            const ProjectLock lock(project.value.ProjectDir);
            return compileAndSave(project.value, options.lenient) ? kExitSuccess : kExitFailure;
        }};
    return spec;
}

const CommandSpec& mergeCommand()
{
    static const CommandSpec spec{
        "merge",
        "merge PROJECT_DIR [--master DIR] [--home DIR]",
        "Merge bin/bank1.bin into the firmware: New_SX51804.sx.",
        R"(Merges PROJECT_DIR/bin/bank1.bin as bank 1 into the firmware SX51804.sx, giving
PROJECT_DIR/New_SX51804.sx, and checks the merged file before it is kept.
)",
        {kMasterOption, kHomeOption},
        R"(Exit status: 0 merged; 1 failure; 3 the merge completed but the new firmware
does not hold bank 1 (the firmware has no record of its address range).

Example:
  quillner-cli merge PROJECTS/Alpha --master /srv/firmware
)",
        {Takes::Folder},
        false,
        [](const CommandLine& line) { return runUpdate(optionsOf(line, "PROJECT_DIR"), false); }};
    return spec;
}

const CommandSpec& updateCommand()
{
    static const CommandSpec spec{
        "update",
        "update PROJECT_DIR [--master DIR] [--home DIR] [--sign SECRET_KEY] [--flash --port N "
        "[--wait [--timeout SECONDS]] [--require-signature KEY.pub]] [--lenient]",
        "compile, then merge; with --flash start Morvex.exe.",
        R"(Compiles the project, then merges its bank into the firmware, as "Update Device"
does; with --flash also starts Morvex.exe. A signature of manifest.json
(manifest.json.minisig) stays through a new merge: the same inputs give the
same manifest, so a build signed once stays signed when it is built again.
)",
        {kMasterOption,
         kHomeOption,
         {"flash", Takes::Nothing, "",
          "Start Morvex.exe, from this program's folder or else the data\nfolder, with the merged "
          "file and the port; it is not waited for\nunless --wait is given."},
         {"port", Takes::Port, "N", "Serial port index: 0 (COM1) to 7 (COM8)."},
         {"wait", Takes::Nothing, "",
          "Wait for Morvex.exe, pass its output through line by line and\nend with its verdict."},
         {"timeout", Takes::Text, "SECONDS", "With --wait: end Morvex.exe when it runs longer."},
         {"sign", Takes::File, "SECRET_KEY",
          "Sign manifest.json with the secret key (quillner-cli key new, or\nminisign -G -W): "
          "manifest.json.minisig, whose trusted comment\nnames the project and the merged "
          "file's SHA-256."},
         {"require-signature", Takes::File, "KEY.pub",
          "With --flash: flash only a build whose manifest.json this public\nkey signed and "
          "whose merged file, bank and firmware are the\nmanifest's."},
         kLenientOption,
         kStrictOption},
        R"(Exit status: 0 done (with --wait: Morvex.exe exited 0); 1 failure; 3 the merge
completed but the new firmware does not hold bank 1; 4 Morvex.exe failed
(its status and last line are told); 5 Morvex.exe did not end within --timeout.

Example:
  quillner-cli update PROJECTS/Alpha --flash --port 0 --wait --timeout 120
)",
        {Takes::Folder},
        false,
        [](const CommandLine& line) { return runUpdate(optionsOf(line, "PROJECT_DIR"), true); }};
    return spec;
}

const CommandSpec& showCommand()
{
    static const CommandSpec spec{
        "show",
        "show PROJECT_DIR [--json] [--lenient]",
        "Describe the project's configuration, writing nothing.",
        R"(Compiles the project in memory (writing nothing) and describes its
configuration.
)",
        {kJsonDescriptionOption, kLenientOption, kStrictOption},
        R"(Example:
  quillner-cli show PROJECTS/Alpha --json
)",
        {Takes::Folder},
        false,
        [](const CommandLine& line) { return runShow(optionsOf(line, "PROJECT_DIR")); }};
    return spec;
}

const CommandSpec& decodeCommand()
{
    static const CommandSpec spec{
        "decode",
        "decode FILE [--json]",
        "Describe the configuration in a bank image or firmware.",
        R"(Describes the configuration in a 16384-byte bank image or in bank 1 of an
S-record firmware such as New_SX51804.sx; FILE "-" is read from standard input.
Values no window writes are listed as problems, and the exit status is then 1.
)",
        {kJsonDescriptionOption},
        R"(Example:
  quillner-cli decode PROJECTS/Alpha/New_SX51804.sx
)",
        {Takes::File},
        false,
        [](const CommandLine& line) { return runDecode(optionsOf(line, "FILE")); }};
    return spec;
}

} // namespace quillner::cli
