#pragma once

#include "core/logs/log_frame.h"

#include <QtEndian>

#include <array>

namespace quillner::blf {

// Little-endian fields, read as the machine loads them.
inline quint16 u16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}

inline quint32 u32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

inline quint64 u64(const char* p)
{
    return qFromLittleEndian<quint64>(p);
}

// "LOBJ" as a little-endian word.
inline constexpr quint32 kObjectSignature = 0x4A424F4Cu;
inline constexpr qsizetype kBaseHeaderBytes = 16; // "LOBJ", header size, version, size, type
// Zero bytes that may stand between objects: the padding writers add.
inline constexpr int kMaxPadding = 7;
inline constexpr qsizetype kMaxObjectHeaderBytes = 64;
// The fields read of each frame object after its header: the classic message's 16 bytes, the
// CAN FD message's 20 and 64 data bytes, the 64-byte CAN FD message's 40 and 64 data bytes.
inline constexpr qsizetype kMaxFieldBytes = 104;

struct ObjectHeader
{
    quint16 headerBytes = 0;
    quint16 version = 0;
    quint32 size = 0;
    quint32 type = 0;
};

// The stream of objects the log containers hold, fed a piece at a time. An object that lies whole
// in a piece is read where it lies; only the start of one that goes on into the next piece is
// copied. Frames go to the visitor, counts to the reading.
class BlfObjectStream
{
public:
    BlfObjectStream(const LogVisitor& visitor, LogReading& reading)
        : m_visitor(visitor), m_reading(reading)
    {
    }

    // The next piece's data are of the log container at that byte of the file.
    void startContainer(qint64 containerByte)
    {
        m_containerByte = containerByte;
        m_offset = 0;
    }

    // Takes nothing once ended.
    void feed(const char* data, qsizetype size);

    // The end of the data: nothing may be left unfinished.
    void finish();

    // Whether the objects end here: one is damaged, or the visitor stopped the reading.
    bool ended() const { return m_ended; }
    // Why the objects ended: the damaged object, named. Empty when they did not, or the visitor
    // stopped them.
    const Problems& problems() const { return m_problems; }

private:
    // Ends the objects at the damaged one.
    Q_DECL_COLD_FUNCTION void fail(const QString& text);

    ObjectHeader baseHeader(const char* p);

    // Whether the object is a frame or error frame read here: a frame type behind a header
    // version known and a header of at most kMaxObjectHeaderBytes.
    static bool isRead(const ObjectHeader& header);

    // The bytes of the object at p that are read: its base header, and for a frame the header
    // its version gives and its fields as far as the object holds them.
    qsizetype headNeed(const char* p, ObjectHeader& header);

    qsizetype takeIntoHead(const char* data, qsizetype size);

    // The object whose first `length` bytes lie at p; the rest of it is passed over.
    void takeObject(const char* p, qsizetype length, const ObjectHeader& header);

    // A frame object that cannot be judged, listed with its number and why.
    void countUnreadable(qint64 number, const QString& reason);

    const LogVisitor& m_visitor;
    LogReading& m_reading;
    std::array<char, kMaxObjectHeaderBytes + kMaxFieldBytes> m_head{};
    qsizetype m_headLength = 0;
    qint64 m_skip = 0; // what remains of the current object
    int m_zeroRun = 0;
    qint64 m_containerByte = 0;
    qint64 m_offset = 0; // in the container's data
    qint64 m_objectNumber = 0;
    qint64 m_objectContainer = 0;
    qint64 m_objectOffset = 0;
    bool m_ended = false;
    Problems m_problems;
};

} // namespace quillner::blf
