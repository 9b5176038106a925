// The project's settings by name: new, set and get.

#include "settings_commands.h"

#include "configuration_output.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/device/settings.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/firmware/configuration_description.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonDocument>

namespace quillner::cli {

namespace {

struct Parsed
{
    QStringList positional; // after the command's name
    bool json = false;
    bool lenient = false;
};

struct Accepts
{
    bool json = false;
    bool lenient = false;
};

Parsed parse(const QStringList& arguments, Accepts accepts)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption lenient(QStringLiteral("lenient"));
    const QCommandLineOption strict(QStringLiteral("strict"));
    if (accepts.json)
        parser.addOption(json);
    if (accepts.lenient)
        parser.addOptions({lenient, strict});
    const QString command = arguments.value(0);
    // The parser takes the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("quillner-cli")} + arguments))
        usageError(parser.errorText(), command);
    Parsed parsed;
    parsed.positional = parser.positionalArguments().mid(1);
    parsed.json = accepts.json && parser.isSet(json);
    parsed.lenient = accepts.lenient && parser.isSet(lenient);
    if (parsed.lenient && parser.isSet(strict))
        usageError(QStringLiteral("--lenient and --strict exclude each other"), command);
    return parsed;
}

QString valueText(Setting setting, int code)
{
    const QString value = settingValueOfCode(setting, code);
    return value.isEmpty() ? QStringLiteral("code %1").arg(code) : value;
}

int runNew(const QStringList& arguments)
{
    const Parsed parsed = parse(arguments, {});
    if (parsed.positional.size() != 1)
        usageError(QStringLiteral("new takes one DIR"), QStringLiteral("new"));
    const AppPaths paths = createProjectAt(parsed.positional[0]);
    say(QStringLiteral("Created project %1\n").arg(paths.ProjectDir));
    return kExitSuccess;
}

int runSet(const QStringList& arguments)
{
    const Parsed parsed = parse(arguments, {});
    if (parsed.positional.size() < 2)
        usageError(QStringLiteral("set takes a PROJECT and at least one KEY=VALUE"),
                   QStringLiteral("set"));
    const AppPaths paths = requireProject(parsed.positional[0]);
    QList<std::pair<Setting, int>> assignments;
    for (const QString& assignment : parsed.positional.mid(1))
        assignments.append(parseSettingAssignment(assignment));

    // Only the named settings change; every other element keeps its text.
    const ProjectEdit project(paths.ProjectDir);
    const DocumentFormat<GeneralParameterTexts> format = generalParametersDocument();
    const GeneralParameterTexts before = project.read(paths.PargenPath, format);
    GeneralParameterTexts after = before;
    for (const auto& [setting, code] : assignments)
        after.text(setting) = QString::number(code);

    QString changes;
    for (const Setting setting : allSettings()) {
        const int was = before.code(setting);
        const int now = after.code(setting);
        if (was != now)
            changes +=
                QStringLiteral("%1: %2 -> %3\n")
                    .arg(settingName(setting), valueText(setting, was), valueText(setting, now));
    }
    // A document that already holds every value is left as it is.
    if (changes.isEmpty() && QFileInfo::exists(paths.PargenPath)) {
        say(QStringLiteral("Nothing changed\n"));
        return kExitSuccess;
    }
    project.write(paths.PargenPath, format, after);
    say(changes.isEmpty() ? QStringLiteral("Written: %1\n").arg(paths.PargenPath) : changes);
    return kExitSuccess;
}

int runGet(const QStringList& arguments)
{
    const Parsed parsed = parse(arguments, {.json = true, .lenient = true});
    if (parsed.positional.isEmpty() || parsed.positional.size() > 2)
        usageError(QStringLiteral("get takes a PROJECT and at most one KEY"),
                   QStringLiteral("get"));
    std::optional<Setting> setting;
    if (parsed.positional.size() == 2)
        setting = requireSetting(parsed.positional[1]);
    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(requireProject(parsed.positional[0]), parsed.lenient);
    if (!configuration)
        return kExitFailure;
    if (!setting) {
        printConfiguration(*configuration, parsed.json);
        return kExitSuccess;
    }
    const QString value = configurationSettingValue(*configuration, *setting);
    if (parsed.json)
        say(QString::fromUtf8(
            QJsonDocument(configurationSettingJson(*configuration, *setting)).toJson()));
    if (value.isEmpty()) {
        complain(QStringLiteral("error"),
                 QStringLiteral("%1: the device gets a value no window sets")
                     .arg(settingName(*setting)));
        return kExitFailure;
    }
    if (!parsed.json)
        say(value + u'\n');
    return kExitSuccess;
}

} // namespace

const CommandSpec& newCommand()
{
    static const CommandSpec spec{"new", "new DIR",
                                  "Create a project folder as the New project window does.",
                                  R"(Usage: quillner-cli new DIR

Creates the project folder DIR with its bin folder, pargen.xml holding the
default general parameters and var.xml, the empty translate table: the same
files, byte for byte, as the New project window writes. DIR's parent folder
must exist; DIR must not exist or be an empty folder. Quillner.ini is not
changed: the windows do not open the new project by themselves.

Example:
  quillner-cli new ~/.local/share/Quillner/PROJECTS/Gamma
)",
                                  runNew};
    return spec;
}

// "  serial.baud     1200, 2400, ... (bit/s)": every key with its values.
QByteArray keysAndValuesHelp()
{
    QString text;
    for (const Setting setting : allSettings()) {
        const QString unit = settingUnit(setting);
        text += QStringLiteral("  %1 %2%3\n")
                    .arg(settingName(setting), -15)
                    .arg(settingValues(setting).join(QStringLiteral(", ")),
                         unit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(unit));
    }
    return text.toUtf8();
}

const CommandSpec& setCommand()
{
    static const QByteArray help = QByteArray(R"(Usage: quillner-cli set PROJECT KEY=VALUE...

Changes the general parameters in PROJECT/pargen.xml, as the General Parameter
window saves them, and tells each change. Every assignment is checked first: a
key or value that is not valid changes nothing. A pargen.xml that cannot be
read is not rewritten.

Keys and values:
)") + keysAndValuesHelp() + R"(
Example:
  quillner-cli set PROJECTS/Alpha serial.baud=9600 can.format=2.0B
)";
    static const CommandSpec spec{"set", "set PROJECT KEY=VALUE...",
                                  "Change general parameters by name, in units.", help.constData(),
                                  runSet};
    return spec;
}

const CommandSpec& getCommand()
{
    static const CommandSpec spec{"get", "get PROJECT [KEY]",
                                  "Print one general parameter, or the whole description.",
                                  R"(Usage: quillner-cli get PROJECT [KEY] [--json] [--lenient]

Compiles the project in memory (writing nothing). With KEY (serial.baud,
serial.parity, can.format, can.baud, can.rtr) prints the value the device gets
in units, such as 115200; without it prints the whole description, as show does.

Options:
  --json        Print a JSON object of schema 1 (docs/description-schema.md);
                with KEY its settings hold that setting alone, without filter.
  --lenient     Go on despite a document that cannot be read, with zeros for
                what was not read.
  --strict      Accepted and ignored: the default.

Example:
  quillner-cli get PROJECTS/Alpha can.baud
)",
                                  runGet};
    return spec;
}

} // namespace quillner::cli
