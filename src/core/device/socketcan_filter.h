#pragma once

#include "core/device/configuration_bank.h"

#include <QList>

namespace quillner {

// SocketCAN's receive filters (struct can_filter), which candump, python-can and the C API all
// take: a frame is received when for one of the filters the frame's identifier word masked by
// can_mask equals can_id masked by can_mask. The word holds the identifier (11 or 29 bits) with
// CAN_EFF_FLAG for an extended frame and CAN_RTR_FLAG for a remote one.
inline constexpr quint32 kCanEffFlag = 0x80000000u;
inline constexpr quint32 kCanRtrFlag = 0x40000000u;
inline constexpr quint32 kCanSffMask = 0x000007FFu;
inline constexpr quint32 kCanEffMask = kExtendedIdMax;

struct SocketCanFilter
{
    quint32 canId = 0;
    quint32 canMask = 0;

    bool extended() const { return (canId & kCanEffFlag) != 0; }
    // Whether the filter asks for data frames only.
    bool dataOnly() const { return (canMask & kCanRtrFlag) != 0 && (canId & kCanRtrFlag) == 0; }

    friend bool operator==(const SocketCanFilter&, const SocketCanFilter&) = default;
};

// The device's receive filter as SocketCAN filters, for a classic CAN socket: every filter names
// the frame format, so that a frame of the other form never passes; while the bank turns remote
// frames off every filter asks for data frames only. A 2.0A bitmap becomes the fewest aligned
// blocks of identifiers; a 2.0B list one filter per listed identifier, or for a negative list the
// blocks of every identifier it does not list; mask patterns one filter each; no 2.0B entries one
// filter for every extended frame. A bitmap with no identifier visible gives no filter.
QList<SocketCanFilter> socketCanFilters(const ConfigurationBank& bank);

// Whether SocketCAN lets a classic frame through the filters.
bool socketCanReceives(const QList<SocketCanFilter>& filters, quint32 id, bool extended,
                       bool remote);

} // namespace quillner
