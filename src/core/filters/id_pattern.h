#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <memory>
#include <optional>

namespace quillner {

// A mask pattern as bits: the identifiers whose bits outside `free` equal `value`.
struct IdPattern
{
    quint32 value = 0; // the fixed bits; a free bit is 0 here
    quint32 free = 0;

    bool passes(quint32 id) const { return (id & ~free) == value; }
    // Every identifier of `inner` passes this pattern too.
    bool contains(const IdPattern& inner) const
    {
        return (inner.free & ~free) == 0 && ((inner.value ^ value) & ~free) == 0;
    }
    quint64 size() const;

    friend bool operator==(const IdPattern&, const IdPattern&) = default;
};

// The pattern of a 29-character text and back ('x' for a free bit).
IdPattern idPatternOf(QStringView pattern);
QString idPatternText(const IdPattern& pattern);

// The smallest pattern that passes every identifier of both.
IdPattern enclosingPattern(const IdPattern& a, const IdPattern& b);

// How many identifiers both patterns pass.
quint64 overlapCount(const IdPattern& a, const IdPattern& b);

// How many 29-bit identifiers at least one of the patterns passes, counted exactly.
quint64 passedCount(const QList<IdPattern>& patterns);
// The same for patterns in an array, without allocating for up to 32 of them: fitting counts
// unions this way many thousands of times.
quint64 passedCount(const IdPattern* patterns, int count);

class IdBitmap;

// A set of 29-bit identifiers as patterns. Mostly the parts share no identifier; a union of
// patterns that overlap in too many ways to be cut into few such parts keeps its own patterns
// instead, and a bitmap of every identifier counts it.
struct IdPatternSet
{
    QList<IdPattern> parts;
    quint64 count = 0; // identifiers in the set
    std::shared_ptr<const IdBitmap> bitmap;

    bool overlapping() const { return bitmap != nullptr; }
    // The smallest single pattern that passes the whole set; the empty set gives none.
    std::optional<IdPattern> enclosing() const;
    // How many identifiers of the set the pattern passes.
    quint64 countWithin(const IdPattern& pattern) const;
    bool contains(quint32 id) const;
};

// The union of the patterns as a set: cut into disjoint parts, with neighbouring parts joined
// where they make one pattern, unless that takes more than kMostDisjointParts parts; then the
// patterns themselves with a bitmap. Empty when even the bitmap would take too long to fill.
inline constexpr qsizetype kMostDisjointParts = 1 << 18;
std::optional<IdPatternSet> patternSetOf(const QList<IdPattern>& patterns);
IdPatternSet patternSetOfIds(const QList<quint32>& ids);

// The identifiers of the set, ascending.
QList<quint32> identifiersOf(const IdPatternSet& set);

} // namespace quillner
