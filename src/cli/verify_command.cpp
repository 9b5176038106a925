#include "verify_command.h"

#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_verify.h"

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
// that holds it does not hold the project.
struct VerifiedBank
{
    QByteArray bytes;
    QString name; // how the report names it
};

VerifiedBank bankToVerify(const CommandLine& line, bool lenient)
{
    if (line.isSet("bank")) {
        const QString path = absoluteNativePath(line.value("bank"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(
                QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
        return {file.read(kBankSize + 1), path};
    }
    const AppPaths paths = requireProject(line.value("project"));
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    warnAll(compiled.warnings);
    if (!bankMayGoOn(compiled, lenient)) {
        for (const Problem& problem : compiled.problems)
            complain(QStringLiteral("error"), problem.toString());
        throw Error(QStringLiteral("the project's documents cannot be read, so there is no bank "
                                   "to verify against (--lenient takes zeros for what was not "
                                   "read)"));
    }
    const QByteArray bytes(reinterpret_cast<const char*>(compiled.value.data()), kBankSize);
    QFile stored(bankBinaryPath(paths.ProjectDir));
    if (!stored.open(QIODevice::ReadOnly) || stored.read(kBankSize + 1) != bytes)
        complain(QStringLiteral("note"),
                 QStringLiteral("%1 is older than the project's documents; the merged file is "
                                "checked against the bank they compile to now")
                     .arg(stored.fileName()));
    return {bytes, QStringLiteral("the project %1").arg(paths.ProjectDir)};
}

} // namespace

static int runVerify(const CommandLine& line)
{
    const QStringList& positional = line.arguments();
    if (positional.size() != 1)
        line.usageError(QStringLiteral("verify takes one MERGED file"));
    if (line.value("master").isEmpty())
        line.usageError(QStringLiteral("verify needs --master FIRMWARE"));
    if (line.isSet("bank") == line.isSet("project") ||
        line.value("bank").isEmpty() == line.value("project").isEmpty())
        line.usageError(QStringLiteral("verify needs either --bank BANK or --project DIR"));

    const VerifiedBank verified = bankToVerify(line, line.isSet("lenient"));
    const QString mergedPath = absoluteNativePath(positional[0]);
    const QString masterPath = firmwarePath(line.value("master"));
    QFile mergedFile(mergedPath);
    QFile masterFile(masterPath);
    for (QFile* file : {&mergedFile, &masterFile}) {
        if (!file->open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(file->fileName(), file->errorString()));
    }
    if (verified.bytes.size() != kBankSize)
        throw Error(QStringLiteral("%1 is not a bank: a bank file holds exactly %2 bytes")
                        .arg(verified.name)
                        .arg(kBankSize));
    const FirmwareVerification verification =
        verifyMergedFirmware(mergedFile, masterFile, verified.bytes, 1,
                             {QFileInfo(mergedPath).fileName(), QFileInfo(masterPath).fileName()});

    if (line.isSet("json")) {
        const QJsonObject object{{QStringLiteral("holds"), verification.holds()},
                                 {QStringLiteral("problemCount"), verification.problemCount},
                                 {QStringLiteral("report"), problemsJson(verification.report)}};
        say(QString::fromUtf8(QJsonDocument(object).toJson()));
    } else if (verification.holds()) {
        say(QStringLiteral("%1: holds %2 with bank 1 of %3\n")
                .arg(positional[0], line.value("master"), verified.name));
    } else {
        for (const QString& line : problemLines(verification.report))
            complain(QStringLiteral("error"), line);
    }
    return verification.holds() ? 0 : 1;
}

const CommandSpec& verifyCommand()
{
    static const CommandSpec spec{
        "verify",
        "verify MERGED --master FIRMWARE (--bank BANK | --project DIR) [--json] [--lenient]",
        "Check that a merged firmware is the master with the bank and nothing else changed.",
        R"(Checks that MERGED is FIRMWARE (a file, or the folder holding SX51804.sx) with
the bank file BANK, or the bank the project DIR's documents compile to now, as
bank 1 and nothing else changed: exit status 0 when it holds, 1 with the first
problem and how many more when not. A note says when DIR/bin/bank1.bin is
older than the documents. merge and update make the same check before the
merged file is kept.
)",
        {{"master", Takes::FileOrDir, "FIRMWARE",
          "The master firmware, or the folder holding SX51804.sx."},
         {"bank", Takes::File, "BANK", "The bank file the merged firmware must hold."},
         {"project", Takes::Folder, "DIR",
          "The project whose documents, compiled now, give the bank."},
         {"json", Takes::Nothing, "", "Print the result as one JSON object."},
         {"lenient", Takes::Nothing, "",
          "With --project: go on despite a document that cannot be read,\nwith zeros for what was "
          "not read."}},
        R"(Example:
  quillner-cli verify PROJECTS/Alpha/New_SX51804.sx --master MASTER --project PROJECTS/Alpha
)",
        {Takes::File},
        false,
        runVerify};
    return spec;
}

} // namespace quillner::cli
