#pragma once

#include <QList>
#include <QString>

namespace quillner::testing {

// Sets of 29-bit identifiers as buses carry them, made from a seed so that every run sees the
// same ones.
struct FitCase
{
    QString name;
    QList<quint32> ids;
    int maxPatterns = 10;
};

// Identifiers of J1939 traffic: a few source addresses, each sending some of a pool of parameter
// groups (broadcast ones with their group extension, addressed ones to a destination), at
// priority 6 or 3.
QList<quint32> j1939LikeIds(quint32 seed, int count);
// Identifiers spread evenly over the 29 bits.
QList<quint32> uniformIds(quint32 seed, int count);

// The fixed table of 200 sets: J1939-like and uniform sets of 64 to 120 identifiers into 3, 5
// and 10 patterns, and small sets of 3 to 14 identifiers into 1 to 4 patterns.
QList<FitCase> fitCaseTable();

} // namespace quillner::testing
