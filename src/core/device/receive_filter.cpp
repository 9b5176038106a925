#include "core/device/receive_filter.h"

#include "core/device/settings.h"

namespace quillner {

FrameFilter::FrameFilter(const ConfigurationBank& bank) : m_bank(bank)
{
    m_extended = frameFormatOfBank(bank) == FrameFormat::Extended;
    m_remoteFrames = receivesRemoteFrames(bank);
    if (m_extended)
        m_filter = readBankFilter(bank);
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
    const bool passes = m_extended ? m_filter.passes(frame.id)
                                   : frame.id < quint32(kStandardIdCount) &&
                                         identifierVisible(m_bank, int(frame.id));
    return passes ? FrameVerdict::Passed : FrameVerdict::Blocked;
}

FrameVerdict FrameFilter::verdict(quint32 id, bool extended) const
{
    return verdict(BusFrame{id, extended, false, false});
}

} // namespace quillner
