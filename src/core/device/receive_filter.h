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

    // The CAN 2.0B filter an extended identifier meets, as the device reads it: no filter for
    // CAN 2.0A.
    const BankFilter& bankFilter() const { return m_filter; }

private:
    ConfigurationBank m_bank;
    bool m_extended = false;
    bool m_remoteFrames = false;
    BankFilter m_filter;
};

} // namespace quillner
