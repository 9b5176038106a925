#pragma once

#include "core/device/bank_filter.h"
#include "core/device/configuration_bank.h"

#include <QList>

#include <utility>

namespace quillner {

// What the device does with a frame on its bus: it receives it (Passed) or not, and why not.
enum class FrameVerdict {
    Passed,
    Blocked,   // the receive filter does not let the identifier through
    WrongForm, // the identifier form is not the bank's CAN frame format
    Remote,    // a remote frame, while the bank turns remote frames off
    CanFd,     // a CAN FD frame, which the device's classic CAN controller cannot receive
};

// A frame as it travels on the bus. Error frames are no frames the device receives: they carry
// no identifier to judge.
struct BusFrame
{
    quint32 id = 0;
    bool extended = false; // a 29-bit identifier
    bool remote = false;
    bool fd = false;
};

// The receive filter of a configuration bank, as the device applies it to a frame on its bus.
// Its classic CAN controller cannot take a CAN FD frame at all (CanFd); a frame whose identifier
// form is not the bank's CAN frame format is never received (WrongForm); a remote frame is
// dropped while the remote-frames byte is 0 (Remote). What remains meets the filter: CAN 2.0A,
// the identifier's bit in the bitmap; CAN 2.0B without filter entries, every extended frame; the
// identifier list, listed identifiers for a positive list, the others for a negative one; the
// patterns, an identifier that one pattern passes. At most the words the device reads are used.
class FrameFilter
{
public:
    explicit FrameFilter(const ConfigurationBank& bank);

    FrameVerdict verdict(const BusFrame& frame) const;
    // A classic data frame.
    FrameVerdict verdict(quint32 id, bool extended) const;

    // The CAN 2.0B entries an extended identifier is compared with, in the bank's order: the
    // listed identifiers of a list filter, or the patterns; none for CAN 2.0A or without a filter.
    bool isList() const { return m_filterPresent && m_list; }
    bool isPositiveList() const { return m_positive; }
    QList<quint32> listedIdentifiers() const { return isList() ? m_identifiers : QList<quint32>(); }
    QList<StoredPattern> patterns() const
    {
        return m_filterPresent && !m_list ? m_patterns : QList<StoredPattern>();
    }

private:
    ConfigurationBank m_bank;
    bool m_extended = false;
    bool m_remoteFrames = false;
    BankFilter m_filter;
};

} // namespace quillner
