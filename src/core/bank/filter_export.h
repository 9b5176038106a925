#pragma once

#include "core/app/result.h"
#include "core/device/configuration_bank.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quillner {

// The notations of other CAN tools that the device's receive filter is written in.
enum class FilterNotation {
    Candump,   // candump's filter list: "123:C00007FF,18FEF100:DFFFFFFF"
    SocketCan, // a struct can_filter array in C, for setsockopt(CAN_RAW_FILTER)
    PythonCan, // python-can's can_filters: a list of dicts
    Json,      // the SocketCAN words in JSON, for any other tool
};

std::optional<FilterNotation> filterNotationNamed(const QString& name);
// "candump, socketcan, python-can, json"
QString filterNotationNames();
QStringList filterNotationNameList();

// The bank's receive filter in the notation (socketCanFilters), so that the tool receives exactly
// the frames the device does. python-can's filters cannot ask for data frames only: while the
// bank turns remote frames off, the text says so in a comment. A filter that lets no frame
// through cannot be said to candump or python-can (both then receive everything): that is a
// problem.
Result<QString> exportFilter(const ConfigurationBank& bank, FilterNotation notation);

} // namespace quillner
