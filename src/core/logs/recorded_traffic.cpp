#include "core/logs/recorded_traffic.h"

#include "core/logs/input_stream.h"
#include "core/logs/recording.h"

#include <QDateTime>

#include <algorithm>

namespace quillner {

namespace {

// Beyond this many distinct identifiers the counts alone would take more memory than the fit is
// worth; a recording of real traffic holds a few thousand.
constexpr qsizetype kMostDistinctIds = 1 << 20;

// A frame's time in seconds as its line writes it: seconds in candump, ASC and candump's screen
// output, milliseconds in TRC, a date and time from candump -t A.
std::optional<double> frameSeconds(LogFormat format, const LogFrame& frame)
{
    if (format == LogFormat::VectorBlf)
        return frame.time.inSeconds();
    const QByteArrayView text = frame.timeText.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (format == LogFormat::CandumpScreen && text.contains(' ')) {
        const QDateTime time = QDateTime::fromString(
            QString::fromLatin1(text.first(std::min<qsizetype>(text.size(), 23))),
            QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        if (!time.isValid())
            return std::nullopt;
        return double(time.toMSecsSinceEpoch()) / 1e3;
    }
    bool ok = false;
    const double value = text.toByteArray().toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return format == LogFormat::PeakTrc ? value / 1e3 : value;
}

} // namespace

Result<RecordedTraffic> readRecordedTraffic(const QString& path, CutShort cutShort)
{
    RecordedTraffic traffic;
    std::optional<double> first;
    std::optional<double> last;
    double previous = 0;
    double sum = 0;     // of the times, which are the gaps when candump -t d wrote them
    bool falls = false; // a time below the one before: gaps between frames, not times
    bool timed = true;
    LogFormat format = LogFormat::Candump;
    bool tooMany = false;
    LogVisitor visitor;
    visitor.stop = &tooMany;
    visitor.formatKnown = [&](LogFormat known) { format = known; };
    visitor.frame = [&](const LogFrame& frame) {
        if (!frame.extended || frame.fd)
            return;
        quint64& count = traffic.framesById[frame.id];
        if (count == 0 && traffic.framesById.size() > kMostDistinctIds) {
            tooMany = true;
            return;
        }
        ++count;
        ++traffic.frames;
        if (!timed)
            return;
        const std::optional<double> seconds = frameSeconds(format, frame);
        if (!seconds) {
            timed = false;
            return;
        }
        falls = falls || (first && *seconds < previous);
        previous = *seconds;
        sum += *seconds;
        first = first ? std::min(*first, *seconds) : *seconds;
        last = last ? std::max(*last, *seconds) : *seconds;
    };
    const Result<LogReading> read = readCanLog(path, visitor, cutShort);
    if (!read.whole())
        return Result<RecordedTraffic>::failure(read.problems);
    if (tooMany)
        return Result<RecordedTraffic>::failure(
            {{{},
              {},
              QStringLiteral("%1 holds more than %2 distinct extended identifiers; a fit weighs "
                             "at most that many")
                  .arg(recordingName(path))
                  .arg(kMostDistinctIds)}});
    // candump's screen output gives either times (-t a, z, A) or the gaps between frames (-t d),
    // which the same digits write; gaps fall somewhere, times of one capture never do.
    const bool gaps = falls && format == LogFormat::CandumpScreen;
    if (timed && gaps && sum > 0)
        traffic.seconds = sum;
    else if (timed && first && *last > *first)
        traffic.seconds = *last - *first;
    return {std::move(traffic), {}, {}};
}

} // namespace quillner
