#pragma once

#include "core/app/problems.h"
#include "core/device/receive_filter.h"

#include <QByteArrayView>
#include <QString>

#include <functional>

namespace quillner {

// The recordings filter test reads, told apart by their content, never by their names.
enum class LogFormat {
    Candump,       // candump -L: "(1700000000.123456) can0 123#DEADBEEF"
    VectorAsc,     // Vector ASC: "0.001000 1  123  Rx d 4 DE AD BE EF"
    CandumpScreen, // what candump prints on the screen: "  can0  123   [2]  11 22"
    PeakTrc,       // PEAK TRC, versions 1.0 to 2.1
    VectorBlf,     // Vector BLF, binary
    LiveBus,       // frames heard on a CAN interface as they come, not read from a file
};

// "candump log", "Vector ASC", "candump screen output", "PEAK TRC", "Vector BLF", "live CAN bus".
QString logFormatName(LogFormat format);

// A frame's time from the recording's start, whole however far it lies: a BLF stamp in
// nanoseconds reaches 2^64 ns, one in 10 µs units 10 000 times further.
struct FrameTime
{
    quint64 seconds = 0;
    quint32 nanoseconds = 0;

    static FrameTime fromNanoseconds(quint64 count)
    {
        return {count / 1000000000u, quint32(count % 1000000000u)};
    }
    static FrameTime fromTenMicroseconds(quint64 count)
    {
        return {count / 100000u, quint32(count % 100000u) * 10000u};
    }
    double inSeconds() const { return double(seconds) + double(nanoseconds) / 1e9; }
};

// One frame of a recording, as the recording holds it.
struct LogFrame
{
    quint32 id = 0;
    bool extended = false; // a 29-bit identifier
    bool remote = false;
    bool fd = false;       // a CAN FD frame ("##" in candump, "CANFD" in ASC, EDL in BLF)
    QByteArrayView line;   // a text recording's line without its line end, valid during the call
    qint64 lineNumber = 0; // counted from 1; in a BLF file, the object's number
    // A text recording's time of the frame as its line writes it, without parentheses:
    // "1700000000.123456" (candump), "0.001000" (ASC), "1059.900" (TRC, in milliseconds),
    // "2023-11-13 10:00:00.123456" (candump -t A); empty when the line gives none.
    QByteArrayView timeText;
    // A binary recording's frame, for writing it as a candump log line: its channel (from 1),
    // time from the recording's start and data, valid during the call.
    int channel = 1;
    FrameTime time;
    QByteArrayView data;

    BusFrame busFrame() const { return {id, extended, remote, fd}; }
};

struct LogVisitor
{
    std::function<void(const LogFrame&)> frame;
    // Every line that is no frame (a header, a comment, an event, an error frame), without its
    // line end. Binary recordings have none.
    std::function<void(QByteArrayView line)> otherLine;
    // Called once, as soon as the content tells the format.
    std::function<void(LogFormat)> formatKnown;
    // Set by the visitor's own functions to end the reading after the frame or line at hand (a
    // cancellation, a limit met). A reading stopped so is returned as far as it went, neither
    // judged nor refused: the visitor's owner knows why it stopped.
    const bool* stop = nullptr;

    bool stopped() const { return stop && *stop; }
};

// What a recording held.
struct LogReading
{
    QString name; // the file's name, or "standard input"
    LogFormat format = LogFormat::Candump;
    QString version;         // a PEAK TRC file's version ("2.1"); empty for the others
    bool compressed = false; // the recording came gzip-compressed
    qint64 lines = 0;        // a text recording's lines; a BLF file's objects
    qint64 frames = 0;
    qint64 errorFrames = 0;
    qint64 unreadableCount = 0; // lines that are no frame in a format that has nothing else
    Problems unreadable;        // the first of them, with their line numbers
    // Where a recording that ends inside a line or an object ends (its bytes, unpacked); -1 when
    // it ends whole. The frames before are read.
    qint64 cutShortAt = -1;

    // How many unreadable lines or objects are listed in unreadable.
    static constexpr qsizetype kListedUnreadable = 20;

    // Counts one more unreadable line or object; true while it is among the first, which are
    // listed in unreadable.
    bool countUnreadable() { return ++unreadableCount <= kListedUnreadable; }

    // "candump log", "PEAK TRC 2.1", "Vector ASC, gzip".
    QString formatText() const;
};

} // namespace quillner
