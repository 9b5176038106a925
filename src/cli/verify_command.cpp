#include "verify_command.h"

#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_verify.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace quillner::cli {

namespace {

[[noreturn]] void verifyUsageError(const QString& text)
{
    cli::usageError(text, QStringLiteral("verify"));
}

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

VerifiedBank bankToVerify(const QCommandLineParser& parser, bool lenient)
{
    if (parser.isSet(QStringLiteral("bank"))) {
        const QString path = absoluteNativePath(parser.value(QStringLiteral("bank")));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(
                QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
        return {file.read(kBankSize + 1), path};
    }
    const AppPaths paths = requireProject(parser.value(QStringLiteral("project")));
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    warnAll(compiled.warnings);
    if (!bankMayGoOn(compiled, lenient)) {
        for (const Problem& problem : compiled.unreadable)
            complain(QStringLiteral("error"), problem.toString());
        throw Error(QStringLiteral("the project's documents cannot be read, so there is no bank "
                                   "to verify against (--lenient takes zeros for what was not "
                                   "read)"));
    }
    const QByteArray bytes(reinterpret_cast<const char*>(compiled.bank.data()), kBankSize);
    QFile stored(bankBinaryPath(paths.ProjectDir));
    if (!stored.open(QIODevice::ReadOnly) || stored.read(kBankSize + 1) != bytes)
        complain(QStringLiteral("note"),
                 QStringLiteral("%1 is older than the project's documents; the merged file is "
                                "checked against the bank they compile to now")
                     .arg(stored.fileName()));
    return {bytes, QStringLiteral("the project %1").arg(paths.ProjectDir)};
}

} // namespace

static int runVerify(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption master(QStringLiteral("master"), {}, QStringLiteral("FIRMWARE"));
    const QCommandLineOption bank(QStringLiteral("bank"), {}, QStringLiteral("BANK"));
    const QCommandLineOption project(QStringLiteral("project"), {}, QStringLiteral("DIR"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption lenient(QStringLiteral("lenient"));
    parser.addOptions({master, bank, project, json, lenient});
    if (!parser.parse(QStringList{QStringLiteral("quillner-cli")} + arguments))
        verifyUsageError(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        verifyUsageError(QStringLiteral("verify takes one MERGED file"));
    if (parser.value(master).isEmpty())
        verifyUsageError(QStringLiteral("verify needs --master FIRMWARE"));
    if (parser.isSet(bank) == parser.isSet(project) ||
        parser.value(bank).isEmpty() == parser.value(project).isEmpty())
        verifyUsageError(QStringLiteral("verify needs either --bank BANK or --project DIR"));

    const VerifiedBank verified = bankToVerify(parser, parser.isSet(lenient));
    const QString mergedPath = absoluteNativePath(positional[1]);
    const QString masterPath = firmwarePath(parser.value(master));
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

    if (parser.isSet(json)) {
        const QJsonObject object{{QStringLiteral("holds"), verification.holds()},
                                 {QStringLiteral("problemCount"), verification.problemCount},
                                 {QStringLiteral("report"), problemsJson(verification.report)}};
        say(QString::fromUtf8(QJsonDocument(object).toJson()));
    } else if (verification.holds()) {
        say(QStringLiteral("%1: holds %2 with bank 1 of %3\n")
                .arg(positional[1], parser.value(master), verified.name));
    } else {
        for (const QString& line : problemLines(verification.report))
            complain(QStringLiteral("error"), line);
    }
    return verification.holds() ? 0 : 1;
}

const CommandSpec& verifyCommand()
{
    static const CommandSpec spec{
        "verify", "verify MERGED --master FIRMWARE (--bank BANK | --project DIR)",
        "Check that a merged firmware is the master with the bank and nothing else changed.",
        R"(Usage: quillner-cli verify MERGED --master FIRMWARE (--bank BANK | --project DIR)
                          [--json]

Checks that MERGED is FIRMWARE (a file, or the folder holding SX51804.sx) with
the bank file BANK, or the bank the project DIR's documents compile to now, as
bank 1 and nothing else changed: exit status 0 when it holds, 1 with the first
problem and how many more when not. A note says when DIR/bin/bank1.bin is
older than the documents. merge and update make the same check before the
merged file is kept.

Options:
  --json        Print the result as one JSON object.
  --lenient     With --project: go on despite a document that cannot be read,
                with zeros for what was not read.

Example:
  quillner-cli verify PROJECTS/Alpha/New_SX51804.sx --master MASTER --project PROJECTS/Alpha
)",
        runVerify};
    return spec;
}

} // namespace quillner::cli
