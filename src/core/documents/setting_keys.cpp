#include "core/documents/setting_keys.h"

#include "core/app/error.h"
#include "core/documents/document_structure.h"
#include "core/documents/parameter_choices.h"
#include "core/firmware/bank_layout.h"

#include <array>

namespace quillner {

namespace {

constexpr std::array<Setting, 5> kSettings = {Setting::SerialBaud, Setting::SerialParity,
                                              Setting::CanFormat, Setting::CanBaud,
                                              Setting::CanRtr};

// The two-valued settings: their values in code order.
const QStringList& formatValues()
{
    static const QStringList values{QStringLiteral("2.0A"), QStringLiteral("2.0B")};
    return values;
}

const QStringList& switchValues()
{
    static const QStringList values{QStringLiteral("off"), QStringLiteral("on")};
    return values;
}

// The list a setting chooses from, for those that are lists of the window.
std::span<const ParameterChoice> choiceList(Setting setting)
{
    switch (setting) {
    case Setting::SerialBaud:
        return kSerialBaudChoices;
    case Setting::SerialParity:
        return kParityChoices;
    case Setting::CanBaud:
        return kCanBaudChoices;
    case Setting::CanFormat:
    case Setting::CanRtr:
        break;
    }
    return {};
}

// Other spellings people use for the switches.
int switchCode(const QString& value)
{
    static const QStringList on{QStringLiteral("1"), QStringLiteral("true"), QStringLiteral("yes")};
    static const QStringList off{QStringLiteral("0"), QStringLiteral("false"),
                                 QStringLiteral("no")};
    if (on.contains(value))
        return 1;
    if (off.contains(value))
        return 0;
    return -1;
}

} // namespace

QString settingNamesText()
{
    QStringList names;
    for (const Setting setting : kSettings)
        names << settingName(setting);
    return names.join(QStringLiteral(", "));
}

std::span<const Setting> allSettings()
{
    return kSettings;
}

QString settingName(Setting setting)
{
    switch (setting) {
    case Setting::SerialBaud:
        return QStringLiteral("serial.baud");
    case Setting::SerialParity:
        return QStringLiteral("serial.parity");
    case Setting::CanFormat:
        return QStringLiteral("can.format");
    case Setting::CanBaud:
        return QStringLiteral("can.baud");
    case Setting::CanRtr:
        return QStringLiteral("can.rtr");
    }
    return {};
}

QString settingElementName(Setting setting)
{
    using namespace pargen_names;
    switch (setting) {
    case Setting::SerialBaud:
        return kSerBaud;
    case Setting::SerialParity:
        return kSerPar;
    case Setting::CanFormat:
        return kCanType;
    case Setting::CanBaud:
        return kCanBaud;
    case Setting::CanRtr:
        return kCanEnableRtr;
    }
    return {};
}

std::optional<Setting> settingNamed(const QString& name)
{
    for (const Setting setting : kSettings) {
        if (settingName(setting) == name.trimmed().toLower())
            return setting;
    }
    return std::nullopt;
}

Setting requireSetting(const QString& name)
{
    const std::optional<Setting> setting = settingNamed(name);
    if (!setting)
        throw Error(QStringLiteral("unknown setting '%1'; the settings are %2")
                        .arg(name.trimmed(), settingNamesText()));
    return *setting;
}

QString settingUnit(Setting setting)
{
    switch (setting) {
    case Setting::SerialBaud:
        return QStringLiteral("bit/s");
    case Setting::CanBaud:
        return QStringLiteral("kbit/s");
    default:
        return {};
    }
}

QStringList settingValues(Setting setting)
{
    if (setting == Setting::CanFormat)
        return formatValues();
    if (setting == Setting::CanRtr)
        return switchValues();
    QStringList values = choiceTexts(choiceList(setting));
    if (setting == Setting::SerialParity) {
        for (QString& value : values)
            value = value.toLower();
    }
    return values;
}

QString settingChoicesText(Setting setting)
{
    return QStringLiteral("%1 takes %2")
        .arg(settingName(setting), settingValues(setting).join(QStringLiteral(", ")));
}

int settingCodeOfValue(Setting setting, const QString& value)
{
    const QString given = value.trimmed().toLower();
    const QStringList values = settingValues(setting);
    for (qsizetype code = 0; code < values.size(); ++code) {
        if (values[code].toLower() == given)
            return int(code);
    }
    if (setting == Setting::CanRtr && switchCode(given) >= 0)
        return switchCode(given);
    if (setting == Setting::CanFormat &&
        (given == QLatin1StringView("a") || given == QLatin1StringView("b")))
        return given == QLatin1StringView("b") ? 1 : 0;
    throw Error(QStringLiteral("%1: '%2' is not a valid value; %3")
                    .arg(settingName(setting), value, settingChoicesText(setting)));
}

QString settingValueOfCode(Setting setting, int code)
{
    const QStringList values = settingValues(setting);
    return code >= 0 && code < values.size() ? values[code] : QString();
}

std::optional<int> settingNumberOfCode(Setting setting, int code)
{
    const std::span<const ParameterChoice> choices = choiceList(setting);
    if (settingUnit(setting).isEmpty() || code < 0 || code >= int(choices.size()))
        return std::nullopt;
    return choices[size_t(code)].value;
}

int settingBankOffset(Setting setting)
{
    switch (setting) {
    case Setting::SerialBaud:
        return kSerialBaudOffset;
    case Setting::SerialParity:
        return kParityOffset;
    case Setting::CanFormat:
        return kCanTypeOffset;
    case Setting::CanBaud:
        return kCanBaudOffset;
    case Setting::CanRtr:
        return kRemoteFramesOffset;
    }
    return kSerialBaudOffset;
}

std::optional<int> settingCodeOfBankByte(Setting setting, quint8 byte)
{
    if (setting == Setting::CanFormat || setting == Setting::CanRtr) {
        if (byte > 1)
            return std::nullopt;
        return int(byte);
    }
    const std::span<const ParameterChoice> choices = choiceList(setting);
    for (size_t index = 0; index < choices.size(); ++index) {
        if (choices[index].bankCode == byte)
            return int(index);
    }
    return std::nullopt;
}

int settingCode(const GeneralParameters& parameters, Setting setting)
{
    switch (setting) {
    case Setting::SerialBaud:
        return parameters.Ser_Baud;
    case Setting::SerialParity:
        return parameters.Ser_Par;
    case Setting::CanFormat:
        return parameters.canTypeB ? 1 : 0;
    case Setting::CanBaud:
        return parameters.Can_Baud;
    case Setting::CanRtr:
        return parameters.Can_Enable_RTR ? 1 : 0;
    }
    return 0;
}

void setSettingCode(GeneralParameters& parameters, Setting setting, int code)
{
    switch (setting) {
    case Setting::SerialBaud:
        parameters.Ser_Baud = code;
        break;
    case Setting::SerialParity:
        parameters.Ser_Par = code;
        break;
    case Setting::CanFormat:
        parameters.canTypeB = code != 0;
        break;
    case Setting::CanBaud:
        parameters.Can_Baud = code;
        break;
    case Setting::CanRtr:
        parameters.Can_Enable_RTR = code != 0;
        break;
    }
}

GeneralParameters withSettings(GeneralParameters parameters, const QStringList& assignments)
{
    for (const QString& assignment : assignments) {
        const qsizetype equals = assignment.indexOf(u'=');
        if (equals < 0)
            throw Error(QStringLiteral("'%1' is no KEY=VALUE; the keys are %2")
                            .arg(assignment, settingNamesText()));
        const Setting setting = requireSetting(assignment.left(equals));
        setSettingCode(parameters, setting,
                       settingCodeOfValue(setting, assignment.mid(equals + 1)));
    }
    return parameters;
}

} // namespace quillner
