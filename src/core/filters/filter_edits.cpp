#include "core/filters/filter_edits.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"

#include <algorithm>

namespace quillner {

namespace {

// More than a list can hold, so that a long range is taken up to the full list and refused there.
constexpr qsizetype kTypedIdentifierLimit = 1 << 16;

// Text "ADD" has always read as one value: anything without a separator, a range, a pair or a
// sign after the first character.
bool isSingleValue(QStringView typed)
{
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const QChar c = typed[i];
        if (c == u',' || c == u':' || c == u'~' || (c == u'-' && i > 0 && !typed[i - 1].isSpace()))
            return false;
    }
    return typed.trimmed().indexOf(u' ') < 0;
}

std::optional<quint32> entryValue(const QString& entry)
{
    const std::optional<qint32> value = tryParseInt(entry);
    if (!value)
        return std::nullopt;
    return quint32(*value);
}

QString duplicateRefusal(const QString& entry)
{
    return QString::fromLatin1(kCobIdDuplicate).arg(entry);
}

} // namespace

void setVisibility(Filter20A& filter, const QList<IdRange>& ranges, bool visible)
{
    for (const IdRange& range : ranges) {
        for (quint32 id = range.first; id <= range.last && id < quint32(kStandardIdCount); ++id)
            filter.IdVisible[id] = visible ? 1 : 0;
    }
}

int visibleCount(const Filter20A& filter)
{
    return int(std::count_if(filter.IdVisible.begin(), filter.IdVisible.end(),
                             [](quint8 entry) { return entry != 0; }));
}

QString visibleCountText(int visible)
{
    return QStringLiteral("%1 of %2 visible").arg(visible).arg(kStandardIdCount);
}

CobIdAddition addCobIds(const QStringList& entries, QStringView typed, NumberBase base)
{
    CobIdAddition result{entries, {}};
    QList<QString> candidates;
    if (isSingleValue(typed)) {
        candidates.append(typed.toString());
    } else {
        QList<quint32> ids;
        try {
            ids = termIdentifiers(parseIdTerms(typed, IdWidth::Extended), IdWidth::Extended,
                                  kTypedIdentifierLimit);
        } catch (const Error& error) {
            result.refusal = error.message();
            return result;
        }
        for (const quint32 id : ids)
            candidates.append(QString::number(id));
    }
    for (const QString& candidate : candidates) {
        const EntryCheck check = checkCobIdEntry(int(result.entries.size()), candidate, base);
        if (!check.whole()) {
            result.refusal = refusalOf(check);
            return result;
        }
        const std::optional<quint32> value = entryValue(check.value);
        for (const QString& listed : std::as_const(result.entries)) {
            if (entryValue(listed) == value) {
                result.refusal = duplicateRefusal(check.value);
                return result;
            }
        }
        result.entries.append(check.value);
    }
    return result;
}

QString shortPatternRefusal(const QString& typed)
{
    const bool symbolsOnly =
        !typed.isEmpty() && std::all_of(typed.begin(), typed.end(), [](QChar c) {
            return c == u'0' || c == u'1' || c == u'x' || c == u'X';
        });
    if (!symbolsOnly || typed.size() >= kPatternLength)
        return {};
    return QStringLiteral("Pattern %1: a pattern has %2 symbols, this one has %3 (the window "
                          "fills one up with 0 in front; write them out, or use id:mask)")
        .arg(typed)
        .arg(kPatternLength)
        .arg(typed.size());
}

CobIdAddition addPattern(const QStringList& patterns, const QString& typed)
{
    CobIdAddition result{patterns, {}};
    // The list's own limit comes first, as it always did.
    EntryCheck check = checkPatternEntry(int(patterns.size()), QString());
    if (check.whole()) {
        try {
            check = checkPatternEntry(int(patterns.size()), patternFromIdMask(typed));
        } catch (const Error& error) {
            result.refusal = error.message();
            return result;
        }
    }
    if (!check.whole())
        result.refusal = refusalOf(check);
    else
        result.entries.append(check.value);
    return result;
}

void setCobIdList(Filter20B& filter, QStringView typed, bool positive)
{
    // "ADD" reads one number as a 32-bit integer, which turns "-0xFFFFFFF0" into 16; a list given
    // whole refuses a minus sign, as the identifier notation does.
    if (isSingleValue(typed) && typed.trimmed().startsWith(u'-'))
        throw Error(QString::fromLatin1(kCobIdOutOfRange));
    const CobIdAddition added =
        typed.trimmed().isEmpty() ? CobIdAddition{} : addCobIds({}, typed, NumberBase::Decimal);
    if (!added.refusal.isEmpty())
        throw Error(added.refusal);
    filter.cobIdFilter = true;
    filter.typePositive = positive;
    filter.cobIds = added.entries;
}

void setPatternList(Filter20B& filter, const QString& typed)
{
    CobIdAddition added;
    for (const QString& pattern : typed.split(u',', Qt::SkipEmptyParts)) {
        const QString refusal = shortPatternRefusal(pattern.trimmed());
        if (!refusal.isEmpty())
            throw Error(refusal);
        added = addPattern(added.entries, pattern.trimmed());
        if (!added.refusal.isEmpty())
            throw Error(added.refusal);
    }
    filter.cobIdFilter = false;
    filter.patterns = added.entries;
}

QList<quint32> cobIdValues(const QStringList& entries)
{
    QList<quint32> values;
    for (const QString& entry : entries) {
        if (const std::optional<quint32> value = entryValue(entry))
            values.append(*value);
    }
    return values;
}

Filter20B filter20BOfForm(const FilterForm& form, const Filter20B& settings)
{
    Filter20B filter;
    filter.cobIdFilter = form.identifierList;
    filter.typePositive = form.identifierList ? true : settings.typePositive;
    for (const quint32 id : form.identifiers)
        filter.cobIds.append(cobIdText(qint32(id), NumberBase::Decimal));
    for (const IdPattern& pattern : form.fit.patterns)
        filter.patterns.append(idPatternText(pattern));
    return filter;
}

QString fitSummary(const PatternFit& fit, QList<quint32> identifiers)
{
    // An identifier typed or listed twice is one identifier.
    std::sort(identifiers.begin(), identifiers.end());
    const quint64 identifierCount = rangeCount(rangesOf(identifiers));
    return QStringLiteral("%1 %2 for the %3 %4; extra identifiers passed: %5")
        .arg(fit.patterns.size())
        .arg(fit.patterns.size() == 1 ? QStringLiteral("pattern") : QStringLiteral("patterns"))
        .arg(identifierCount)
        .arg(identifierCount == 1 ? QStringLiteral("identifier") : QStringLiteral("identifiers"))
        .arg(fit.extras);
}

QString broadPatternsWarning(const QList<IdPattern>& patterns, quint64 setSize)
{
    constexpr quint64 kAll = quint64(1) << kPatternLength;
    const quint64 passed = passedCount(patterns);
    if (passed < kAll / 10 * 9 || passed <= setSize)
        return {};
    QString text = QStringLiteral("the patterns pass %1 % of all 29-bit identifiers (%2 of %3): "
                                  "the filter lets almost every extended frame through")
                       .arg(double(passed) * 100.0 / double(kAll), 0, 'f', 1)
                       .arg(passed)
                       .arg(kAll);
    return text;
}

} // namespace quillner
