#include "core/production/batch_flash.h"

#include "core/app/error.h"
#include "core/app/project_layout.h"
#include "core/app/project_lock.h"
#include "core/app/sha256.h"
#include "core/update/device_update.h"
#include "core/update/firmware_job.h"
#include "core/update/flasher_run.h"
#include "core/update/port_lock.h"

#include <QElapsedTimer>
#include <QThreadPool>

namespace quillner {

FlashStation::FlashStation(const BatchFlashing& flashing, const AppPaths& toolPaths,
                           const QString& masterDir, StationJournal& journal, Done done)
    : m_flashing(flashing), m_toolPaths(toolPaths), m_masterDir(masterDir), m_journal(journal),
      m_done(std::move(done)), m_ports(std::make_unique<QThreadPool>())
{
    m_ports->setMaxThreadCount(int(m_flashing.ports.size()));
    for (const int port : m_flashing.ports)
        m_ports->start([this, port] { runPort(port); });
}

FlashStation::~FlashStation()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
    m_ports->waitForDone();
}

void FlashStation::awaitRoom()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] {
        // A row a port: each port's next row is built while it flashes one, and the rows of a
        // line are claimed as the ports come to them, so that the line's last rows go one to a
        // port rather than several to a station that claimed ahead.
        return m_waiting.size() < size_t(m_flashing.ports.size()) || m_closed ||
               !m_journalFault.isEmpty();
    });
}

void FlashStation::add(qsizetype index, FlashRequest request)
{
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.emplace(index, std::move(request));
    }
    m_changed.notify_one();
}

bool FlashStation::pause(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, wait, [this] { return !m_journalFault.isEmpty(); });
}

void FlashStation::setAside(qsizetype index, FlashRequest request, const QString& fault)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_journalFault.isEmpty())
            m_journalFault = fault;
        m_waiting.emplace(index, std::move(request));
    }
    m_changed.notify_all();
}

QString FlashStation::finish()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
    m_ports->waitForDone();
    for (auto& [index, held] : m_held)
        m_waiting.emplace(index, std::move(held.first));
    m_held.clear();
    for (const auto& [index, request] : m_waiting) {
        FlashRecord record;
        record.row = request.row;
        record.name = request.name;
        record.serial = request.serial;
        record.error = QStringLiteral("not flashed: %1").arg(m_journalFault);
        m_done(index, record, {});
    }
    m_waiting.clear();
    return m_journalFault;
}

std::optional<std::pair<qsizetype, FlashRequest>> FlashStation::nextRow()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_journalFault.isEmpty())
            return std::nullopt;
        if (!m_waiting.empty()) {
            std::pair<qsizetype, FlashRequest> next(std::move(*m_waiting.begin()));
            m_waiting.erase(m_waiting.begin());
            // A builder may wait for this room.
            m_changed.notify_all();
            return next;
        }
        if (m_held.empty()) {
            if (m_closed)
                return std::nullopt;
            m_changed.wait(lock);
            continue;
        }
        auto due = m_held.begin();
        for (auto it = m_held.begin(); it != m_held.end(); ++it) {
            if (it->second.second < due->second.second)
                due = it;
        }
        if (due->second.second <= std::chrono::steady_clock::now()) {
            std::pair<qsizetype, FlashRequest> next(due->first, std::move(due->second.first));
            m_held.erase(due);
            return next;
        }
        // The deadline is copied: another port may take that row while this one waits.
        const std::chrono::steady_clock::time_point deadline = due->second.second;
        m_changed.wait_until(lock, deadline);
    }
}

void FlashStation::runPort(int port)
{
    while (std::optional<std::pair<qsizetype, FlashRequest>> next = nextRow()) {
        const FlashRequest& request = next->second;
        RowClaim claim;
        if (!request.claimed) {
            const Result<RowClaim> asked =
                m_journal.claim(request.row, request.name, request.serial);
            // A line that cannot be asked whose a row is flashes nothing more: the row waits
            // with the others to be told as not flashed.
            if (!asked.whole()) {
                setAside(next->first, std::move(next->second),
                         problemLines(asked.problems).join(u'\n'));
                return;
            }
            claim = asked.value;
        }
        if (claim.answer == RowClaim::Answer::Held) {
            {
                const std::lock_guard lock(m_mutex);
                m_held.emplace(next->first,
                               std::pair(std::move(next->second), std::chrono::steady_clock::now() +
                                                                      m_journal.heldRowWait()));
            }
            m_changed.notify_all();
            continue;
        }
        if (claim.answer == RowClaim::Answer::Settled) {
            FlashRecord record;
            record.row = request.row;
            record.name = request.name;
            record.serial = request.serial;
            m_done(next->first, record, claim);
            continue;
        }
        FlashRecord record = flash(request, port);
        if (const Result<quillner::Done> kept = m_journal.append(record); !kept.whole()) {
            // A device flashed without its record is what the journal is there to prevent:
            // no port takes another row.
            const QString fault = problemLines(kept.problems).join(u'\n');
            {
                const std::lock_guard lock(m_mutex);
                m_journalFault = fault;
            }
            m_changed.notify_all();
            record.error = fault;
        }
        m_done(next->first, record, claim);
    }
}

FlashRecord FlashStation::flash(const FlashRequest& request, int port) const
{
    FlashRecord record;
    record.row = request.row;
    record.name = request.name;
    record.serial = request.serial;
    record.port = port;
    record.masterSha256 = request.merged.value.masterSha256;
    record.bankSha256 = request.merged.value.bankSha256;
    record.mergedSha256 = request.merged.value.mergedSha256;
    record.toolVersion = QStringLiteral(QUILLNER_VERSION);
    record.started = QDateTime::currentDateTimeUtc();
    QElapsedTimer clock;
    clock.start();
    const auto failed = [&](const QString& why) {
        record.outcome = FlashRecord::Outcome::Failed;
        record.error = why;
        record.milliseconds = clock.elapsed();
        return record;
    };
    try {
        // Held while the tool reads the file, as update holds it: no compile or merge of the
        // project replaces the file meanwhile.
        const ProjectLock lock(request.folder);
        const Result<FlasherLaunch> launch = rowLaunch(request, port);
        if (!launch.whole())
            return failed(problemLines(launch.problems).join(u'\n'));
        // No device gets a second writer: the port waits for every process of its earlier tool,
        // this batch's or a killed one's.
        const Result<std::unique_ptr<PortLock>> taken =
            PortLock::take(m_toolPaths.DataDir, port, std::nullopt, m_flashing.portWaiting);
        if (!taken.whole())
            return failed(problemLines(taken.problems).join(u'\n'));
        const Result<FlasherVerdict> run =
            runFlasher(launch.value, m_flashing.timeout, *taken.value);
        if (!run.whole())
            return failed(problemLines(run.problems).join(u'\n'));
        const FlasherVerdict& verdict = run.value;
        record.outcome = verdict.succeeded() ? FlashRecord::Outcome::Flashed
                         : verdict.outcome == FlasherVerdict::Outcome::TimedOut
                             ? FlashRecord::Outcome::TimedOut
                             : FlashRecord::Outcome::Failed;
        if (verdict.exitCode >= 0 && verdict.outcome != FlasherVerdict::Outcome::TimedOut)
            record.exitStatus = verdict.exitCode;
        record.lastLine = verdict.lastLine;
        if (!verdict.succeeded())
            record.error = flasherVerdictText(verdict);
    } catch (const Error& error) {
        // What the system refuses: the project's lock, the merged file's reading, the port's
        // lock, the tool's start.
        return failed(error.message());
    }
    record.milliseconds = clock.elapsed();
    return record;
}

Result<FlasherLaunch> FlashStation::rowLaunch(const FlashRequest& request, int port) const
{
    AppPaths paths = projectPaths(request.folder);
    paths.ExeDir = m_toolPaths.ExeDir;
    paths.DataDir = m_toolPaths.DataDir;
    const Result<FirmwareJob> plan = planFirmwareJob(paths, m_masterDir);
    if (!plan.whole())
        return Result<FlasherLaunch>::failure(plan.problems);
    // The file the device gets is the one the journal names.
    const QString merged = plan.value.mergedPath();
    if (sha256OfFile(merged) != request.merged.value.mergedSha256)
        return Result<FlasherLaunch>::failure({Problem{
            {},
            {},
            QStringLiteral("%1 changed after it was built; it is not flashed").arg(merged)}});
    const FlashDecision decision = plan.value.decideFlash(request.merged, port);
    if (decision.refused())
        return Result<FlasherLaunch>::failure(decision.launch.problems);
    return decision.launch;
}

} // namespace quillner
