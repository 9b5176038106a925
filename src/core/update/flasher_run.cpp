#include "core/update/flasher_run.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

namespace quillner {

namespace {

// Lines of the tool's output as they come; a line longer than this is passed on in pieces, so
// that a tool printing without line ends cannot grow the buffer without end.
constexpr qsizetype kMostLineLength = 1 << 16;
// How long an ended tool is given to go before it is killed.
constexpr std::chrono::milliseconds kEndGrace{2000};
// How long a killed tool's processes are given to let the port go: a process stuck in the
// kernel dies only once it comes back.
constexpr std::chrono::milliseconds kKilledGrace{10000};

// The tools runFlasher waits for, by process group, so that a stop request reaches each of them
// at once; and whether this program is stopping, after which none is started.
struct WaitedFlashers
{
    std::mutex mutex;
    std::condition_variable changed;
    std::set<qint64> groups;
    int running = 0;
    std::atomic<bool> stopping = false;
};

WaitedFlashers& waitedFlashers()
{
    static WaitedFlashers flashers;
    return flashers;
}

// Asks every process of the group to end, or kills them (kill).
void signalGroup(qint64 group, bool kill = false)
{
#ifdef Q_OS_UNIX
    if (group > 0)
        ::kill(-pid_t(group), kill ? SIGKILL : SIGTERM);
#else
    Q_UNUSED(group);
    Q_UNUSED(kill);
#endif
}

// One tool waited for, from before its start until nothing of it holds its port.
class WaitedFlasher
{
public:
    // Counted among the tools waited for unless this program is stopping, in one step with the
    // look at the stop: a stop asked for after it waits for it.
    WaitedFlasher()
    {
        WaitedFlashers& flashers = waitedFlashers();
        const std::lock_guard lock(flashers.mutex);
        m_admitted = !flashers.stopping;
        if (m_admitted)
            ++flashers.running;
    }
    ~WaitedFlasher()
    {
        if (!m_admitted)
            return;
        WaitedFlashers& flashers = waitedFlashers();
        {
            const std::lock_guard lock(flashers.mutex);
            flashers.groups.erase(m_group);
            --flashers.running;
        }
        flashers.changed.notify_all();
    }
    WaitedFlasher(const WaitedFlasher&) = delete;
    WaitedFlasher& operator=(const WaitedFlasher&) = delete;

    void started(qint64 group)
    {
        WaitedFlashers& flashers = waitedFlashers();
        const std::lock_guard lock(flashers.mutex);
        m_group = group;
        flashers.groups.insert(group);
        // A stop asked for while it was starting did not reach it.
        if (flashers.stopping)
            signalGroup(group);
    }

    // False when this program was stopping: no tool may be started.
    bool admitted() const { return m_admitted; }

private:
    qint64 m_group = 0;
    bool m_admitted = false;
};

// Ends what is left of the tool's group once the tool has ended or is to end: asked to end, then
// killed after the grace period; returns once nothing of it holds the port (false when something
// still does after that).
bool endFlasherGroup(QProcess& process, qint64 group, PortLock& port)
{
    if (process.state() == QProcess::NotRunning && port.retake(std::chrono::milliseconds::zero()))
        return true;
    signalGroup(group);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kEndGrace.count()) {
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(20);
        else if (port.retake(std::chrono::milliseconds(20)))
            return true;
    }
    signalGroup(group, true);
    process.waitForFinished(-1);
    return port.retake(kKilledGrace);
}

} // namespace

FlasherLines::FlasherLines(const FlasherOutput& output, QString& lastLine)
    : m_output(output), m_lastLine(lastLine)
{
}

void FlasherLines::add(const QByteArray& bytes)
{
    m_pending += bytes;
    qsizetype newline;
    while ((newline = m_pending.indexOf('\n')) >= 0) {
        emitLine(m_pending.left(newline));
        m_pending.remove(0, newline + 1);
    }
    if (m_pending.size() > kMostLineLength) {
        emitLine(m_pending);
        m_pending.clear();
    }
}

void FlasherLines::finish()
{
    if (!m_pending.isEmpty())
        emitLine(m_pending);
    m_pending.clear();
}

void FlasherLines::emitLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    const QString text = QString::fromLocal8Bit(line);
    if (!text.trimmed().isEmpty())
        m_lastLine = text.trimmed();
    if (m_output)
        m_output(text);
}

Result<Done> startWatchedFlasherProcess(QProcess& process, const FlasherLaunch& launch,
                                        const FlasherTies& ties)
{
    prepareFlasherProcess(process, launch, ties);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        return Result<Done>::failure({{{}, {}, flasherNotStartedMessage(process.errorString())}});
    return {};
}

Result<FlasherVerdict> runFlasher(const FlasherLaunch& launch,
                                  std::optional<std::chrono::milliseconds> timeout, PortLock& port,
                                  const FlasherOutput& output,
                                  const std::function<void(qint64 processId)>& started)
{
    WaitedFlasher waited;
    if (!waited.admitted())
        return Result<FlasherVerdict>::failure({{{}, {}, flashersStoppedMessage()}});
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    const Result<Done> start =
        startWatchedFlasherProcess(process, launch, {port.descriptor(), true});
    if (!start.whole())
        return Result<FlasherVerdict>::failure(start.problems);
    // The tool's processes hold the port from here on: it is free once the last has ended.
    port.handOver();
    if (started)
        started(process.processId());
    FlasherVerdict verdict;
    verdict.processId = process.processId();
    waited.started(verdict.processId);

    FlasherLines lines(output, verdict.lastLine);
    std::optional<FlasherVerdict::Outcome> ended;
    while (process.state() != QProcess::NotRunning) {
        if (flashersStopping()) {
            ended = FlasherVerdict::Outcome::Stopped;
            break;
        }
        int wait = 100;
        if (timeout) {
            const qint64 left = timeout->count() - clock.elapsed();
            if (left <= 0) {
                ended = FlasherVerdict::Outcome::TimedOut;
                break;
            }
            wait = int(std::min<qint64>(left, wait));
        }
        process.waitForReadyRead(wait);
        lines.add(process.readAll());
    }
    // Whatever it started goes with it, so that the port's next tool finds no one writing.
    endFlasherGroup(process, verdict.processId, port);
    lines.add(process.readAll());
    lines.finish();
    if (!ended)
        return {finishedFlasherVerdict(process.exitStatus() == QProcess::NormalExit,
                                       process.exitCode(), verdict.lastLine, verdict.processId,
                                       clock.elapsed()),
                {},
                {}};
    verdict.milliseconds = clock.elapsed();
    verdict.outcome = *ended;
    return {verdict, {}, {}};
}

void endWaitedFlashers()
{
    WaitedFlashers& flashers = waitedFlashers();
    std::unique_lock lock(flashers.mutex);
    flashers.stopping = true;
    for (const qint64 group : flashers.groups)
        signalGroup(group);
    flashers.changed.wait(lock, [&] { return flashers.running == 0; });
}

bool flashersStopping()
{
    return waitedFlashers().stopping;
}

QString flashersStoppedMessage()
{
    return QStringLiteral("Stopped: %1 is ending").arg(QCoreApplication::applicationName());
}

FlasherVerdict finishedFlasherVerdict(bool exitedNormally, int exitCode, const QString& lastLine,
                                      qint64 processId, qint64 milliseconds)
{
    FlasherVerdict verdict;
    verdict.lastLine = lastLine;
    verdict.processId = processId;
    verdict.milliseconds = milliseconds;
    if (exitedNormally) {
        verdict.exitCode = exitCode;
        verdict.outcome =
            exitCode == 0 ? FlasherVerdict::Outcome::Succeeded : FlasherVerdict::Outcome::Failed;
    }
    return verdict;
}

QString flasherVerdictText(const FlasherVerdict& verdict)
{
    const QString tool = QString::fromLatin1(kFlasherName);
    const QString last =
        verdict.lastLine.isEmpty() ? QString() : QStringLiteral(": ") + verdict.lastLine;
    switch (verdict.outcome) {
    case FlasherVerdict::Outcome::Succeeded:
        return QStringLiteral("%1 ended with status 0%2").arg(tool, last);
    case FlasherVerdict::Outcome::TimedOut:
        return QStringLiteral("%1 did not end within %2 s and was ended%3")
            .arg(tool)
            .arg(double(verdict.milliseconds) / 1000.0, 0, 'f', 1)
            .arg(last);
    case FlasherVerdict::Outcome::Stopped:
        return QStringLiteral("%1 was ended after %2 s: %3%4")
            .arg(tool)
            .arg(double(verdict.milliseconds) / 1000.0, 0, 'f', 1)
            .arg(flashersStoppedMessage(), last);
    case FlasherVerdict::Outcome::Failed:
        break;
    }
    if (verdict.exitCode < 0)
        return QStringLiteral("%1 crashed%2").arg(tool, last);
    return QStringLiteral("%1 failed with status %2%3").arg(tool).arg(verdict.exitCode).arg(last);
}

} // namespace quillner
