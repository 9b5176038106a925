// The project's settings by name: new, set and get.

#include "settings_commands.h"

#include "configuration_output.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/bank/configuration_description.h"
#include "core/device/settings.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter_safety.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonDocument>

namespace quillner::cli {

namespace {

QString valueText(Setting setting, int code)
{
    const QString value = settingValueOfCode(setting, code);
    return value.isEmpty() ? QStringLiteral("code %1").arg(code) : value;
}

// A 2.0B project whose filter lets every extended frame through (none saved yet, or an empty one)
// is told so in those words, since the device will do it.
void warnOfAnOpenGateway(const AppPaths& paths, const GeneralParameterTexts& parameters)
{
    if (frameFormatOfCode(parameters.code(Setting::CanFormat)) != FrameFormat::Extended)
        return;
    const Result<bool> opens = savedFilterOpensTheGateway(paths.Filter20BPath);
    if (!opens.whole() || !opens.value)
        return;
    complain(QStringLiteral("warning"),
             QStringLiteral("%1: no 2.0B filter that holds an identifier: the device lets every "
                            "extended frame through (quillner-cli filter set %2 --list or "
                            "--patterns sets one)")
                 .arg(QFileInfo(paths.Filter20BPath).fileName(), paths.ProjectDir));
}

int runNew(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("new takes one DIR"));
    const AppPaths paths = createProjectAt(line.argument(0));
    say(QStringLiteral("Created project %1\n").arg(paths.ProjectDir));
    return kExitSuccess;
}

int runSet(const CommandLine& line)
{
    if (line.arguments().size() < 2)
        line.usageError(QStringLiteral("set takes a PROJECT and at least one KEY=VALUE"));
    const AppPaths paths = requireProject(line.argument(0));
    QList<std::pair<Setting, int>> assignments;
    for (const QString& assignment : line.arguments().mid(1))
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
    warnOfAnOpenGateway(paths, after);
    return kExitSuccess;
}

int runGet(const CommandLine& line)
{
    if (line.arguments().isEmpty() || line.arguments().size() > 2)
        line.usageError(QStringLiteral("get takes a PROJECT and at most one KEY"));
    std::optional<Setting> setting;
    if (line.arguments().size() == 2)
        setting = wholeValue(requireSetting(line.argument(1)));
    const bool json = line.isSet("json");
    const std::optional<ConfigurationDescription> configuration =
        describeProjectForCommand(requireProject(line.argument(0)), lenientOf(line));
    if (!configuration)
        return kExitFailure;
    if (!setting) {
        printConfiguration(*configuration, json);
        return kExitSuccess;
    }
    const QString value = configurationSettingValue(*configuration, *setting);
    if (json)
        say(QString::fromUtf8(
            QJsonDocument(configurationSettingJson(*configuration, *setting)).toJson()));
    if (value.isEmpty()) {
        complain(QStringLiteral("error"),
                 QStringLiteral("%1: the device gets a value no window sets")
                     .arg(settingName(*setting)));
        return kExitFailure;
    }
    if (!json)
        say(value + u'\n');
    return kExitSuccess;
}

} // namespace

const CommandSpec& newCommand()
{
    static const CommandSpec spec{
        "new",
        "new DIR",
        "Create a project folder as the New project window does.",
        R"(Creates the project folder DIR with its bin folder, pargen.xml holding the
default general parameters and var.xml, the empty translate table: the same
files, byte for byte, as the New project window writes. DIR's parent folder
must exist; DIR must not exist or be an empty folder. Quillner.ini is not
changed: the windows do not open the new project by themselves.
)",
        {},
        R"(Example:
  quillner-cli new ~/.local/share/Quillner/PROJECTS/Gamma
)",
        {Takes::Folder},
        false,
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
    static const QByteArray description =
        QByteArray(R"(Changes the general parameters in PROJECT/pargen.xml, as the General Parameter
window saves them, and tells each change. Only the settings named change: the
other elements keep their text. Every assignment is checked first: a key or
value that is not valid changes nothing. A pargen.xml that cannot be read is
not rewritten, and the project's lock is held while it is written.

Keys and values:
)") + keysAndValuesHelp();
    static const CommandSpec spec{"set",
                                  "set PROJECT KEY=VALUE...",
                                  "Change general parameters by name, in units.",
                                  description.constData(),
                                  {},
                                  R"(Example:
  quillner-cli set PROJECTS/Alpha serial.baud=9600 can.format=2.0B
)",
                                  {Takes::Folder, Takes::Assignment},
                                  true,
                                  runSet};
    return spec;
}

const CommandSpec& getCommand()
{
    static const CommandSpec spec{
        "get",
        "get PROJECT [KEY] [--json] [--lenient]",
        "Print one general parameter, or the whole description.",
        R"(Compiles the project in memory (writing nothing). With KEY (serial.baud,
serial.parity, can.format, can.baud, can.rtr) prints the value the device gets
in units, such as 115200; without it prints the whole description, as show does.
)",
        {{"json", Takes::Nothing, "",
          "Print a JSON object of schema 1 (docs/description-schema.md);\nwith KEY its settings "
          "hold that setting alone, without filter."},
         kLenientOption,
         kStrictOption},
        R"(Example:
  quillner-cli get PROJECTS/Alpha can.baud
)",
        {Takes::Folder, Takes::SettingKey},
        false,
        runGet};
    return spec;
}

} // namespace quillner::cli
