#pragma once

#include "core/app/problems.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_description.h"
#include "core/device/settings.h"
#include "core/filters/identifier_set.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace quillner {

// The configuration of a project folder (compiled in memory, nothing written) or of a bank file
// or firmware (its bank 1).

// The value of a setting as the bank holds it, in the units of setting_keys ("115200", "even",
// "2.0B"), or "byte N" for a byte no value of pargen.xml compiles to.
QString bankSettingValue(const ConfigurationBank& bank, Setting setting);

// What the filter does with what it names, as show names it: "pass" for 2.0A identifiers and
// mask patterns, "positive" or "negative" for an identifier list, "code N" for a list function
// no window writes.
QString functionText(const BankDescription& description);

// Two configurations as the device sees them: the settings that differ, and the filter's
// differences. Reserved bytes and entries beyond what the device reads are not compared.
struct ConfigurationDiff
{
    struct SettingDifference
    {
        Setting setting;
        QString a;
        QString b;
    };

    QList<SettingDifference> settings;

    QString kindA;
    QString kindB;
    QString functionA; // what the filter does with what it names, as show names it: "pass"
    QString functionB;
    // Same kind of filter on both sides: for 2.0A the identifiers each side lets through that
    // the other hides, for a 2.0B list the identifiers only one side lists; ascending ranges.
    QList<IdRange> onlyA;
    QList<IdRange> onlyB;
    // 2.0B mask on both sides: the patterns only one side holds, as 29 characters, sorted.
    QStringList patternsOnlyA;
    QStringList patternsOnlyB;

    bool filterSame() const
    {
        return kindA == kindB && functionA == functionB && onlyA.isEmpty() && onlyB.isEmpty() &&
               patternsOnlyA.isEmpty() && patternsOnlyB.isEmpty();
    }
    bool same() const { return settings.isEmpty() && filterSame(); }
};

ConfigurationDiff compareConfigurations(const ConfigurationBank& a, const ConfigurationBank& b);

// One line per difference, each ended by "\n"; empty when the configurations are the same.
//   serial.baud: A 115200 bit/s, B 9600 bit/s
//   filter: 0x0400-0x04FF passed by A only
QString configurationDiffText(const ConfigurationDiff& diff);
// {"schema": 1, "same": ..., "settings": [{"name", "a", "b"}], "filter": {...}}
QJsonObject configurationDiffJson(const ConfigurationDiff& diff);

} // namespace quillner
