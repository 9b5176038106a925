#include "verify_command.h"

#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_verify.h"

#include <QCommandLineParser>
#include <QDir>
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

} // namespace

static int runVerify(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption master(QStringLiteral("master"), {}, QStringLiteral("FIRMWARE"));
    const QCommandLineOption bank(QStringLiteral("bank"), {}, QStringLiteral("BANK"));
    const QCommandLineOption project(QStringLiteral("project"), {}, QStringLiteral("DIR"));
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOptions({master, bank, project, json});
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

    const QString bankPath =
        parser.isSet(bank)
            ? absoluteNativePath(parser.value(bank))
            : joinPath(joinPath(absoluteNativePath(parser.value(project)), QStringLiteral("bin")),
                       QStringLiteral("bank1.bin"));
    const FirmwareVerification verification = verifyMergedFirmwareFiles(
        absoluteNativePath(positional[1]), firmwarePath(parser.value(master)), bankPath);

    QTextStream out(stdout);
    if (parser.isSet(json)) {
        const QJsonObject object{{QStringLiteral("holds"), verification.holds()},
                                 {QStringLiteral("problemCount"), verification.problemCount},
                                 {QStringLiteral("report"), problemsJson(verification.report)}};
        out << QString::fromUtf8(QJsonDocument(object).toJson());
    } else if (verification.holds()) {
        out << QStringLiteral("%1: holds %2 with bank 1 of %3\n")
                   .arg(positional[1], parser.value(master), bankPath);
    } else {
        QTextStream err(stderr);
        for (const QString& line : problemLines(verification.report))
            err << "error: " << line << '\n';
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
the bank file BANK, or DIR/bin/bank1.bin, as bank 1 and nothing else changed:
exit status 0 when it holds, 1 with the first problem and how many more when
not. merge and update make the same check before the merged file is kept.

Options:
  --json        Print the result as one JSON object.

Example:
  quillner-cli verify PROJECTS/Alpha/New_SX51804.sx --master MASTER --project PROJECTS/Alpha
)",
        runVerify};
    return spec;
}

} // namespace quillner::cli
