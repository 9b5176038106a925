#pragma once

#include "core/app/problems.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_description.h"
#include "core/device/settings.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace quillner {

// Where a configuration was read from.
enum class ConfigurationKind { Project, Bank, Firmware };

// "project", "bank", "firmware": the names the description gives them.
QString configurationKindName(ConfigurationKind kind);

// One configuration as the device would get it, whatever it was read from: the same description
// for a project folder (compiled in memory), a bank image and the bank of a firmware, so that
// any two of them can be shown and compared alike.
struct ConfigurationDescription
{
    ConfigurationKind kind = ConfigurationKind::Project;
    QString path; // as it is to be shown
    ConfigurationBank bank{};
    BankDescription description;
    // For a project, the documents that could not be read; the bank holds zeros where the
    // compile did not reach, so it is not fit for the device unless the user says so.
    Problems unreadable;
    // Everything to tell, in the order it is told: for a project its unreadable documents, then
    // the compile's warnings; for a bank or firmware the values no window writes.
    Problems problems;
};

// A project folder, compiled in memory from its documents; writes nothing. A problem when the
// folder is none.
Result<ConfigurationDescription> describeProject(const QString& projectDir);
// The same, from a compile of the project already made.
ConfigurationDescription describeCompiledProject(const QString& projectDir,
                                                 const CompiledBank& compiled);
// A bank image or a firmware's bank 1, already read; a problem when the bank is erased (all
// 0xFF), which describes no configuration.
Result<ConfigurationDescription> describeBankOf(ConfigurationKind kind, const QString& path,
                                                const ConfigurationBank& bank);

// Reads a configuration: a folder is a project, a file of exactly one bank's size is a bank
// image, any other file an S-record firmware whose bank 1 is read. A problem when the file
// cannot be read (as readBankFile tells it) or the bank is erased.
Result<ConfigurationDescription> loadConfiguration(const QString& path);

// The pargen.xml code of a setting that gives the byte the device gets, or none when no code
// gives it (a problem then says what the device gets).
std::optional<int> configurationSettingCode(const ConfigurationDescription& configuration,
                                            Setting setting);
// The value in units ("115200", "even", "2.0B", "250", "on"), or empty with no code.
QString configurationSettingValue(const ConfigurationDescription& configuration, Setting setting);

// "Project: PATH" (or "Bank image: PATH", "Firmware: PATH") and the description's lines, each
// ended by "\n". The problems are not among them: they are told apart.
QString configurationDescriptionText(const ConfigurationDescription& configuration);

inline constexpr int kDescriptionSchema = 1;

// The description as JSON, schema 1: schema, source, settings, filter, problems. The keys never
// depend on the filter's kind.
QJsonObject configurationDescriptionJson(const ConfigurationDescription& configuration);
// The same, its settings restricted to one and without the filter.
QJsonObject configurationSettingJson(const ConfigurationDescription& configuration,
                                     Setting setting);

} // namespace quillner
