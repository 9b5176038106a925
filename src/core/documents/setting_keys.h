#pragma once

#include "core/documents/general_parameters.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <span>

namespace quillner {

// The general parameters by name, with their values in the units people use. The command line,
// batch files and the descriptions of a configuration all name them so:
//   serial.baud=115200  serial.parity=even  can.format=2.0B  can.baud=250  can.rtr=on
enum class Setting { SerialBaud, SerialParity, CanFormat, CanBaud, CanRtr };

std::span<const Setting> allSettings();

QString settingName(Setting setting);
// The element of pargen.xml that holds the setting.
QString settingElementName(Setting setting);
std::optional<Setting> settingNamed(const QString& name);
// The same, throwing "unknown setting 'name'; the settings are ..." for a name of none.
Setting requireSetting(const QString& name);
// "bit/s", "kbit/s", or empty for a setting without a unit.
QString settingUnit(Setting setting);

// The values the setting takes, in the order of the window's list.
QStringList settingValues(Setting setting);

// The code pargen.xml stores for a value given in units. Letter case and blanks at either end
// do not matter. Throws with the list of valid values for any other.
int settingCodeOfValue(Setting setting, const QString& value);
// The value in units of a code of pargen.xml, or empty for a code no window writes.
QString settingValueOfCode(Setting setting, int code);
// The value as a number where the setting has a unit (bit/s, kbit/s).
std::optional<int> settingNumberOfCode(Setting setting, int code);

// Where the bank holds the setting's byte.
int settingBankOffset(Setting setting);

// The code of pargen.xml that makes the compiler write this byte into the bank, or none when
// no code does.
std::optional<int> settingCodeOfBankByte(Setting setting, quint8 byte);

int settingCode(const GeneralParameters& parameters, Setting setting);
void setSettingCode(GeneralParameters& parameters, Setting setting, int code);

// Applies "name=value" assignments in order. Throws at the first one that names no setting or
// gives a value outside its choices, before anything else happens, so that a caller that saves
// only after this call writes nothing on a refusal.
GeneralParameters withSettings(GeneralParameters parameters, const QStringList& assignments);

// "serial.baud, serial.parity, ...": every setting's name.
QString settingNamesText();

// "serial.baud takes 1200, 2400, ...": the refusal of a value, for every caller's message.
QString settingChoicesText(Setting setting);

} // namespace quillner
