#include "core/logs/frame_tally.h"
#include "core/device/identifier_text.h"

#include "core/app/counted_noun.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <bit>

namespace quillner {

namespace {

struct IdentifierCounts
{
    quint32 id;
    bool extended;
    FilterTally::Counts counts;
};

// Every identifier met, standard ones first, each form ascending.
QList<IdentifierCounts> countsInOrder(const FilterTally& tally)
{
    QList<IdentifierCounts> result;
    for (quint32 id = 0; id < quint32(tally.standard.size()); ++id) {
        const FilterTally::Counts& counts = tally.standard[id];
        if (counts.passed + counts.blocked > 0)
            result.append({id, false, counts});
    }
    const qsizetype standardCount = result.size();
    for (const ExtendedTally::Entry& entry : tally.extended.entries())
        result.append({entry.id, true, entry.counts});
    std::sort(result.begin() + standardCount, result.end(),
              [](const IdentifierCounts& a, const IdentifierCounts& b) { return a.id < b.id; });
    return result;
}

// Why frames of one identifier were blocked besides the filter: "(extended frame on a CAN
// 2.0A gateway; 2 remote frames, while remote frames are off)".
QString reasonsText(const FilterTally::Counts& counts, bool extended)
{
    QStringList reasons;
    if (counts.wrongForm)
        reasons << (extended ? QStringLiteral("extended frame on a CAN 2.0A gateway")
                             : QStringLiteral("standard frame on a CAN 2.0B gateway"));
    if (counts.remote > 0)
        reasons << counted(qint64(counts.remote), "remote frame") +
                       QStringLiteral(", while remote frames are off");
    if (counts.fd > 0)
        reasons << counted(qint64(counts.fd), "CAN FD frame") +
                       QStringLiteral(", which a classic CAN controller does not receive");
    return reasons.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reasons.join(u"; "));
}

QJsonObject countsJson(const FilterTally::Counts& counts)
{
    return {{QStringLiteral("passed"), qint64(counts.passed)},
            {QStringLiteral("blocked"), qint64(counts.blocked)},
            {QStringLiteral("remote"), qint64(counts.remote)},
            {QStringLiteral("fd"), qint64(counts.fd)},
            {QStringLiteral("wrongForm"), counts.wrongForm}};
}

} // namespace

QString groupedNumber(quint64 number)
{
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return digits;
}

void IdentifierTally::add(const IdentifierTally& other)
{
    passed += other.passed;
    blocked += other.blocked;
    remote += other.remote;
    fd += other.fd;
    wrongForm = wrongForm || other.wrongForm;
}

IdentifierTally& ExtendedTally::insert(quint32 id)
{
    // At most half the slots taken, so that a search ends after a few.
    if (2 * (m_entries.size() + 1) > m_slots.size()) {
        const size_t slots = std::max<size_t>(256, 2 * m_slots.size());
        m_slots.assign(slots, 0);
        m_shift = 32 - std::countr_zero(slots);
        for (size_t place = 0; place < m_entries.size(); ++place) {
            size_t slot = slotOf(m_entries[place].id);
            while (m_slots[slot] != 0)
                slot = (slot + 1) & (slots - 1);
            m_slots[slot] = quint32(place + 1);
        }
    }
    size_t slot = slotOf(id);
    while (m_slots[slot] != 0)
        slot = (slot + 1) & (m_slots.size() - 1);
    m_entries.push_back({id, {}});
    m_slots[slot] = quint32(m_entries.size());
    return m_entries.back().counts;
}

void FilterTally::addBlocked(Counts& counts, FrameVerdict verdict)
{
    ++counts.blocked;
    ++blocked;
    switch (verdict) {
    case FrameVerdict::WrongForm:
        counts.wrongForm = true;
        ++wrongForm;
        break;
    case FrameVerdict::Remote:
        ++counts.remote;
        ++remote;
        break;
    case FrameVerdict::CanFd:
        ++counts.fd;
        ++fd;
        break;
    default:
        break;
    }
}

bool FilterTally::listsEveryIdentifier() const
{
    return otherExtended.passed + otherExtended.blocked == 0;
}

void FilterTally::addLater(const FilterTally& later)
{
    Q_ASSERT(later.listsEveryIdentifier());
    for (size_t id = 0; id < standard.size(); ++id)
        standard[id].add(later.standard[id]);
    // In the order the later frames met them, as each would have come here.
    for (const ExtendedTally::Entry& entry : later.extended.entries())
        extendedCounts(entry.id).add(entry.counts);
    passed += later.passed;
    blocked += later.blocked;
    wrongForm += later.wrongForm;
    remote += later.remote;
    fd += later.fd;
    errors += later.errors;
    unreadable += later.unreadable;
    recordings += later.recordings;
}

void FilterTally::addReading(const LogReading& reading)
{
    errors += quint64(reading.errorFrames);
    unreadable += quint64(reading.unreadableCount);
    LogReading summary = reading;
    summary.unreadable.clear();
    recordings.append(summary);
}

QString filterTallyText(const FilterTally& tally)
{
    QStringList lines;
    for (const IdentifierCounts& entry : countsInOrder(tally)) {
        lines << QStringLiteral("%1 passed %2 blocked %3%4")
                     .arg(identifierText(entry.id, entry.extended))
                     .arg(entry.counts.passed)
                     .arg(entry.counts.blocked)
                     .arg(reasonsText(entry.counts, entry.extended));
    }
    const FilterTally::Counts& others = tally.otherExtended;
    if (others.passed + others.blocked > 0) {
        lines << QStringLiteral("other extended identifiers passed %1 blocked %2%3 (those met "
                                "after %4 others, counted together)")
                     .arg(others.passed)
                     .arg(others.blocked)
                     .arg(reasonsText(others, true))
                     .arg(groupedNumber(quint64(kListedExtendedIds)));
    }
    for (const LogReading& reading : tally.recordings) {
        QString counts = groupedNumber(quint64(reading.frames)) + u' ' +
                         nounFor(qint64(reading.frames), "frame");
        if (reading.errorFrames > 0)
            counts += QStringLiteral(", ") + counted(qint64(reading.errorFrames), "error frame");
        if (reading.cutShortAt >= 0)
            counts += QStringLiteral(", cut short at byte %1").arg(reading.cutShortAt);
        lines
            << QStringLiteral("Read: %1 (%2, %3)").arg(reading.name, reading.formatText(), counts);
    }
    lines << QStringLiteral("Total: %1, %2 passed, %3 blocked (%4 of another identifier form, %5 "
                            "remote, %6 CAN FD), %7, %8")
                 .arg(counted(qint64(tally.passed + tally.blocked), "frame"))
                 .arg(tally.passed)
                 .arg(tally.blocked)
                 .arg(tally.wrongForm)
                 .arg(tally.remote)
                 .arg(tally.fd)
                 .arg(counted(qint64(tally.errors), "error frame"),
                      counted(qint64(tally.unreadable), "unreadable line"));
    return lines.join(u'\n') + u'\n';
}

QJsonObject filterTallyJson(const FilterTally& tally)
{
    QJsonArray identifiers;
    for (const IdentifierCounts& entry : countsInOrder(tally)) {
        QJsonObject object = countsJson(entry.counts);
        object.insert(QStringLiteral("id"), qint64(entry.id));
        object.insert(QStringLiteral("text"), identifierText(entry.id, entry.extended));
        object.insert(QStringLiteral("extended"), entry.extended);
        identifiers.append(object);
    }
    QJsonArray recordings;
    for (const LogReading& reading : tally.recordings) {
        recordings.append(
            QJsonObject{{QStringLiteral("file"), reading.name},
                        {QStringLiteral("format"), logFormatName(reading.format)},
                        {QStringLiteral("version"), reading.version},
                        {QStringLiteral("compressed"), reading.compressed},
                        {QStringLiteral("frames"), reading.frames},
                        {QStringLiteral("errorFrames"), reading.errorFrames},
                        {QStringLiteral("unreadable"), reading.unreadableCount},
                        {QStringLiteral("cutShortAt"),
                         reading.cutShortAt >= 0 ? QJsonValue(reading.cutShortAt) : QJsonValue()}});
    }
    QJsonObject json{{QStringLiteral("identifiers"), identifiers},
                     {QStringLiteral("frames"), qint64(tally.passed + tally.blocked)},
                     {QStringLiteral("passed"), qint64(tally.passed)},
                     {QStringLiteral("blocked"), qint64(tally.blocked)},
                     {QStringLiteral("wrongForm"), qint64(tally.wrongForm)},
                     {QStringLiteral("remote"), qint64(tally.remote)},
                     {QStringLiteral("fd"), qint64(tally.fd)},
                     {QStringLiteral("error"), qint64(tally.errors)},
                     {QStringLiteral("unreadable"), qint64(tally.unreadable)},
                     {QStringLiteral("recordings"), recordings}};
    const FilterTally::Counts& others = tally.otherExtended;
    if (others.passed + others.blocked > 0) {
        QJsonObject object = countsJson(others);
        object.insert(QStringLiteral("after"), qint64(kListedExtendedIds));
        json.insert(QStringLiteral("otherExtendedIdentifiers"), object);
    }
    return json;
}

} // namespace quillner
