#include "core/filters/filter_edits.h"

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

// The addition stopped by its refusal, with what it took before it.
Result<ListAddition> refusedAddition(ListAddition taken, const QString& refusal)
{
    return {std::move(taken), {Problem{{}, {}, refusal}}, {}};
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

Result<ListAddition> addCobIds(const QStringList& entries, QStringView typed, NumberBase base)
{
    ListAddition taken{entries, false};
    QList<QString> candidates;
    if (isSingleValue(typed)) {
        candidates.append(typed.toString());
    } else {
        const Result<QList<IdTerm>> terms = parseIdTerms(typed, IdWidth::Extended);
        const Result<QList<quint32>> ids =
            terms.whole() ? termIdentifiers(terms.value, IdWidth::Extended, kTypedIdentifierLimit)
                          : Result<QList<quint32>>::failure(terms.problems);
        if (!ids.whole())
            return {std::move(taken), ids.problems, {}};
        for (const quint32 id : ids.value)
            candidates.append(QString::number(id));
    }
    for (const QString& candidate : candidates) {
        const EntryCheck check = checkCobIdEntry(int(taken.entries.size()), candidate, base);
        if (!check.whole()) {
            taken.full = cobIdListFull(taken.entries.size());
            return refusedAddition(std::move(taken), refusalOf(check));
        }
        const std::optional<quint32> value = entryValue(check.value);
        for (const QString& listed : std::as_const(taken.entries)) {
            if (entryValue(listed) == value)
                return refusedAddition(std::move(taken), duplicateRefusal(check.value));
        }
        taken.entries.append(check.value);
    }
    return {std::move(taken), {}, {}};
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

Result<ListAddition> addPattern(const QStringList& patterns, const QString& typed)
{
    ListAddition taken{patterns, patternListFull(patterns.size())};
    // The list's own limit comes first, as it always did.
    EntryCheck check = checkPatternEntry(int(patterns.size()), QString());
    if (check.whole()) {
        const Result<QString> pattern = patternFromIdMask(typed);
        if (!pattern.whole())
            return {std::move(taken), pattern.problems, {}};
        check = checkPatternEntry(int(patterns.size()), pattern.value);
    }
    if (!check.whole())
        return refusedAddition(std::move(taken), refusalOf(check));
    taken.entries.append(check.value);
    return {std::move(taken), {}, {}};
}

Result<ListAddition> setCobIdList(Filter20B& filter, QStringView typed, bool positive)
{
    // "ADD" reads one number as a 32-bit integer, which turns "-0xFFFFFFF0" into 16; a list given
    // whole refuses a minus sign, as the identifier notation does.
    if (isSingleValue(typed) && typed.trimmed().startsWith(u'-'))
        return refusedAddition({}, QString::fromLatin1(kCobIdOutOfRange));
    Result<ListAddition> added = typed.trimmed().isEmpty()
                                     ? Result<ListAddition>{}
                                     : addCobIds({}, typed, NumberBase::Decimal);
    if (!added.whole())
        return added;
    filter.cobIdFilter = true;
    filter.typePositive = positive;
    filter.cobIds = added.value.entries;
    return added;
}

Result<Done> setPatternList(Filter20B& filter, const QString& typed)
{
    QStringList patterns;
    for (const QString& pattern : typed.split(u',', Qt::SkipEmptyParts)) {
        const QString refusal = shortPatternRefusal(pattern.trimmed());
        if (!refusal.isEmpty())
            return Result<Done>::failure({Problem{{}, {}, refusal}});
        Result<ListAddition> added = addPattern(patterns, pattern.trimmed());
        if (!added.whole())
            return Result<Done>::failure(added.problems);
        patterns = std::move(added.value.entries);
    }
    filter.cobIdFilter = false;
    filter.patterns = patterns;
    return {};
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
