#include "core/logs/recorded_traffic.h"

#include "core/app/error.h"
#include "core/logs/input_stream.h"
#include "core/logs/recording.h"

#include <algorithm>

namespace quillner {

namespace {

// Beyond this many distinct identifiers the counts alone would take more memory than the fit is
// worth; a recording of real traffic holds a few thousand.
constexpr qsizetype kMostDistinctIds = 1 << 20;

// The time at the start of a recorded line: "(1700000000.123456)" in candump, "0.001000" in ASC.
std::optional<double> lineSeconds(QByteArrayView line)
{
    qsizetype start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    const bool bracketed = start < line.size() && line[start] == '(';
    if (bracketed)
        ++start;
    qsizetype end = start;
    while (end < line.size() && ((line[end] >= '0' && line[end] <= '9') || line[end] == '.'))
        ++end;
    if (end == start || (bracketed && (end >= line.size() || line[end] != ')')))
        return std::nullopt;
    bool ok = false;
    const double seconds = line.sliced(start, end - start).toByteArray().toDouble(&ok);
    return ok ? std::optional<double>(seconds) : std::nullopt;
}

} // namespace

RecordedTraffic readRecordedTraffic(const QString& path, CutShort cutShort)
{
    RecordedTraffic traffic;
    std::optional<double> first;
    std::optional<double> last;
    bool timed = true;
    LogVisitor visitor;
    // Only these begin a frame's line with its time in seconds (or give it, for BLF): a TRC line
    // begins with the message's number, candump's screen output may hold the gaps between frames.
    visitor.formatKnown = [&](LogFormat format) {
        timed = format == LogFormat::Candump || format == LogFormat::VectorAsc ||
                format == LogFormat::VectorBlf;
    };
    visitor.frame = [&](const LogFrame& frame) {
        if (!frame.extended || frame.fd)
            return;
        quint64& count = traffic.framesById[frame.id];
        if (count == 0 && traffic.framesById.size() > kMostDistinctIds)
            throw Error(QStringLiteral("%1 holds more than %2 distinct extended identifiers; a "
                                       "fit weighs at most that many")
                            .arg(recordingName(path))
                            .arg(kMostDistinctIds));
        ++count;
        ++traffic.frames;
        if (!timed)
            return;
        // A binary recording gives each frame's time; a text one holds it at its line's start.
        const std::optional<double> seconds = frame.line.isEmpty()
                                                  ? std::optional<double>(frame.time.inSeconds())
                                                  : lineSeconds(frame.line);
        if (!seconds) {
            timed = false;
            return;
        }
        first = first ? std::min(*first, *seconds) : *seconds;
        last = last ? std::max(*last, *seconds) : *seconds;
    };
    readCanLog(path, visitor, cutShort);
    if (timed && first && *last > *first)
        traffic.seconds = *last - *first;
    return traffic;
}

} // namespace quillner
