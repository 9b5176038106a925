#include "core/bank/configuration_description.h"

#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/bank/bank_decode.h"
#include "core/device/bank_layout.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace quillner {

namespace {

QString kindLine(const ConfigurationDescription& c)
{
    switch (c.kind) {
    case ConfigurationKind::Project:
        return QStringLiteral("Project: ") + c.path;
    case ConfigurationKind::Bank:
        return QStringLiteral("Bank image: ") + c.path;
    case ConfigurationKind::Firmware:
        return QStringLiteral("Firmware: ") + c.path;
    }
    return {};
}

QJsonObject sourceJson(const ConfigurationDescription& c)
{
    return {{QStringLiteral("kind"), configurationKindName(c.kind)},
            {QStringLiteral("path"), c.path}};
}

QJsonObject settingValueJson(const ConfigurationDescription& c, Setting setting)
{
    const std::optional<int> code = configurationSettingCode(c, setting);
    QJsonObject object;
    if (!code) {
        object.insert(QStringLiteral("value"), QJsonValue::Null);
        object.insert(QStringLiteral("code"), QJsonValue::Null);
    } else if (const std::optional<int> number = settingNumberOfCode(setting, *code)) {
        object.insert(QStringLiteral("value"), *number);
        object.insert(QStringLiteral("code"), *code);
    } else {
        object.insert(QStringLiteral("value"), settingValueOfCode(setting, *code));
        object.insert(QStringLiteral("code"), *code);
    }
    if (!settingUnit(setting).isEmpty())
        object.insert(QStringLiteral("unit"), settingUnit(setting));
    return object;
}

QJsonObject rangeJson(qint64 first, qint64 last)
{
    return {{QStringLiteral("first"), first}, {QStringLiteral("last"), last}};
}

// The identifiers the 2.0A bitmap lets through: the ranges between the hidden ones.
QJsonArray visibleIdentifiers(const BankDescription& d)
{
    QJsonArray ranges;
    int next = 0;
    for (const auto& hidden : d.hiddenIdentifiers) {
        if (hidden.first > next)
            ranges.append(rangeJson(next, hidden.first - 1));
        next = hidden.last + 1;
    }
    if (next < kStandardIdCount)
        ranges.append(rangeJson(next, kStandardIdCount - 1));
    return ranges;
}

// The listed identifiers in the bank's order, each run of consecutive ones as one range.
QJsonArray listedIdentifiers(const BankDescription& d)
{
    QJsonArray ranges;
    for (qsizetype i = 0; i < d.identifiers.size();) {
        qsizetype end = i;
        while (end + 1 < d.identifiers.size() && d.identifiers[end + 1] == d.identifiers[end] + 1)
            ++end;
        ranges.append(rangeJson(d.identifiers[i], d.identifiers[end]));
        i = end + 1;
    }
    return ranges;
}

QJsonObject filterJson(const BankDescription& d)
{
    const QString function = filterFunctionName(d);
    QJsonArray identifiers;
    QJsonArray patterns;
    int identifierCount = 0;
    switch (d.filterKind) {
    case BankDescription::FilterKind::Identifiers20A:
        identifiers = visibleIdentifiers(d);
        identifierCount = kStandardIdCount - d.hiddenCount;
        break;
    case BankDescription::FilterKind::NoFilter20B:
        break;
    case BankDescription::FilterKind::IdentifierList20B:
        identifiers = listedIdentifiers(d);
        identifierCount = int(d.identifiers.size());
        break;
    case BankDescription::FilterKind::Mask20B:
        for (const auto& pattern : d.patterns)
            patterns.append(
                QJsonObject{{QStringLiteral("pattern"), pattern.pattern},
                            {QStringLiteral("nonZeroBits"), qint64(pattern.nonZeroBits)},
                            {QStringLiteral("oneBits"), qint64(pattern.oneBits)}});
        break;
    }
    return {{QStringLiteral("kind"), filterKindName(d.filterKind)},
            {QStringLiteral("function"),
             function.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(function)},
            {QStringLiteral("identifiers"), identifiers},
            {QStringLiteral("identifierCount"), identifierCount},
            {QStringLiteral("patterns"), patterns},
            {QStringLiteral("patternCount"), int(patterns.size())},
            {QStringLiteral("passesEveryIdentifier"), d.passesEveryIdentifier()}};
}

} // namespace

QString configurationKindName(ConfigurationKind kind)
{
    switch (kind) {
    case ConfigurationKind::Project:
        return QStringLiteral("project");
    case ConfigurationKind::Bank:
        return QStringLiteral("bank");
    case ConfigurationKind::Firmware:
        return QStringLiteral("firmware");
    }
    return {};
}

Result<ConfigurationDescription> describeProject(const QString& projectDir)
{
    const Result<AppPaths> project = existingProjectPaths(projectDir);
    if (!project.whole())
        return Result<ConfigurationDescription>::failure(project.problems);
    const AppPaths& paths = project.value;
    return {
        describeCompiledProject(paths.ProjectDir, CompileBank(paths.PargenPath, paths.Filter20APath,
                                                              paths.Filter20BPath)),
        {},
        {}};
}

ConfigurationDescription describeCompiledProject(const QString& projectDir,
                                                 const CompiledBank& compiled)
{
    ConfigurationDescription c;
    c.kind = ConfigurationKind::Project;
    c.path = projectDir;
    c.bank = compiled.value;
    c.description = describeBank(compiled.value);
    c.unreadable = compiled.problems;
    c.problems = compiled.problems + compiled.warnings;
    return c;
}

Result<ConfigurationDescription> describeBankOf(ConfigurationKind kind, const QString& path,
                                                const ConfigurationBank& bank)
{
    ConfigurationDescription c;
    c.kind = kind;
    c.path = path;
    c.bank = bank;
    c.description = describeBank(bank);
    if (c.description.erased)
        return Result<ConfigurationDescription>::failure({{{}, {}, erasedBankText(1)}});
    c.problems = c.description.problems;
    return {std::move(c), {}, {}};
}

Result<ConfigurationDescription> loadConfiguration(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return describeProject(path);
    // readBankFile takes a file of exactly one bank's size as a bank image.
    const ConfigurationKind kind =
        info.size() == kBankSize ? ConfigurationKind::Bank : ConfigurationKind::Firmware;
    const Result<ConfigurationBank> bank = readBankFile(path);
    if (!bank.whole())
        return Result<ConfigurationDescription>::failure(bank.problems);
    return describeBankOf(kind, absoluteNativePath(path), bank.value);
}

std::optional<int> configurationSettingCode(const ConfigurationDescription& configuration,
                                            Setting setting)
{
    return settingCodeOfBankByte(setting, configuration.bank[size_t(settingBankOffset(setting))]);
}

QString configurationSettingValue(const ConfigurationDescription& configuration, Setting setting)
{
    const std::optional<int> code = configurationSettingCode(configuration, setting);
    return code ? settingValueOfCode(setting, *code) : QString();
}

QString configurationDescriptionText(const ConfigurationDescription& configuration)
{
    return kindLine(configuration) + u'\n' + bankDescriptionText(configuration.description);
}

QJsonObject configurationDescriptionJson(const ConfigurationDescription& configuration)
{
    QJsonObject settings;
    for (const Setting setting : allSettings())
        settings.insert(settingName(setting), settingValueJson(configuration, setting));
    return {{QStringLiteral("schema"), kDescriptionSchema},
            {QStringLiteral("source"), sourceJson(configuration)},
            {QStringLiteral("settings"), settings},
            {QStringLiteral("filter"), filterJson(configuration.description)},
            {QStringLiteral("problems"), problemsJson(configuration.problems)}};
}

QJsonObject configurationSettingJson(const ConfigurationDescription& configuration, Setting setting)
{
    return {{QStringLiteral("schema"), kDescriptionSchema},
            {QStringLiteral("source"), sourceJson(configuration)},
            {QStringLiteral("settings"),
             QJsonObject{{settingName(setting), settingValueJson(configuration, setting)}}},
            {QStringLiteral("problems"), problemsJson(configuration.problems)}};
}

} // namespace quillner
