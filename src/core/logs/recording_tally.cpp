#include "core/logs/recording_tally.h"

#include "core/logs/blf_reader.h"
#include "core/logs/text_recording.h"

#include <QFileInfo>

#include <array>
#include <exception>
#include <thread>

namespace quillner {

namespace {

// The filter's verdicts on data frames, kept by identifier as they are asked: a recording asks
// about the same few hundred identifiers millions of times.
class Verdicts
{
public:
    explicit Verdicts(const FrameFilter& filter) : m_filter(filter) {}

    FrameVerdict of(const LogFrame& frame)
    {
        if (frame.remote || frame.fd)
            return m_filter.verdict(frame.busFrame());
        const quint32 key = frame.id | (frame.extended ? kExtendedKey : 0);
        Slot& slot = m_slots[(key * 0x9E3779B1u) >> (32 - kSlotBits)];
        if (slot.key != key)
            slot = {key, m_filter.verdict(frame.busFrame())};
        return slot.verdict;
    }

private:
    static constexpr quint32 kExtendedKey = 0x80000000; // above every identifier
    static constexpr int kSlotBits = 12;
    struct Slot
    {
        quint32 key = ~quint32(0); // no frame's
        FrameVerdict verdict = FrameVerdict::Passed;
    };

    const FrameFilter& m_filter;
    std::array<Slot, 1 << kSlotBits> m_slots{};
};

struct TallySink
{
    Verdicts verdicts;
    FilterTally& tally;
    QList<qint64>& listedLines;

    void frame(const LogFrame& frame) { tally.add(frame, verdicts.of(frame)); }
    void otherLine(QByteArrayView) {}
    void listedUnreadable(qint64 lineNumber) { listedLines.append(lineNumber); }
    static constexpr bool stopped() { return false; }
};

// What was read of a part of a recording, its lines counted from the part's first.
struct Part
{
    LogReading reading;
    QList<qint64> listedLines; // the line numbers of reading.unreadable
    Problems problems;         // why the part could not be read to its end
};

Part readPart(StreamBuffer& buffer, LinesFrom from, const LogReading& recording,
              const FrameFilter& filter, FilterTally& tally)
{
    Part part;
    part.reading.name = recording.name;
    part.reading.format = recording.format;
    TallySink sink{Verdicts(filter), tally, part.listedLines};
    part.problems = readTextLines(buffer, from, recording.format, sink, part.reading).problems;
    return part;
}

// The reading of a part that begins at byte start, added to the reading of what lies before it:
// its lines numbered on from there.
void addLaterPart(LogReading& reading, const Part& later, qint64 start)
{
    const LogReading& part = later.reading;
    for (qsizetype i = 0;
         i < part.unreadable.size() && reading.unreadable.size() < LogReading::kListedUnreadable;
         ++i) {
        Problem problem = part.unreadable[i];
        problem.location = lineLocation(reading.lines + later.listedLines[i]);
        reading.unreadable.append(problem);
    }
    reading.unreadableCount += part.unreadableCount;
    reading.lines += part.lines;
    reading.frames += part.frames;
    reading.errorFrames += part.errorFrames;
    if (reading.cutShortAt < 0 && part.cutShortAt >= 0)
        reading.cutShortAt = start + part.cutShortAt;
}

// The second part of a recording: from the first line that begins at or after near; no buffer
// when no line begins there within the longest line, or the recording has no second part.
struct SecondPart
{
    std::unique_ptr<StreamBuffer> buffer; // at the part's first line
    qint64 opened = 0;                    // where the buffer's positions count from
    qint64 start = 0;                     // the part's first byte in the recording
};

Result<SecondPart> findSecondPart(const QString& path, qint64 near)
{
    SecondPart second;
    second.opened = near - 1; // a line that begins at near follows a line end at near - 1
    Result<std::unique_ptr<ByteStream>> stream = openRecordingAt(path, second.opened);
    if (!stream.whole())
        return Result<SecondPart>::failure(stream.problems);
    second.buffer = std::make_unique<StreamBuffer>(std::move(stream.value), kRecordingPieceBytes);
    StreamBuffer& buffer = *second.buffer;
    const qsizetype available = buffer.fill(kMaxLineBytes + 1);
    if (!buffer.problems().isEmpty())
        return Result<SecondPart>::failure(buffer.problems());
    const char* newline = findByte(buffer.data(), buffer.data() + available, '\n');
    if (!newline)
        return {};
    buffer.consume(newline - buffer.data() + 1);
    second.start = second.opened + buffer.position();
    return {std::move(second), {}, {}};
}

// The second part, when the recording is one that two threads read.
Result<SecondPart> secondPartOf(const QString& path, const OpenedRecording& opened,
                                const TallyThreads& threads)
{
    const LogFormat format = opened.reading.format;
    const QFileInfo file(path);
    if (threads.count < 2 || path == QStringLiteral("-") || opened.reading.compressed ||
        (format != LogFormat::Candump && format != LogFormat::CandumpScreen) || !file.isFile() ||
        file.size() < threads.leastSplitBytes)
        return {};
    const qint64 near = threads.splitNear >= 0 ? threads.splitNear : file.size() / 2;
    if (near < 1 || near >= file.size())
        return {};
    return findSecondPart(path, near);
}

Result<LogReading> readWhole(OpenedRecording& opened, const FrameFilter& filter, FilterTally& tally)
{
    LogReading reading = opened.reading;
    Result<Done> read;
    if (reading.format == LogFormat::VectorBlf) {
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) {
            tally.add(frame, filter.verdict(frame.busFrame()));
        };
        read = readBlf(*opened.buffer, visitor, reading);
    } else {
        QList<qint64> listedLines;
        TallySink sink{Verdicts(filter), tally, listedLines};
        read =
            readTextLines(*opened.buffer, LinesFrom::RecordingStart, reading.format, sink, reading);
    }
    return {std::move(reading), std::move(read.problems), {}};
}

// Two threads: the first part on this one, into the tally, the second on another into a tally of
// its own, added after.
Result<LogReading> readInTwo(const QString& path, OpenedRecording& opened, SecondPart& second,
                             const FrameFilter& filter, FilterTally& tally)
{
    LogReading reading = opened.reading;
    FilterTally secondTally;
    Part secondPart;
    // Nothing of the reading throws; what the system may (memory running out) is carried to
    // this thread, to go on to the caller as it would from one thread.
    std::exception_ptr secondError;
    std::thread thread([&] {
        try {
            secondPart =
                readPart(*second.buffer, LinesFrom::LineStart, reading, filter, secondTally);
        } catch (...) {
            secondError = std::current_exception();
        }
    });
    Part firstPart;
    std::exception_ptr firstError;
    try {
        opened.buffer->endAt(second.start);
        firstPart = readPart(*opened.buffer, LinesFrom::RecordingStart, reading, filter, tally);
    } catch (...) {
        firstError = std::current_exception();
    }
    thread.join();
    if (firstError)
        std::rethrow_exception(firstError);
    if (secondError)
        std::rethrow_exception(secondError);
    // The first part's problem is the one a single reader would have met first.
    for (const Problems* problems : {&firstPart.problems, &secondPart.problems}) {
        if (!problems->isEmpty())
            return {std::move(reading), *problems, {}};
    }

    addLaterPart(reading, firstPart, 0);
    qint64 secondOrigin = second.opened;
    if (secondTally.listsEveryIdentifier()) {
        tally.addLater(secondTally);
    } else {
        // Too many extended identifiers for the second part alone to tell which of them the
        // first part leaves room for: read again after the first, on this thread.
        Result<std::unique_ptr<ByteStream>> stream = openRecordingAt(path, second.start);
        if (!stream.whole())
            return {std::move(reading), std::move(stream.problems), {}};
        StreamBuffer again(std::move(stream.value), kRecordingPieceBytes);
        secondPart = readPart(again, LinesFrom::LineStart, reading, filter, tally);
        if (!secondPart.problems.isEmpty())
            return {std::move(reading), std::move(secondPart.problems), {}};
        secondOrigin = second.start;
    }
    addLaterPart(reading, secondPart, secondOrigin);
    return {std::move(reading), {}, {}};
}

} // namespace

Result<LogReading> tallyRecording(const QString& path, const FrameFilter& filter,
                                  FilterTally& tally, CutShort cutShort,
                                  const TallyThreads& threads)
{
    Result<OpenedRecording> opened = openCanLog(path);
    if (!opened.whole())
        return {std::move(opened.value.reading), std::move(opened.problems), {}};
    Result<SecondPart> second = secondPartOf(path, opened.value, threads);
    if (!second.whole())
        return {std::move(opened.value.reading), std::move(second.problems), {}};
    Result<LogReading> reading = second.value.buffer
                                     ? readInTwo(path, opened.value, second.value, filter, tally)
                                     : readWhole(opened.value, filter, tally);
    if (reading.whole())
        reading.problems = checkReading(reading.value, cutShort).problems;
    return reading;
}

} // namespace quillner
