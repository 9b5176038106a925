#include "verify_command.h"

#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_files.h"
#include "core/firmware/firmware_verify.h"
#include "core/firmware/manifest_signature.h"
#include "core/update/device_update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace quillner::cli {

namespace {

// The firmware may be given as its file or as the folder that holds SX51804.sx.
QString firmwarePath(const QString& given)
{
    const QString path = absoluteNativePath(given);
    return QFileInfo(path).isDir() ? joinPath(path, QString::fromLatin1(kDefaultFirmwareName))
                                   : path;
}

// The bank of --bank, or the one the project's documents compile to now: bin/bank1.bin may be
// older than the documents (a set or a filter edit since the last compile), and a merged file
// that holds it does not hold the project. A problem when the documents cannot be read.
struct VerifiedBank
{
    ConfigurationBank bank;
    QString name; // how the report names it
};

Result<VerifiedBank> bankToVerify(const CommandLine& line, bool lenient)
{
    if (line.isSet("bank")) {
        const QString path = absoluteNativePath(line.value("bank"));
        return {{readBankImageFile(path), path}, {}, {}};
    }
    const Result<AppPaths> project = projectNamed(line.value("project"));
    if (!project.whole())
        return Result<VerifiedBank>::failure(project.problems);
    const AppPaths& paths = project.value;
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    warnAll(compiled.warnings);
    if (!bankMayGoOn(compiled, lenient)) {
        for (const Problem& problem : compiled.problems)
            complain(QStringLiteral("error"), problem.toString());
        return Result<VerifiedBank>::failure(
            {{{},
              {},
              QStringLiteral("the project's documents cannot be read, so there is no bank to "
                             "verify against (--lenient takes zeros for what was not read)")}});
    }
    // With --lenient, what could not be read is told all the same.
    warnAll(compiled.problems);
    const QString stored = bankBinaryPath(paths.ProjectDir);
    bool current = false;
    try {
        current = readBankImageFile(stored) == compiled.value;
    } catch (const Error&) {
    }
    if (!current)
        complain(QStringLiteral("note"),
                 QStringLiteral("%1 is older than the project's documents; the merged file is "
                                "checked against the bank they compile to now")
                     .arg(stored));
    return {{compiled.value, QStringLiteral("the project %1").arg(paths.ProjectDir)}, {}, {}};
}

// The merged file against the master and the bank, as the merge checks it before keeping it.
Result<FirmwareVerification> verifyStructure(const CommandLine& line, const QString& mergedPath)
{
    const Result<VerifiedBank> toVerify = bankToVerify(line, line.isSet("lenient"));
    if (!toVerify.whole())
        return Result<FirmwareVerification>::failure(toVerify.problems);
    const VerifiedBank& verified = toVerify.value;
    const QString masterPath = firmwarePath(line.value("master"));
    FirmwareVerification verification =
        valueOrStop(verifyMergedFirmwareFiles(mergedPath, masterPath, verified.bank));
    if (verification.holds() && !line.isSet("json"))
        say(QStringLiteral("%1: holds %2 with bank 1 of %3\n")
                .arg(line.argument(0), line.value("master"), verified.name));
    return {std::move(verification), {}, {}};
}

} // namespace

static int runVerify(const CommandLine& line)
{
    const QStringList& positional = line.arguments();
    if (positional.size() != 1)
        line.usageError(QStringLiteral("verify takes one MERGED file"));
    const bool structure = line.isSet("bank") || line.isSet("project");
    const bool signature = line.isSet("manifest") || line.isSet("public-key");
    if (!structure && !signature)
        line.usageError(QStringLiteral("verify needs either --bank BANK or --project DIR (with "
                                       "--master), or --manifest with --public-key"));
    if (signature && (line.value("manifest").isEmpty() || line.value("public-key").isEmpty()))
        line.usageError(QStringLiteral("verify needs --manifest FILE and --public-key KEY.pub "
                                       "together"));
    if (structure) {
        if (line.value("master").isEmpty())
            line.usageError(QStringLiteral("verify needs --master FIRMWARE"));
        if (line.isSet("bank") == line.isSet("project") ||
            line.value("bank").isEmpty() == line.value("project").isEmpty())
            line.usageError(QStringLiteral("verify needs either --bank BANK or --project DIR"));
    }
    if (line.isSet("master") && line.value("master").isEmpty())
        line.usageError(QStringLiteral("verify needs --master FIRMWARE"));

    const QString mergedPath = absoluteNativePath(positional[0]);
    int problemCount = 0;
    QJsonArray report;
    QJsonObject object;
    bool holds = true;
    if (signature) {
        // The signature first: a manifest that is not the one signed says nothing of the files.
        const PublicKey key =
            valueOrStop(readPublicKey(absoluteNativePath(line.value("public-key"))));
        const SignedBuildCheck check =
            checkSignedBuild(absoluteNativePath(line.value("manifest")), mergedPath, key,
                             line.isSet("master") ? firmwarePath(line.value("master")) : QString());
        holds = check.holds();
        problemCount += int(check.problems.size());
        for (const QJsonValue& problem : problemsJson(check.problems))
            report.append(problem);
        object.insert(QStringLiteral("trustedComment"),
                      check.holds() ? QJsonValue(check.trustedComment) : QJsonValue());
        if (!line.isSet("json")) {
            if (check.holds())
                say(QStringLiteral("%1: signed by %2 (trusted comment: %3); %4 %5 the "
                                   "manifest's\n")
                        .arg(positional[0], keyIdText(key.keyId), check.trustedComment,
                             check.matching.join(QStringLiteral(", ")),
                             check.matching.size() == 1 ? QStringLiteral("is")
                                                        : QStringLiteral("are")));
            for (const Problem& problem : check.problems)
                complain(QStringLiteral("error"), problem.toString());
        }
    }
    if (structure) {
        const Result<FirmwareVerification> verified = verifyStructure(line, mergedPath);
        if (!verified.whole())
            return stoppedBy(verified.problems);
        const FirmwareVerification& verification = verified.value;
        holds = holds && verification.holds();
        problemCount += verification.problemCount;
        for (const QJsonValue& problem : problemsJson(verification.report))
            report.append(problem);
        if (!line.isSet("json")) {
            for (const QString& text : problemLines(verification.report))
                complain(QStringLiteral("error"), text);
        }
    }
    if (line.isSet("json")) {
        object.insert(QStringLiteral("holds"), holds);
        object.insert(QStringLiteral("problemCount"), problemCount);
        object.insert(QStringLiteral("report"), report);
        say(QString::fromUtf8(QJsonDocument(object).toJson()));
    }
    return holds ? 0 : 1;
}

const CommandSpec& verifyCommand()
{
    static const CommandSpec spec{
        "verify",
        "verify MERGED (--master FIRMWARE (--bank BANK | --project DIR) | --manifest "
        "manifest.json --public-key KEY.pub [--master FIRMWARE]) [--json] [--lenient]",
        "Check a merged firmware: the master with the bank and nothing else, or a signed build.",
        R"(Checks that MERGED is FIRMWARE (a file, or the folder holding SX51804.sx) with
the bank file BANK, or the bank the project DIR's documents compile to now, as
bank 1 and nothing else changed: exit status 0 when it holds, 1 with the first
problem and how many more when not. A note says when DIR/bin/bank1.bin is
older than the documents. merge and update make the same check before the
merged file is kept.

With --manifest and --public-key it checks a signed build: the signature
beside the manifest (manifest.json.minisig, made by update or batch --sign or
by minisign -S) with the public key, then that MERGED, the bank the manifest
names beside it (bin/bank1.bin) and, with --master, the firmware have the
SHA-256 the manifest gives. Each problem names the file at fault: the
signature, the manifest (changed since it was signed) or a file that is not
the manifest's. Both checks may be asked for at once.
)",
        {{"master", Takes::FileOrDir, "FIRMWARE",
          "The master firmware, or the folder holding SX51804.sx."},
         {"bank", Takes::File, "BANK", "The bank file the merged firmware must hold."},
         {"project", Takes::Folder, "DIR",
          "The project whose documents, compiled now, give the bank."},
         {"manifest", Takes::File, "FILE",
          "The manifest.json of a signed build; its signature is\nFILE.minisig."},
         {"public-key", Takes::File, "KEY.pub", "The public key that signed the manifest."},
         {"json", Takes::Nothing, "", "Print the result as one JSON object."},
         {"lenient", Takes::Nothing, "",
          "With --project: go on despite a document that cannot be read,\nwith zeros for what was "
          "not read."}},
        R"(Example:
  quillner-cli verify PROJECTS/Alpha/New_SX51804.sx --master MASTER --project PROJECTS/Alpha
  quillner-cli verify PROJECTS/Alpha/New_SX51804.sx \
      --manifest PROJECTS/Alpha/manifest.json --public-key line3.pub
)",
        {Takes::File},
        false,
        runVerify};
    return spec;
}

} // namespace quillner::cli
