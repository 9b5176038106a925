#pragma once

#include "core/app/problems.h"
#include "core/firmware/configuration_bank.h"

#include <QByteArrayView>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <vector>

namespace quillner {

// One frame of a recording, as the log wrote it.
struct LogFrame
{
    quint32 id = 0;
    bool extended = false; // a 29-bit identifier
    bool remote = false;
    bool fd = false;       // a CAN FD frame ("##" in candump, "CANFD" in ASC)
    QByteArrayView line;   // the frame's line without its line end, valid during the call
    qint64 lineNumber = 0; // counted from 1
};

enum class LogFormat { Candump, VectorAsc };

struct LogReading
{
    LogFormat format = LogFormat::Candump;
    qint64 lines = 0;
    qint64 frames = 0;
    qint64 unreadableCount = 0; // candump lines that are no frame
    Problems unreadable;        // the first of them, with their line numbers
};

struct LogVisitor
{
    std::function<void(const LogFrame&)> frame;
    // Every line that is no frame (an ASC header, an event, a comment), without its line end.
    std::function<void(QByteArrayView line)> otherLine;
    // Called once, as soon as the first line that is not blank tells the format.
    std::function<void(LogFormat)> formatKnown;
};

// Reads a candump log ("(1700000000.123456) can0 123#DEADBEEF", "…#R", 8 hex digits for an
// extended identifier, "##" for CAN FD) or a Vector ASC log ("base hex|dec" header, frame lines
// "0.001 1 123 Rx d 8 …", an "x" after an extended identifier, "CANFD" lines); the format is
// told by the first line that is not blank: candump lines begin with "(". The file is read in
// pieces, so memory stays the same whatever its size. Throws when the file cannot be read.
LogReading readCanLog(const QString& path, const LogVisitor& visitor);

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
    QList<std::pair<quint32, quint32>> m_patterns; // (fixed bits, their values)
};

// Frames of recordings counted by identifier and verdict.
struct FilterTally
{
    struct Counts
    {
        quint64 passed = 0;
        quint64 blocked = 0;
        bool wrongForm = false;
    };
    // By identifier: standard ones in a table, extended ones as they are met.
    std::vector<Counts> standard = std::vector<Counts>(kStandardIdCount);
    QHash<quint32, Counts> extended;
    quint64 passed = 0;
    quint64 blocked = 0; // wrong-form frames included
    quint64 wrongForm = 0;
    quint64 unreadable = 0;

    void add(const LogFrame& frame, FrameVerdict verdict);
};

QString filterTallyText(const FilterTally& tally);
QJsonObject filterTallyJson(const FilterTally& tally);

} // namespace quillner
