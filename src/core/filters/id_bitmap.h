#pragma once

#include "core/filters/id_pattern.h"

#include <QList>

#include <vector>

namespace quillner {

// One bit for each of the 2^29 identifiers (64 MiB): the count of a union of patterns that
// overlap in too many ways to be cut into disjoint parts. A pattern is written a 64-bit word at a
// time, so its cost is the number of words its free bits above bit 5 reach.
class IdBitmap
{
public:
    IdBitmap();

    static quint64 wordsOf(const IdPattern& pattern);
    void add(const IdPattern& pattern);

    quint64 count() const;
    quint64 countWithin(const IdPattern& pattern) const;
    bool contains(quint32 id) const { return m_words[id >> 6] >> (id & 63) & 1; }
    // The identifiers, ascending.
    QList<quint32> identifiers() const;

private:
    std::vector<quint64> m_words;
};

} // namespace quillner
