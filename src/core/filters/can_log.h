#pragma once

#include "core/app/problems.h"
#include "core/device/receive_filter.h"

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
