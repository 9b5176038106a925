#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace quillner {

// Standard frames carry 11-bit identifiers (CAN 2.0A), extended frames 29-bit ones (2.0B).
enum class IdWidth { Standard, Extended };

quint32 idMaximum(IdWidth width);

// A run of consecutive identifiers, both ends included.
struct IdRange
{
    quint32 first = 0;
    quint32 last = 0;

    friend bool operator==(const IdRange&, const IdRange&) = default;
};

// One item of the typed text, kept in the order it was typed.
struct IdTerm
{
    enum class Kind { Range, Match, NoMatch };
    Kind kind = Kind::Range;
    quint32 first = 0; // Range: first and last; Match, NoMatch: identifier and mask
    quint32 last = 0;
};

// The identifiers an identifier/mask pair passes, as SocketCAN reads "id:mask": those whose bits
// under the mask equal the identifier's bits there.
QList<IdRange> matchRanges(quint32 id, quint32 mask, IdWidth width);

// Reads identifiers as engineers write them: single numbers, ranges "0x100-0x1FF", id:mask
// "0x600:0x7F0" and its inverse "0x600~0x7F0" (every identifier the pair does not pass),
// separated by commas or blanks. Numbers are read as every typed integer is: decimal, or
// hexadecimal after "$", "x" or "0x". Throws "Column N: 'token' ..." for the first item that
// cannot be read or lies outside the width. Empty text is the empty set.
QList<IdTerm> parseIdTerms(QStringView text, IdWidth width);

// The set of the terms: ascending ranges, neither overlapping nor touching.
QList<IdRange> termRanges(const QList<IdTerm>& terms, IdWidth width);
QList<IdRange> parseIdSet(QStringView text, IdWidth width);

// The identifiers of the terms one by one, in the order typed, each range and each id:mask
// ascending. Throws when there are more than `limit` of them.
QList<quint32> termIdentifiers(const QList<IdTerm>& terms, IdWidth width, qsizetype limit);

// Ranges made of ascending identifiers, duplicates allowed.
QList<IdRange> rangesOf(const QList<quint32>& ascending);
quint64 rangeCount(const QList<IdRange>& ranges);

// The shortest text of the set in this notation: "0x100-0x1FF, 0x7DF"; empty for the empty set.
QString idSetText(const QList<IdRange>& ranges);

// The 29-character pattern of an identifier/mask pair: the masked bits fixed to the identifier's
// bits, the others free ('x').
QString idMaskPattern(quint32 id, quint32 mask);

// A pattern typed as "id:mask" made its 29 characters; any other text unchanged. Throws the
// notation's error for a pair that cannot be read or lies outside 29 bits, and for "id~mask",
// which no single pattern can hold.
QString patternFromIdMask(const QString& typed);

} // namespace quillner
