#pragma once

#include "core/device/configuration_bank.h"

#include <QList>

#include <utility>

namespace quillner {

enum class FrameVerdict { Passed, Blocked, WrongForm };

// The receive filter of a configuration bank, as the device applies it to a received frame.
// A frame whose identifier form is not the bank's CAN frame format is never received
// (WrongForm). CAN 2.0A: the identifier's bit in the bitmap. CAN 2.0B without filter entries:
// every extended frame; the identifier list: listed identifiers for a positive list, the others
// for a negative one; the patterns: an identifier that one pattern passes. At most the words the
// device reads are used.
class FrameFilter
{
public:
    explicit FrameFilter(const ConfigurationBank& bank);

    FrameVerdict verdict(quint32 id, bool extended) const;

private:
    ConfigurationBank m_bank;
    bool m_extended = false;
    bool m_filterPresent = false;
    bool m_list = false;
    bool m_positive = false;
    QList<quint32> m_identifiers;
    QList<StoredPattern> m_patterns;
};

} // namespace quillner
