#include "core/device/socketcan_filter.h"

#include "core/device/bank_filter.h"
#include "core/device/settings.h"

#include <algorithm>
#include <bit>

namespace quillner {

namespace {

// The aligned blocks of [first, last]: each a power of two long, starting at a multiple of its
// length, so that one identifier and mask hold it exactly. Appends (first, free bits) pairs.
void appendBlocks(QList<std::pair<quint32, quint32>>& blocks, quint64 first, quint64 last)
{
    while (first <= last) {
        quint64 size = first == 0 ? quint64(1) << 32 : (first & (~first + 1));
        while (first + size - 1 > last)
            size >>= 1;
        blocks.append({quint32(first), quint32(size - 1)});
        first += size;
    }
}

SocketCanFilter blockFilter(quint32 first, quint32 freeBits, bool extended, quint32 rtrBits)
{
    const quint32 idMask = extended ? kCanEffMask : kCanSffMask;
    return {first | (extended ? kCanEffFlag : 0), kCanEffFlag | rtrBits | (idMask & ~freeBits)};
}

} // namespace

QList<SocketCanFilter> socketCanFilters(const ConfigurationBank& bank)
{
    // Remote frames off: the RTR bit is asked for, and must be clear.
    const quint32 rtrBits = receivesRemoteFrames(bank) ? 0 : kCanRtrFlag;
    QList<std::pair<quint32, quint32>> blocks;
    QList<SocketCanFilter> filters;
    if (frameFormatOfBank(bank) == FrameFormat::Standard) {
        for (int id = 0; id < kStandardIdCount; ++id) {
            if (!identifierVisible(bank, id))
                continue;
            int last = id;
            while (last + 1 < kStandardIdCount && identifierVisible(bank, last + 1))
                ++last;
            appendBlocks(blocks, quint64(id), quint64(last));
            id = last;
        }
        for (const auto& [first, freeBits] : blocks)
            filters.append(blockFilter(first, freeBits, false, rtrBits));
        return filters;
    }

    const BankFilter filter = readBankFilter(bank);
    if (filter.kind == BankFilter::Kind::None) {
        filters.append({kCanEffFlag, kCanEffFlag | rtrBits});
        return filters;
    }
    if (filter.kind == BankFilter::Kind::Patterns) {
        for (const StoredPattern& pattern : filter.patterns)
            filters.append(
                {kCanEffFlag | pattern.fixedValues(), kCanEffFlag | rtrBits | pattern.fixedBits()});
        return filters;
    }
    // The list as the device compares it: a word above 29 bits is no identifier of a frame.
    QList<quint32> listed;
    for (const quint32 word : filter.identifiers) {
        if (word <= kCanEffMask)
            listed.append(word);
    }
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    if (filter.positive) {
        for (const quint32 id : std::as_const(listed))
            filters.append(blockFilter(id, 0, true, rtrBits));
        return filters;
    }
    quint64 next = 0;
    for (const quint32 id : std::as_const(listed)) {
        if (id > next)
            appendBlocks(blocks, next, quint64(id) - 1);
        next = quint64(id) + 1;
    }
    if (next <= kCanEffMask)
        appendBlocks(blocks, next, kCanEffMask);
    for (const auto& [first, freeBits] : blocks)
        filters.append(blockFilter(first, freeBits, true, rtrBits));
    return filters;
}

bool socketCanReceives(const QList<SocketCanFilter>& filters, quint32 id, bool extended,
                       bool remote)
{
    const quint32 word = id | (extended ? kCanEffFlag : 0) | (remote ? kCanRtrFlag : 0);
    return std::any_of(filters.begin(), filters.end(), [word](const SocketCanFilter& filter) {
        return (word & filter.canMask) == (filter.canId & filter.canMask);
    });
}

} // namespace quillner
