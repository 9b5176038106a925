#include "core/device/receive_filter.h"

#include "core/device/settings.h"

#include <algorithm>

namespace quillner {

FrameFilter::FrameFilter(const ConfigurationBank& bank) : m_bank(bank)
{
    m_extended = frameFormatOfBankByte(bank[kCanTypeOffset]) == FrameFormat::Extended;
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

FrameVerdict FrameFilter::verdict(quint32 id, bool extended) const
{
    if (extended != m_extended)
        return FrameVerdict::WrongForm;
    bool passes = true;
    if (!m_extended) {
        passes = id < quint32(kStandardIdCount) && identifierVisible(m_bank, int(id));
    } else if (m_filterPresent && m_list) {
        passes = m_identifiers.contains(id) == m_positive;
    } else if (m_filterPresent) {
        passes = std::any_of(m_patterns.begin(), m_patterns.end(),
                             [id](const StoredPattern& pattern) { return pattern.passes(id); });
    }
    return passes ? FrameVerdict::Passed : FrameVerdict::Blocked;
}

} // namespace quillner
