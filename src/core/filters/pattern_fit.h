#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace quillner {

// A mask pattern as bits: the identifiers whose bits outside `free` equal `value`.
struct IdPattern
{
    quint32 value = 0; // the fixed bits; a free bit is 0 here
    quint32 free = 0;

    bool passes(quint32 id) const { return (id & ~free) == value; }
    quint64 size() const;

    friend bool operator==(const IdPattern&, const IdPattern&) = default;
};

// The pattern of a 29-character text and back ('x' for a free bit).
IdPattern idPatternOf(QStringView pattern);
QString idPatternText(const IdPattern& pattern);

// How many 29-bit identifiers at least one of the patterns passes, counted exactly.
quint64 passedCount(const QList<IdPattern>& patterns);

// How many identifiers the patterns pass that are not among `ids` (ascending, no duplicates).
quint64 extraCount(const QList<IdPattern>& patterns, const QList<quint32>& ids);

struct PatternFit
{
    QList<IdPattern> patterns;
    quint64 extras = 0; // identifiers passed that are not in the set, the true count
};

// Covers a set of 29-bit identifiers with at most maxPatterns patterns. When some cover of at
// most maxPatterns patterns passes nothing else, the result is one of the smallest such covers:
// the prime patterns of the set are built by merging patterns that differ in one bit and a
// smallest cover of them is searched. When none exists, or the search is too large to finish,
// the set is split into patterns so that few extra identifiers pass. The empty set gives no
// pattern.
PatternFit fitPatterns(QList<quint32> ids, int maxPatterns);

// The device's best form for a set of 29-bit identifiers: the identifier list when it holds the
// set (at most 63), else the fitted patterns.
struct FilterForm
{
    bool identifierList = false;
    QList<quint32> identifiers; // ascending, no duplicates
    PatternFit fit;
};

FilterForm chooseFilterForm(QList<quint32> ids, int maxPatterns);

} // namespace quillner
