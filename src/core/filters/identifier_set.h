#pragma once

#include "core/app/result.h"
#include "core/filters/id_pattern.h"

#include <QList>
#include <QString>
#include <QStringView>

namespace quillner {

// Standard frames carry 11-bit identifiers (CAN 2.0A), extended frames 29-bit ones (2.0B).
enum class IdWidth { Standard, Extended };

quint32 idMaximum(IdWidth width);

// More items than this in one text are refused: a list of identifiers is never that long, and
// what is kept of each item stays bounded.
inline constexpr qsizetype kMostIdTerms = 1 << 18;

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
    QString text;         // as typed, for the message that refuses it later
    qsizetype column = 0; // counted from 1
};

// The identifiers an identifier/mask pair passes, as SocketCAN reads "id:mask": those whose bits
// under the mask equal the identifier's bits there.
QList<IdRange> matchRanges(quint32 id, quint32 mask, IdWidth width);

// Reads identifiers as engineers write them: single numbers, ranges "0x100-0x1FF", id:mask
// "0x600:0x7F0" and its inverse "0x600~0x7F0" (every identifier the pair does not pass),
// separated by commas or blanks. Single numbers and range ends are read as every typed integer
// is: decimal, or hexadecimal after "$", "x" or "0x"; a minus sign is refused. Both numbers of a
// pair are hexadecimal as candump writes them, "0x" optional: "123:7FF" is 0x123/0x7FF. The
// first item that cannot be read or lies outside the width is refused at its column ("Column N:
// 'token' ..."). Empty text is the empty set; more than kMostIdTerms items are refused.
Result<QList<IdTerm>> parseIdTerms(QStringView text, IdWidth width);

// The set of the terms: ascending ranges, neither overlapping nor touching. An id:mask whose
// identifiers lie in more separate ranges than anyone can use is refused.
Result<QList<IdRange>> termRanges(const QList<IdTerm>& terms, IdWidth width);
Result<QList<IdRange>> parseIdSet(QStringView text, IdWidth width);

// The identifiers of the terms one by one, in the order typed, each range and each id:mask
// ascending. Refused when there are more than `limit` of them, before any is made.
Result<QList<quint32>> termIdentifiers(const QList<IdTerm>& terms, IdWidth width, qsizetype limit);

// How many identifiers the terms name, each counted once; refused as termPatternSet refuses.
Result<quint64> termCount(const QList<IdTerm>& terms, IdWidth width);

// The set of the terms as patterns, an id:mask kept whole however many identifiers it passes.
// Refused when the terms take too many patterns to write, or when the patterns overlap in too
// many ways to be counted in time.
Result<IdPatternSet> termPatternSet(const QList<IdTerm>& terms, IdWidth width);

// The text of a file of identifiers, read with a bound on each line and on the whole, so that a
// device that never ends (/dev/zero) is refused with the reason instead of filling the memory. A
// file that cannot be opened or read is refused with the system's reason.
Result<QString> readIdentifierFile(const QString& path);

// Ranges made of ascending identifiers, duplicates allowed.
QList<IdRange> rangesOf(const QList<quint32>& ascending);
quint64 rangeCount(const QList<IdRange>& ranges);

// The shortest text of the set in this notation: "0x100-0x1FF, 0x7DF"; empty for the empty set.
QString idSetText(const QList<IdRange>& ranges);

// The 29-character pattern of an identifier/mask pair: the masked bits fixed to the identifier's
// bits, the others free ('x').
QString idMaskPattern(quint32 id, quint32 mask);

// A pattern typed as "id:mask" made its 29 characters; any other text unchanged. Refused with
// the notation's error for a pair that cannot be read or lies outside 29 bits, and for
// "id~mask", which no single pattern can hold.
Result<QString> patternFromIdMask(const QString& typed);

} // namespace quillner
