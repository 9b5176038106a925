#include "verify_command.h"

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

[[noreturn]] void usageError(const QString& text)
{
    throw Error(text + QStringLiteral("\nTry 'quillner-cli --help'."));
}

QString absolutePath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(toNativeSeparators(path)).absoluteFilePath());
}

// The firmware may be given as its file or as the folder that holds SX51804.sx.
QString firmwarePath(const QString& given)
{
    const QString path = absolutePath(given);
    return QFileInfo(path).isDir() ? joinPath(path, QString::fromLatin1(kDefaultFirmwareName))
                                   : path;
}

QJsonObject problemJson(const Problem& problem)
{
    return {{QStringLiteral("file"), problem.file},
            {QStringLiteral("location"), problem.location},
            {QStringLiteral("text"), problem.text}};
}

} // namespace

int runVerify(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption master(QStringLiteral("master"), {}, QStringLiteral("FIRMWARE"));
    const QCommandLineOption bank(QStringLiteral("bank"), {}, QStringLiteral("BANK"));
    const QCommandLineOption project(QStringLiteral("project"), {}, QStringLiteral("DIR"));
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOptions({master, bank, project, json});
    if (!parser.parse(arguments))
        usageError(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        usageError(QStringLiteral("verify takes one MERGED file"));
    if (parser.value(master).isEmpty())
        usageError(QStringLiteral("verify needs --master FIRMWARE"));
    if (parser.isSet(bank) == parser.isSet(project) ||
        parser.value(bank).isEmpty() == parser.value(project).isEmpty())
        usageError(QStringLiteral("verify needs either --bank BANK or --project DIR"));

    const QString bankPath =
        parser.isSet(bank)
            ? absolutePath(parser.value(bank))
            : joinPath(joinPath(absolutePath(parser.value(project)), QStringLiteral("bin")),
                       QStringLiteral("bank1.bin"));
    const FirmwareVerification verification = verifyMergedFirmwareFiles(
        absolutePath(positional[1]), firmwarePath(parser.value(master)), bankPath);

    QTextStream out(stdout);
    if (parser.isSet(json)) {
        QJsonArray report;
        for (const Problem& problem : verification.report)
            report.append(problemJson(problem));
        const QJsonObject object{{QStringLiteral("holds"), verification.holds()},
                                 {QStringLiteral("problemCount"), verification.problemCount},
                                 {QStringLiteral("report"), report}};
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

} // namespace quillner::cli
