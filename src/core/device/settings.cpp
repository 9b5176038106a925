#include "core/device/settings.h"

#include "core/device/bank_layout.h"

#include <array>

namespace quillner {

namespace {

// The low 8 bits of an integer, computed on the unsigned value so that no sum can overflow.
constexpr quint8 low8(qint32 value)
{
    return quint8(quint32(value) & 0xFFu);
}

constexpr quint8 lowByte(qint32 code)
{
    return low8(code);
}

// The CAN baud-rate codes count from 1 on the device.
constexpr quint8 codePlusOne(qint32 code)
{
    return quint8((quint32(code) + 1u) & 0xFFu);
}

// The device numbers the parities its own way; a code outside the list gives no parity.
constexpr std::array<SettingChoice, 3> kParityChoices = {{
    {"none", "None", 0, 0},
    {"odd", "Odd", 0, 3},
    {"even", "Even", 0, 1},
}};

constexpr quint8 parityByte(qint32 code)
{
    const quint8 index = low8(code);
    return index < kParityChoices.size() ? kParityChoices[index].bankByte : 0;
}

constexpr std::array<SettingChoice, 8> kSerialBaudChoices = {{
    {"1200", "1200", 1200, lowByte(0)},
    {"2400", "2400", 2400, lowByte(1)},
    {"4800", "4800", 4800, lowByte(2)},
    {"9600", "9600", 9600, lowByte(3)},
    {"19200", "19200", 19200, lowByte(4)},
    {"38400", "38400", 38400, lowByte(5)},
    {"57600", "57600", 57600, lowByte(6)},
    {"115200", "115200", 115200, lowByte(7)},
}};

constexpr std::array<SettingChoice, 2> kFrameFormatChoices = {{
    {"2.0A", "CAN Bus 2.0A 11Bit", 0, lowByte(0)},
    {"2.0B", "CAN Bus 2.0B 29Bit", 0, lowByte(1)},
}};

constexpr std::array<SettingChoice, 9> kCanBaudChoices = {{
    {"10", "10", 10, codePlusOne(0)},
    {"20", "20", 20, codePlusOne(1)},
    {"50", "50", 50, codePlusOne(2)},
    {"100", "100", 100, codePlusOne(3)},
    {"125", "125", 125, codePlusOne(4)},
    {"250", "250", 250, codePlusOne(5)},
    {"500", "500", 500, codePlusOne(6)},
    {"800", "800", 800, codePlusOne(7)},
    {"1000", "1000", 1000, codePlusOne(8)},
}};

constexpr std::array<SettingChoice, 2> kSwitchChoices = {{
    {"off", "off", 0, lowByte(0)},
    {"on", "on", 0, lowByte(1)},
}};

constexpr std::array<const char*, 2> kFormatA = {"a", "2.0a"};
constexpr std::array<const char*, 2> kFormatB = {"b", "2.0b"};
constexpr std::array<const char*, 3> kSwitchOff = {"0", "false", "no"};
constexpr std::array<const char*, 3> kSwitchOn = {"1", "true", "yes"};

const std::array<SettingDefinition, kSettingCount> kDefinitions = {{
    {Setting::SerialBaud,
     "serial.baud",
     "Ser_Baud",
     "serial baud rate",
     "bit/s",
     kSerialBaudOffset,
     7,
     kSerialBaudChoices,
     lowByte,
     {},
     {}},
    {Setting::SerialParity,
     "serial.parity",
     "Ser_Par",
     "parity",
     "",
     kParityOffset,
     0,
     kParityChoices,
     parityByte,
     {},
     {}},
    {Setting::CanFormat, "can.format", "Can_Type", "CAN frame format", "", kCanTypeOffset, 0,
     kFrameFormatChoices, lowByte, kFormatA, kFormatB},
    {Setting::CanBaud,
     "can.baud",
     "Can_Baud",
     "CAN baud rate",
     "kbit/s",
     kCanBaudOffset,
     5,
     kCanBaudChoices,
     codePlusOne,
     {},
     {}},
    {Setting::CanRtr, "can.rtr", "Can_Enable_RTR", "remote frames", "", kRemoteFramesOffset, 0,
     kSwitchChoices, lowByte, kSwitchOff, kSwitchOn},
}};

constexpr std::array<Setting, kSettingCount> kSettings = {Setting::SerialBaud,
                                                          Setting::SerialParity, Setting::CanFormat,
                                                          Setting::CanBaud, Setting::CanRtr};

bool spelledAs(std::span<const char* const> spellings, const QString& given)
{
    for (const char* spelling : spellings) {
        if (given == QLatin1StringView(spelling))
            return true;
    }
    return false;
}

} // namespace

std::span<const SettingDefinition> settingDefinitions()
{
    return kDefinitions;
}

const SettingDefinition& definitionOf(Setting setting)
{
    return kDefinitions[size_t(setting)];
}

std::span<const Setting> allSettings()
{
    return kSettings;
}

QString settingName(Setting setting)
{
    return QString::fromLatin1(definitionOf(setting).key);
}

QString settingElementName(Setting setting)
{
    return QString::fromLatin1(definitionOf(setting).element);
}

QString settingDescription(Setting setting)
{
    return QString::fromLatin1(definitionOf(setting).description);
}

std::optional<Setting> settingNamed(const QString& name)
{
    const QString wanted = name.trimmed().toLower();
    for (const SettingDefinition& definition : kDefinitions) {
        if (wanted == QLatin1StringView(definition.key))
            return definition.setting;
    }
    return std::nullopt;
}

std::optional<Setting> settingOfElement(const QString& element)
{
    for (const SettingDefinition& definition : kDefinitions) {
        if (element == QLatin1StringView(definition.element))
            return definition.setting;
    }
    return std::nullopt;
}

Result<Setting> requireSetting(const QString& name)
{
    const std::optional<Setting> setting = settingNamed(name);
    if (!setting)
        return Result<Setting>::failure(
            {Problem{{},
                     {},
                     QStringLiteral("unknown setting '%1'; the settings are %2")
                         .arg(name.trimmed(), settingNamesText())}});
    return {*setting, {}, {}};
}

QString settingUnit(Setting setting)
{
    return QString::fromLatin1(definitionOf(setting).unit);
}

int settingBankOffset(Setting setting)
{
    return definitionOf(setting).bankOffset;
}

int settingDefaultCode(Setting setting)
{
    return definitionOf(setting).defaultCode;
}

QStringList settingValues(Setting setting)
{
    QStringList values;
    for (const SettingChoice& choice : definitionOf(setting).choices)
        values.append(QString::fromLatin1(choice.value));
    return values;
}

QStringList settingLabels(Setting setting)
{
    QStringList labels;
    for (const SettingChoice& choice : definitionOf(setting).choices)
        labels.append(QString::fromLatin1(choice.label));
    return labels;
}

QString settingChoicesText(Setting setting)
{
    return QStringLiteral("%1 takes %2")
        .arg(settingName(setting), settingValues(setting).join(QStringLiteral(", ")));
}

QString settingNamesText()
{
    QStringList names;
    for (const SettingDefinition& definition : kDefinitions)
        names << QString::fromLatin1(definition.key);
    return names.join(QStringLiteral(", "));
}

Result<int> settingCodeOfValue(Setting setting, const QString& value)
{
    const SettingDefinition& definition = definitionOf(setting);
    const QString given = value.trimmed().toLower();
    for (size_t code = 0; code < definition.choices.size(); ++code) {
        if (given == QString::fromLatin1(definition.choices[code].value).toLower())
            return {int(code), {}, {}};
    }
    if (spelledAs(definition.spellingsOf0, given))
        return {0, {}, {}};
    if (spelledAs(definition.spellingsOf1, given))
        return {1, {}, {}};
    return Result<int>::failure(
        {Problem{{},
                 {},
                 QStringLiteral("%1: '%2' is not a valid value; %3")
                     .arg(settingName(setting), value, settingChoicesText(setting))}});
}

bool isSettingCode(Setting setting, qint32 code)
{
    return code >= 0 && code < qint32(definitionOf(setting).choices.size());
}

QString settingValueOfCode(Setting setting, int code)
{
    if (!isSettingCode(setting, code))
        return {};
    return QString::fromLatin1(definitionOf(setting).choices[size_t(code)].value);
}

std::optional<int> settingNumberOfCode(Setting setting, int code)
{
    if (settingUnit(setting).isEmpty() || !isSettingCode(setting, code))
        return std::nullopt;
    return definitionOf(setting).choices[size_t(code)].number;
}

quint8 settingBankByte(Setting setting, qint32 code)
{
    return definitionOf(setting).bankByteOfCode(code);
}

std::optional<int> settingCodeOfBankByte(Setting setting, quint8 byte)
{
    const std::span<const SettingChoice> choices = definitionOf(setting).choices;
    for (size_t code = 0; code < choices.size(); ++code) {
        if (choices[code].bankByte == byte)
            return int(code);
    }
    return std::nullopt;
}

QString bankByteMeaning(Setting setting, quint8 byte)
{
    // Every byte but 0 is 2.0B to the device, not only the one a window writes.
    if (setting == Setting::CanFormat)
        return QStringLiteral("CAN ") + frameFormatName(frameFormatOfBankByte(byte));
    const std::optional<int> code = settingCodeOfBankByte(setting, byte);
    if (!code)
        return {};
    const SettingChoice& choice = definitionOf(setting).choices[size_t(*code)];
    const QString unit = settingUnit(setting);
    return unit.isEmpty() ? QString::fromLatin1(choice.label)
                          : QString::fromLatin1(choice.value) + u' ' + unit;
}

QString bankByteText(Setting setting, quint8 byte)
{
    const QString meaning = bankByteMeaning(setting, byte);
    if (!meaning.isEmpty())
        return QStringLiteral("code %1 (%2)").arg(byte).arg(meaning);
    // A list names the byte as none of its entries; a switch has only the two.
    if (definitionOf(setting).choices.size() > 2)
        return QStringLiteral("code %1, which no window sets").arg(byte);
    return QStringLiteral("code %1").arg(byte);
}

FrameFormat frameFormatOfBankByte(quint8 byte)
{
    return byte == 0 ? FrameFormat::Standard : FrameFormat::Extended;
}

FrameFormat frameFormatOfCode(qint32 canTypeCode)
{
    return frameFormatOfBankByte(settingBankByte(Setting::CanFormat, canTypeCode));
}

FrameFormat frameFormatOfBank(const ConfigurationBank& bank)
{
    return frameFormatOfBankByte(bank[kCanTypeOffset]);
}

bool receivesRemoteFrames(const ConfigurationBank& bank)
{
    return bank[kRemoteFramesOffset] != 0;
}

QString frameFormatName(FrameFormat format)
{
    return format == FrameFormat::Standard ? QStringLiteral("2.0A") : QStringLiteral("2.0B");
}

} // namespace quillner
