#include "core/filters/filter_entries.h"

#include "core/app/hex_text.h"
#include "core/app/int_parse.h"
#include "core/filters/mask_pattern.h"

namespace quillner {

namespace {

EntryCheck refused(const QString& refusal)
{
    return {{}, {Problem{{}, {}, refusal}}, {}};
}

} // namespace

QString refusalOf(const EntryCheck& check)
{
    return check.whole() ? QString() : check.problems.first().text;
}

QString standardIdText(int id, NumberBase base)
{
    if (base == NumberBase::Decimal)
        return QString::number(id);
    return QStringLiteral("0x") + hex::upperText(id, 4);
}

QString cobIdText(qint32 value, NumberBase base)
{
    if (base == NumberBase::Decimal)
        return QString::number(value);
    return u'$' + hex::upperText(quint32(value), 8);
}

QString convertCobIdEntry(const QString& entry, NumberBase base)
{
    return cobIdText(parseIntStrict(entry), base);
}

EntryCheck checkCobIdEntry(int listCount, QStringView typed, NumberBase base)
{
    if (cobIdListFull(listCount))
        return refused(QString::fromLatin1(kAllFilterInUse));
    // Text that is no integer takes the first value past the range, so it is refused with it.
    const quint32 value = quint32(parseIntLenient(typed, qint32(kExtendedIdMax + 1)));
    if (value > kExtendedIdMax)
        return refused(QString::fromLatin1(kCobIdOutOfRange));
    return {cobIdText(qint32(value), base), {}, {}};
}

EntryCheck checkPatternEntry(int listCount, const QString& typed)
{
    if (patternListFull(listCount))
        return refused(QString::fromLatin1(kAllFilterInUse));
    if (typed.size() > kPatternLength)
        return refused(QString::fromLatin1(kPatternTooLong));
    for (const QChar c : typed) {
        if (c != u'1' && c != u'0' && c != u'x' && c != u'X') {
            return refused(QStringLiteral("Error! The simbol '") + c +
                           QStringLiteral("' is not supported. You have to use only these simbol "
                                          "'1', '0', 'x', 'X'"));
        }
    }
    return {PadPattern(typed), {}, {}};
}

} // namespace quillner
