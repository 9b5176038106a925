#include "core/bank/configuration_diff.h"

#include "core/app/app_paths.h"
#include "core/bank/bank_decode.h"
#include "core/bank/bank_description.h"

#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <bitset>

namespace quillner {

namespace {

// The identifiers of the 2.0A bitmap that the device lets through.
std::bitset<kStandardIdCount> visibleIdentifiers(const ConfigurationBank& bank)
{
    std::bitset<kStandardIdCount> visible;
    for (int id = 0; id < kStandardIdCount; ++id)
        visible[size_t(id)] = identifierVisible(bank, id);
    return visible;
}

QList<IdRange> rangesWhere(const std::bitset<kStandardIdCount>& set)
{
    QList<quint32> ids;
    for (int id = 0; id < kStandardIdCount; ++id) {
        if (set[size_t(id)])
            ids.append(quint32(id));
    }
    return rangesOf(ids);
}

// What the device reads of the description: at most kFilterWordCount identifiers.
QList<quint32> listedIdentifiers(const BankDescription& description)
{
    QList<quint32> ids = description.identifiers.mid(0, kFilterWordCount);
    std::sort(ids.begin(), ids.end());
    return ids;
}

QStringList patternTexts(const BankDescription& description)
{
    QStringList patterns;
    for (const auto& pattern : description.patterns.mid(0, kMaxPatterns))
        patterns << pattern.pattern;
    patterns.sort();
    return patterns;
}

// The ascending identifiers of `from` that `other` does not hold.
QList<quint32> missingFrom(const QList<quint32>& from, const QList<quint32>& other)
{
    QList<quint32> result;
    std::set_difference(from.cbegin(), from.cend(), other.cbegin(), other.cend(),
                        std::back_inserter(result));
    return result;
}

QStringList missingFrom(const QStringList& from, const QStringList& other)
{
    QStringList result;
    std::set_difference(from.cbegin(), from.cend(), other.cbegin(), other.cend(),
                        std::back_inserter(result));
    return result;
}

QJsonArray rangesJson(const QList<IdRange>& ranges)
{
    QJsonArray array;
    for (const IdRange& range : ranges)
        array.append(QJsonObject{{QStringLiteral("first"), qint64(range.first)},
                                 {QStringLiteral("last"), qint64(range.last)}});
    return array;
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

const QString kList = filterKindName(BankDescription::FilterKind::IdentifierList20B);

} // namespace

QString bankSettingValue(const ConfigurationBank& bank, Setting setting)
{
    const quint8 byte = bank[size_t(settingBankOffset(setting))];
    const std::optional<int> code = settingCodeOfBankByte(setting, byte);
    const QString value = code ? settingValueOfCode(setting, *code) : QString();
    return value.isEmpty() ? QStringLiteral("byte %1").arg(byte) : value;
}

QString functionText(const BankDescription& description)
{
    const QString name = filterFunctionName(description);
    return name.isEmpty() ? QStringLiteral("code %1").arg(description.listFunctionCode) : name;
}

ConfigurationDiff compareConfigurations(const ConfigurationBank& a, const ConfigurationBank& b)
{
    ConfigurationDiff diff;
    for (const Setting setting : allSettings()) {
        const QString valueA = bankSettingValue(a, setting);
        const QString valueB = bankSettingValue(b, setting);
        if (valueA != valueB)
            diff.settings.append({setting, valueA, valueB});
    }
    const BankDescription descriptionA = describeBank(a);
    const BankDescription descriptionB = describeBank(b);
    diff.kindA = filterKindName(descriptionA.filterKind);
    diff.kindB = filterKindName(descriptionB.filterKind);
    diff.functionA = functionText(descriptionA);
    diff.functionB = functionText(descriptionB);
    if (diff.kindA != diff.kindB)
        return diff;

    if (descriptionA.filterKind == BankDescription::FilterKind::Identifiers20A) {
        const auto visibleA = visibleIdentifiers(a);
        const auto visibleB = visibleIdentifiers(b);
        diff.onlyA = rangesWhere(visibleA & ~visibleB);
        diff.onlyB = rangesWhere(visibleB & ~visibleA);
        return diff;
    }
    if (diff.kindA == kList) {
        const QList<quint32> idsA = listedIdentifiers(descriptionA);
        const QList<quint32> idsB = listedIdentifiers(descriptionB);
        diff.onlyA = rangesOf(missingFrom(idsA, idsB));
        diff.onlyB = rangesOf(missingFrom(idsB, idsA));
    } else {
        const QStringList patternsA = patternTexts(descriptionA);
        const QStringList patternsB = patternTexts(descriptionB);
        diff.patternsOnlyA = missingFrom(patternsA, patternsB);
        diff.patternsOnlyB = missingFrom(patternsB, patternsA);
    }
    return diff;
}

QString configurationDiffText(const ConfigurationDiff& diff)
{
    QStringList lines;
    for (const auto& setting : diff.settings) {
        const QString unit = settingUnit(setting.setting);
        const auto withUnit = [&](const QString& value) {
            return unit.isEmpty() || value.startsWith(QLatin1StringView("byte "))
                       ? value
                       : value + u' ' + unit;
        };
        lines << QStringLiteral("%1: A %2, B %3")
                     .arg(settingName(setting.setting), withUnit(setting.a), withUnit(setting.b));
    }
    if (diff.kindA != diff.kindB)
        lines << QStringLiteral("filter kind: A %1, B %2").arg(diff.kindA, diff.kindB);
    else if (diff.functionA != diff.functionB)
        lines << QStringLiteral("filter type: A %1, B %2").arg(diff.functionA, diff.functionB);
    // A 2.0A bitmap passes what it shows; an identifier list passes or stops what it lists,
    // as its type says.
    const QString verb = diff.kindA == kList ? QStringLiteral("listed") : QStringLiteral("passed");
    for (const IdRange& range : diff.onlyA)
        lines << QStringLiteral("filter: %1 %2 by A only").arg(idSetText({range}), verb);
    for (const IdRange& range : diff.onlyB)
        lines << QStringLiteral("filter: %1 %2 by B only").arg(idSetText({range}), verb);
    for (const QString& pattern : diff.patternsOnlyA)
        lines << QStringLiteral("filter: pattern %1 in A only").arg(pattern);
    for (const QString& pattern : diff.patternsOnlyB)
        lines << QStringLiteral("filter: pattern %1 in B only").arg(pattern);
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

QJsonObject configurationDiffJson(const ConfigurationDiff& diff)
{
    QJsonArray settings;
    for (const auto& setting : diff.settings)
        settings.append(QJsonObject{{QStringLiteral("name"), settingName(setting.setting)},
                                    {QStringLiteral("a"), setting.a},
                                    {QStringLiteral("b"), setting.b}});
    const auto side = [](const QString& kind, const QString& function) {
        return QJsonObject{{QStringLiteral("kind"), kind},
                           {QStringLiteral("function"), textOrNull(function)}};
    };
    const QJsonObject filter{
        {QStringLiteral("same"), diff.filterSame()},
        {QStringLiteral("a"), side(diff.kindA, diff.functionA)},
        {QStringLiteral("b"), side(diff.kindB, diff.functionB)},
        {QStringLiteral("onlyA"), rangesJson(diff.onlyA)},
        {QStringLiteral("onlyB"), rangesJson(diff.onlyB)},
        {QStringLiteral("patternsOnlyA"), QJsonArray::fromStringList(diff.patternsOnlyA)},
        {QStringLiteral("patternsOnlyB"), QJsonArray::fromStringList(diff.patternsOnlyB)}};
    return {{QStringLiteral("schema"), 1},
            {QStringLiteral("same"), diff.same()},
            {QStringLiteral("settings"), settings},
            {QStringLiteral("filter"), filter}};
}

} // namespace quillner
