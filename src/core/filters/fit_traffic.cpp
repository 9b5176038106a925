#include "core/filters/fit_traffic.h"

#include "core/filters/id_bitmap.h"
#include "core/filters/mask_pattern.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>

namespace quillner {

namespace {

constexpr int kMostPatterns = 32;
constexpr size_t kMostScannedIds = 8192;
constexpr double kMostPartTests = 5e7;

} // namespace

ExtraTraffic::ExtraTraffic(const RecordedTraffic& traffic, const IdPatternSet& set)
{
    // Each recorded identifier is tested against the parts of a small set; a large set is marked
    // in a bitmap first (if it has none), so that a test is one bit.
    std::shared_ptr<const IdBitmap> bitmap = set.bitmap;
    if (!bitmap && double(set.parts.size()) * double(traffic.framesById.size()) > kMostPartTests) {
        auto marked = std::make_shared<IdBitmap>();
        for (const IdPattern& part : set.parts)
            marked->add(part);
        bitmap = std::move(marked);
    }
    std::vector<std::pair<quint32, quint64>> outside;
    for (auto it = traffic.framesById.cbegin(); it != traffic.framesById.cend(); ++it) {
        if (!(bitmap ? bitmap->contains(it.key()) : set.contains(it.key())))
            outside.push_back({it.key(), it.value()});
    }
    std::sort(outside.begin(), outside.end());
    m_running.push_back(0);
    for (const auto& [id, frames] : outside) {
        m_ids.push_back(id);
        m_frames.push_back(frames);
        m_running.push_back(m_running.back() + frames);
    }
    m_passed.assign(m_ids.size(), 0);
}

quint64 ExtraTraffic::framesIn(const IdPattern* patterns, int count) const
{
    Q_ASSERT(count <= kMostPatterns);
    // Few recorded identifiers are tested one by one, in a loop the compiler makes wide; many are
    // searched bit by bit, which looks only where the patterns reach.
    if (m_ids.size() <= kMostScannedIds) {
        quint64 frames = 0;
        for (int p = 0; p < count; ++p) {
            const quint32 fixed = ~patterns[p].free;
            const quint32 value = patterns[p].value;
            for (size_t i = 0; i < m_ids.size(); ++i)
                m_passed[i] |= quint8((m_ids[i] & fixed) == value);
        }
        for (size_t i = 0; i < m_ids.size(); ++i) {
            frames += m_passed[i] ? m_frames[i] : 0;
            m_passed[i] = 0;
        }
        return frames;
    }
    const quint32 alive = count >= kMostPatterns ? ~0u : (1u << count) - 1;
    return framesUnder(0, qsizetype(m_ids.size()), patterns, alive, kPatternBits);
}

// The identifiers from first to end agree on every bit above `remaining`, and the patterns of
// `alive` agree with them there. Bits are decided from the highest down, so that each split of the
// sorted identifiers is one search.
quint64 ExtraTraffic::framesUnder(qsizetype first, qsizetype end, const IdPattern* patterns,
                                  quint32 alive, quint32 remaining) const
{
    while (first < end && alive != 0) {
        quint32 zero = 0;
        quint32 one = 0;
        const quint32 bit = remaining ? 1u << (31 - std::countl_zero(remaining)) : 0;
        for (quint32 rest = alive; rest != 0; rest &= rest - 1) {
            const int index = std::countr_zero(rest);
            const IdPattern& pattern = patterns[index];
            if ((pattern.free & remaining) == remaining)
                return m_running[size_t(end)] - m_running[size_t(first)];
            if (pattern.free & bit) {
                zero |= 1u << index;
                one |= 1u << index;
            } else {
                ((pattern.value & bit) ? one : zero) |= 1u << index;
            }
        }
        const auto split = std::partition_point(m_ids.begin() + first, m_ids.begin() + end,
                                                [bit](quint32 id) { return !(id & bit); });
        const qsizetype middle = split - m_ids.begin();
        remaining &= ~bit;
        if (one == 0 || middle == end) {
            end = middle;
            alive = zero;
            continue;
        }
        if (zero == 0 || middle == first) {
            first = middle;
            alive = one;
            continue;
        }
        return framesUnder(first, middle, patterns, zero, remaining) +
               framesUnder(middle, end, patterns, one, remaining);
    }
    return 0;
}

} // namespace quillner
