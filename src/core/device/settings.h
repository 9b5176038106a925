#pragma once

#include "core/app/result.h"
#include "core/device/configuration_bank.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <span>

namespace quillner {

// The device's five general parameters. Each is defined once, in one row of the table in
// settings.cpp: its name on the command line, its element of pargen.xml, its byte of the bank,
// its choices with the code pargen.xml stores, their units and the byte the device gets, and the
// rule by which any stored integer becomes that byte. Everything that reads, writes, compiles,
// describes, imports, compares or offers a setting goes through this table.
//   serial.baud=115200  serial.parity=even  can.format=2.0B  can.baud=250  can.rtr=on
enum class Setting { SerialBaud, SerialParity, CanFormat, CanBaud, CanRtr };
inline constexpr std::size_t kSettingCount = 5;

// One entry of a setting's list; its position in the list is its code.
struct SettingChoice
{
    const char* value; // in units as the command line takes and prints it: "115200", "even"
    const char* label; // the window's text: "115200", "Even", "CAN Bus 2.0B 29Bit"
    int number;        // bit/s or kbit/s; 0 for a setting without a unit
    quint8 bankByte;   // what the device gets
};

struct SettingDefinition
{
    Setting setting;
    const char* key;         // "serial.baud"
    const char* element;     // "Ser_Baud" in pargen.xml
    const char* description; // "serial baud rate"
    const char* unit;        // "bit/s", "kbit/s" or empty
    int bankOffset;
    int defaultCode; // a new project's
    std::span<const SettingChoice> choices;
    // The compiler's rule: the byte the device gets for any integer pargen.xml holds.
    quint8 (*bankByteOfCode)(qint32 code);
    // Other spellings of the codes 0 and 1 that people type ("off"/"no", "a"/"b").
    std::span<const char* const> spellingsOf0;
    std::span<const char* const> spellingsOf1;
};

std::span<const SettingDefinition> settingDefinitions();
const SettingDefinition& definitionOf(Setting setting);
std::span<const Setting> allSettings();

QString settingName(Setting setting);
// The element of pargen.xml that holds the setting.
QString settingElementName(Setting setting);
// The setting's words in descriptions and problems ("CAN baud rate").
QString settingDescription(Setting setting);
std::optional<Setting> settingNamed(const QString& name);
std::optional<Setting> settingOfElement(const QString& element);
// The same, refused with "unknown setting 'name'; the settings are ..." for a name of none.
Result<Setting> requireSetting(const QString& name);
// "bit/s", "kbit/s", or empty for a setting without a unit.
QString settingUnit(Setting setting);
int settingBankOffset(Setting setting);
int settingDefaultCode(Setting setting);

// The values the setting takes, in code order; the window's texts of its list, in order.
QStringList settingValues(Setting setting);
QStringList settingLabels(Setting setting);

// The code pargen.xml stores for a value given in units. Letter case and blanks at either end
// do not matter. Any other is refused with the list of valid values.
Result<int> settingCodeOfValue(Setting setting, const QString& value);
// The value in units of a code of pargen.xml, or empty for a code no window writes.
QString settingValueOfCode(Setting setting, int code);
// The value as a number where the setting has a unit (bit/s, kbit/s).
std::optional<int> settingNumberOfCode(Setting setting, int code);
// Whether a window writes this code.
bool isSettingCode(Setting setting, qint32 code);

// The byte the compiler stores for an integer of pargen.xml, whatever it is.
quint8 settingBankByte(Setting setting, qint32 code);
// The code of pargen.xml that makes the compiler write this byte into the bank, or none when no
// code a window writes does.
std::optional<int> settingCodeOfBankByte(Setting setting, quint8 byte);
// "code 6 (250 kbit/s)", or "code 0, which no window sets": what the device gets.
QString bankByteText(Setting setting, quint8 byte);

// What the device does with a byte: "250 kbit/s", "even", "CAN 2.0B"; empty for a byte no window
// makes it get.
QString bankByteMeaning(Setting setting, quint8 byte);

// The CAN frame format as the device gets it from the byte at kCanTypeOffset: 0 means CAN 2.0A
// (11-bit identifiers), anything else CAN 2.0B (29-bit identifiers). The compiler stores the low 8
// bits of Can_Type, so Can_Type 256 is 2.0A: the filter window, every filter command and the
// description follow the device, never their own reading of the text.
enum class FrameFormat { Standard, Extended };
FrameFormat frameFormatOfBankByte(quint8 byte);
FrameFormat frameFormatOfCode(qint32 canTypeCode);
FrameFormat frameFormatOfBank(const ConfigurationBank& bank);
// Whether the device receives remote frames: only a byte of 0 turns them off (the windows write
// 1 for on).
bool receivesRemoteFrames(const ConfigurationBank& bank);
// "2.0A" or "2.0B".
QString frameFormatName(FrameFormat format);

// "serial.baud, serial.parity, ...": every setting's name.
QString settingNamesText();
// "serial.baud takes 1200, 2400, ...": the refusal of a value, for every caller's message.
QString settingChoicesText(Setting setting);

} // namespace quillner
