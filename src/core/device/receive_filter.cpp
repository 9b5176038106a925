#include "core/device/receive_filter.h"

#include "core/device/settings.h"

#include <algorithm>

namespace quillner {

FrameFilter::FrameFilter(const ConfigurationBank& bank) : m_bank(bank)
{
    m_extended = frameFormatOfBank(bank) == FrameFormat::Extended;
    m_remoteFrames = receivesRemoteFrames(bank);
    if (!m_extended)
        return;
    m_filterPresent = bank[kFilterPresentOffset] != 0;
    m_list = bank[kFilterModeOffset] == 1;
    m_positive = bank[kListFunctionOffset] == 1;
    const int count = bank[kEntryCountOffset];
    if (m_list) {
        for (int i = 0; i < std::min(count, kFilterWordCount); ++i)
            m_identifiers.append(filterWord(bank, i));
    } else {
        for (int k = 0; k < std::min(count, kMaxPatterns); ++k)
            m_patterns.append(storedPattern(bank, k));
    }
}

FrameVerdict FrameFilter::verdict(const BusFrame& frame) const
{
    // The controller answers an FD frame with an error frame before its identifier could be
    // taken, so its form and identifier never matter.
    if (frame.fd)
        return FrameVerdict::CanFd;
    if (frame.extended != m_extended)
        return FrameVerdict::WrongForm;
    if (frame.remote && !m_remoteFrames)
        return FrameVerdict::Remote;
    bool passes = true;
    if (!m_extended) {
        passes = frame.id < quint32(kStandardIdCount) && identifierVisible(m_bank, int(frame.id));
    } else if (m_filterPresent && m_list) {
        passes = m_identifiers.contains(frame.id) == m_positive;
    } else if (m_filterPresent) {
        passes =
            std::any_of(m_patterns.begin(), m_patterns.end(),
                        [&](const StoredPattern& pattern) { return pattern.passes(frame.id); });
    }
    return passes ? FrameVerdict::Passed : FrameVerdict::Blocked;
}

FrameVerdict FrameFilter::verdict(quint32 id, bool extended) const
{
    return verdict(BusFrame{id, extended, false, false});
}

} // namespace quillner
