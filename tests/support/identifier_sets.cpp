#include "support/identifier_sets.h"

#include <QRandomGenerator>
#include <QSet>

namespace quillner::testing {

namespace {

constexpr quint32 kCommonSources[] = {0x00, 0x01, 0x03, 0x0B, 0x0F, 0x17, 0x21, 0x27,
                                      0x28, 0x31, 0x3D, 0x49, 0x80, 0xE6, 0xF9, 0xFE};

QList<quint32> valuesOf(const QSet<quint32>& set)
{
    QList<quint32> ids = set.values();
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

QList<quint32> j1939LikeIds(quint32 seed, int count)
{
    QRandomGenerator random(seed);
    QList<quint32> sources;
    const int sourceCount = 2 + int(random.bounded(7));
    while (sources.size() < sourceCount) {
        const quint32 source = kCommonSources[random.bounded(int(std::size(kCommonSources)))];
        if (!sources.contains(source))
            sources.append(source);
    }
    // Parameter groups with their priority: pf and ps in bits 16 to 8, priority in bits 28 to 26.
    QList<quint32> groups;
    const int groupCount = count / sourceCount + 1 + int(random.bounded(count / 2 + 1));
    while (groups.size() < groupCount) {
        const quint32 priority = random.bounded(3) == 0 ? 3 : 6;
        quint32 pf = 0;
        quint32 ps = 0;
        if (random.bounded(4) == 0) {
            pf = random.bounded(0xF0);
            ps = random.bounded(2) ? 0xFF : sources[random.bounded(int(sources.size()))];
        } else {
            pf = 0xF0 + random.bounded(0x10);
            ps = random.bounded(0x100);
        }
        const quint32 group = priority << 26 | pf << 16 | ps << 8;
        if (!groups.contains(group))
            groups.append(group);
    }
    QSet<quint32> ids;
    while (ids.size() < count) {
        ids.insert(groups[random.bounded(int(groups.size()))] |
                   sources[random.bounded(int(sources.size()))]);
    }
    return valuesOf(ids);
}

QList<quint32> uniformIds(quint32 seed, int count)
{
    QRandomGenerator random(seed);
    QSet<quint32> ids;
    while (ids.size() < count)
        ids.insert(random.bounded(0x20000000u));
    return valuesOf(ids);
}

QList<FitCase> fitCaseTable()
{
    QList<FitCase> table;
    QRandomGenerator random(20240611);
    const int patternChoices[] = {3, 5, 10};
    for (int i = 0; i < 80; ++i) {
        const int count = 64 + int(random.bounded(57));
        const int patterns = patternChoices[i % 3];
        const quint32 seed = random.generate();
        table.append(
            {QStringLiteral("j1939-like %1: %2 ids into %3").arg(i).arg(count).arg(patterns),
             j1939LikeIds(seed, count), patterns});
    }
    for (int i = 0; i < 80; ++i) {
        const int count = 64 + int(random.bounded(57));
        const int patterns = patternChoices[i % 3];
        const quint32 seed = random.generate();
        table.append({QStringLiteral("uniform %1: %2 ids into %3").arg(i).arg(count).arg(patterns),
                      uniformIds(seed, count), patterns});
    }
    for (int i = 0; i < 40; ++i) {
        const int count = 3 + int(random.bounded(12));
        const int patterns = 1 + int(random.bounded(4));
        const quint32 seed = random.generate();
        table.append({QStringLiteral("small %1: %2 ids into %3").arg(i).arg(count).arg(patterns),
                      i % 2 ? j1939LikeIds(seed, count) : uniformIds(seed, count), patterns});
    }
    return table;
}

} // namespace quillner::testing
