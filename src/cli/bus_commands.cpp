// The live bus on the command line: the session's options, Ctrl-C, the table on a terminal, and
// `record`.

#include "bus_commands.h"

#include "core/app/file_io.h"
#include "core/logs/candump_reader.h"
#include "core/logs/recorded_traffic.h"

#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QTimer>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define QUILLNER_ISATTY _isatty
#define QUILLNER_FILENO _fileno
#else
#include <unistd.h>
#define QUILLNER_ISATTY isatty
#define QUILLNER_FILENO fileno
#endif

namespace quillner::cli {

const OptionSpec kBusOption{
    "bus", Takes::Bus, "PLUGIN:INTERFACE",
    "Listen to a live CAN bus through Qt SerialBus instead of reading\na recording: "
    "socketcan:can0, peakcan:usb0, virtualcan:can0 or\nvirtualcan:tcp://HOST:PORT/can0. Ctrl-C "
    "ends the session."};
const OptionSpec kSecondsOption{"seconds", Takes::Text, "N",
                                "With --bus: end the session after N seconds."};
const OptionSpec kFramesOption{"frames", Takes::Text, "N",
                               "With --bus: end the session after N frames (error frames\nnot "
                               "counted)."};

namespace {

// The table is drawn again at most this often, so that a busy bus does not flood the terminal.
constexpr std::chrono::milliseconds kTableInterval{100};

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void takeInterrupt(int)
{
    g_interrupted = 1;
    // A second Ctrl-C ends the program at once, should the session not end.
    std::signal(SIGINT, SIG_DFL);
}

// Ctrl-C ends the session rather than the program, for as long as this lives.
class InterruptEndsSession
{
public:
    InterruptEndsSession()
    {
        g_interrupted = 0;
        m_previous = std::signal(SIGINT, takeInterrupt);
    }
    ~InterruptEndsSession() { std::signal(SIGINT, m_previous); }
    InterruptEndsSession(const InterruptEndsSession&) = delete;
    InterruptEndsSession& operator=(const InterruptEndsSession&) = delete;

    bool interrupted() const { return g_interrupted != 0; }

private:
    void (*m_previous)(int) = SIG_DFL;
};

bool stdoutIsTerminal()
{
    return QUILLNER_ISATTY(QUILLNER_FILENO(stdout)) != 0;
}

// The frames heard, as candump -L writes them.
struct HeardLog
{
    QByteArray text;
    qint64 frames = 0;
};

HeardLog listenAsCandumpLog(const BusRequest& request, Result<LogReading>& heard)
{
    HeardLog log;
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        log.text += candumpLogLine(frame);
        log.text += '\n';
    };
    heard = listenFromCommandLine(request, visitor);
    log.frames = heard.value.frames;
    return log;
}

// record
int runRecord(const CommandLine& line)
{
    if (line.arguments().size() != 1)
        line.usageError(QStringLiteral("record takes one FILE"));
    const std::optional<BusRequest> request = busRequestOf(line);
    if (!request)
        line.usageError(QStringLiteral("record needs --bus"));
    const QString path = absoluteNativePath(line.argument(0));
    Result<LogReading> heard;
    const HeardLog log = listenAsCandumpLog(*request, heard);
    if (log.frames == 0) {
        if (!heard.whole())
            return stoppedBy(heard.problems);
        return stoppedBy(QStringLiteral("No frame was heard on %1; %2 was not written")
                             .arg(request->bus.text(), path));
    }
    // What was heard before a failure is kept; the failure is still told, and the status says it.
    writeFileAtomically(path, log.text);
    say(QStringLiteral("Written: %1 (%2 %3 from %4)\n")
            .arg(path, groupedNumber(quint64(log.frames)),
                 log.frames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"),
                 request->bus.text()));
    if (heard.value.errorFrames > 0)
        complain(QStringLiteral("warning"),
                 QStringLiteral("%1 error frames were heard and not written")
                     .arg(heard.value.errorFrames));
    if (!heard.whole())
        return stoppedBy(heard.problems);
    return kExitSuccess;
}

} // namespace

std::optional<BusRequest> busRequestOf(const CommandLine& line)
{
    const bool seconds = line.isSet("seconds");
    const bool frames = line.isSet("frames");
    if (!line.isSet("bus")) {
        if (seconds || frames)
            line.usageError(
                QStringLiteral("--%1 goes with --bus")
                    .arg(seconds ? QStringLiteral("seconds") : QStringLiteral("frames")));
        return std::nullopt;
    }
    if (seconds && frames)
        line.usageError(QStringLiteral("--seconds and --frames exclude each other"));
    const std::optional<BusAddress> bus = busAddressOf(line.value("bus"));
    if (!bus)
        line.usageError(QStringLiteral("--bus takes PLUGIN:INTERFACE (plugins here: %1), not '%2'")
                            .arg(busPlugins().join(QStringLiteral(", ")), line.value("bus")));
    BusRequest request{*bus, {}};
    if (seconds)
        request.end.duration = secondsOf(line, "seconds");
    if (frames) {
        bool ok = false;
        const QString text = line.value("frames");
        const qint64 count = text.toLongLong(&ok);
        if (!ok || count < 1 || text.trimmed() != text)
            line.usageError(QStringLiteral("--frames takes a number from 1, not '%1'").arg(text));
        request.end.frames = count;
    }
    return request;
}

Result<LogReading> listenFromCommandLine(const BusRequest& request, const LogVisitor& visitor,
                                         const FilterTally* shownTally)
{
    // The plugins tell of their sockets and servers as information; the command's own note says
    // what a user needs. QT_LOGGING_RULES still turns them on.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.canbus*.debug=false\nqt.canbus*.info=false"));
    const InterruptEndsSession interrupt;
    QTimer table;
    if (shownTally && stdoutIsTerminal() && !isQuiet()) {
        table.setInterval(kTableInterval);
        quint64 shownFrames = 0;
        QObject::connect(&table, &QTimer::timeout, [shownTally, shownFrames]() mutable {
            const quint64 frames = shownTally->passed + shownTally->blocked;
            if (frames == shownFrames)
                return;
            shownFrames = frames;
            // Home and clear, then the tally as it stands.
            say(QStringLiteral("\x1b[H\x1b[2J") + filterTallyText(*shownTally));
        });
    }
    SessionHooks hooks;
    hooks.stopRequested = [&] { return interrupt.interrupted(); };
    hooks.listening = [&] {
        complain(QStringLiteral("note"),
                 QStringLiteral("listening to %1 (Ctrl-C ends)").arg(request.bus.text()));
        if (shownTally && stdoutIsTerminal() && !isQuiet())
            table.start();
    };
    Result<LogReading> heard = listenToBus(request.bus, request.end, visitor, hooks);
    if (table.isActive())
        say(QStringLiteral("\x1b[H\x1b[2J"));
    return heard;
}

Result<RecordedTraffic> heardTraffic(const BusRequest& request)
{
    using Traffic = Result<RecordedTraffic>;
    Result<LogReading> heard;
    const HeardLog log = listenAsCandumpLog(request, heard);
    if (!heard.whole())
        return Traffic::failure(heard.problems);
    if (log.frames == 0)
        return Traffic::failure(
            {{{}, {}, QStringLiteral("No frame was heard on %1").arg(request.bus.text())}});
    // Counted by the reader `--log` goes through, so that a session and its recording weigh the
    // same.
    QTemporaryFile file;
    if (!file.open() || !writeAll(file, log.text.constData(), log.text.size()) || !file.flush())
        return Traffic::failure(
            {{{}, {}, cannotCreateFileMessage(file.fileName(), file.errorString())}});
    return readRecordedTraffic(file.fileName());
}

const CommandSpec& recordCommand()
{
    static const CommandSpec spec{
        "record",
        "record --bus PLUGIN:INTERFACE [--seconds N | --frames N] FILE",
        "Keep the frames of a live CAN bus as a candump log.",
        R"(Listens to a live CAN bus through Qt SerialBus and writes the frames heard to
FILE as candump -L lines, each with the time the interface gave it: a recording
every command that reads one takes. The session ends after N seconds, after N
frames, or on Ctrl-C; FILE is written whole once it ends, never in part. Error
frames are counted, not written. Nothing is written when no frame was heard.
)",
        {kBusOption, kSecondsOption, kFramesOption},
        R"(Exit status: 0 written; 1 no frame heard, or the bus failed (what was heard
before is written).

Example:
  quillner-cli record --bus socketcan:can0 --seconds 60 bus.log
)",
        {Takes::File},
        false,
        runRecord};
    return spec;
}

} // namespace quillner::cli
