#include "core/filters/stored_entries.h"

#include "core/device/identifier_text.h"
#include "core/filters/filter_edits.h"
#include "core/filters/identifier_set.h"

namespace quillner {

namespace {

QString entriesLine(const QString& label, const QStringList& entries)
{
    return label + QStringLiteral(": ") +
           (entries.isEmpty() ? QStringLiteral("none") : entries.join(QStringLiteral(", ")));
}

} // namespace

QString storedEntriesText(const Filter20A& filter)
{
    QList<quint32> visible;
    for (quint32 id = 0; id < quint32(filter.IdVisible.size()); ++id) {
        if (filter.IdVisible[id] != 0)
            visible.append(id);
    }
    const QString ranges = idSetText(rangesOf(visible));
    return QStringLiteral("Visible: ") + (ranges.isEmpty() ? QStringLiteral("none") : ranges);
}

QString storedEntriesText(const Filter20B& filter)
{
    if (!filter.cobIdFilter)
        return entriesLine(QStringLiteral("Patterns"), filter.patterns);
    QStringList identifiers;
    for (const quint32 id : cobIdValues(filter.cobIds))
        identifiers.append(identifierText(id, true));
    return entriesLine(QStringLiteral("Identifiers"), identifiers);
}

} // namespace quillner
