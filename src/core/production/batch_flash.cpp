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
                           const QString& masterDir, FlashJournal& journal, Done done)
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

void FlashStation::add(qsizetype index, FlashRequest request)
{
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.emplace(index, std::move(request));
    }
    m_changed.notify_one();
}

QString FlashStation::finish()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
    m_ports->waitForDone();
    for (const auto& [index, request] : m_waiting) {
        FlashRecord record;
        record.row = request.row;
        record.name = request.name;
        record.serial = request.serial;
        record.error = QStringLiteral("not flashed: %1").arg(m_journalFault);
        m_done(index, record);
    }
    m_waiting.clear();
    return m_journalFault;
}

void FlashStation::runPort(int port)
{
    for (;;) {
        std::optional<std::pair<qsizetype, FlashRequest>> next;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                return !m_waiting.empty() || m_closed || !m_journalFault.isEmpty();
            });
            if (m_waiting.empty() || !m_journalFault.isEmpty())
                return;
            next.emplace(std::move(*m_waiting.begin()));
            m_waiting.erase(m_waiting.begin());
        }
        FlashRecord record = flash(next->second, port);
        try {
            m_journal.append(record);
        } catch (const Error& error) {
            // A device flashed without its record is what the journal is there to prevent:
            // no port takes another row.
            {
                const std::lock_guard lock(m_mutex);
                m_journalFault = error.message();
            }
            m_changed.notify_all();
            record.error = error.message();
        }
        m_done(next->first, record);
    }
}

FlashRecord FlashStation::flash(const FlashRequest& request, int port) const
{
    FlashRecord record;
    record.row = request.row;
    record.name = request.name;
    record.serial = request.serial;
    record.port = port;
    record.masterSha256 = request.merged.masterSha256;
    record.bankSha256 = request.merged.bankSha256;
    record.mergedSha256 = request.merged.mergedSha256;
    record.toolVersion = QStringLiteral(QUILLNER_VERSION);
    record.started = QDateTime::currentDateTimeUtc();
    QElapsedTimer clock;
    clock.start();
    try {
        // Held while the tool reads the file, as update holds it: no compile or merge of the
        // project replaces the file meanwhile.
        const ProjectLock lock(request.folder);
        AppPaths paths = projectPaths(request.folder);
        paths.ExeDir = m_toolPaths.ExeDir;
        paths.DataDir = m_toolPaths.DataDir;
        const Result<FirmwareJob> plan = planFirmwareJob(paths, m_masterDir);
        if (!plan.whole())
            throw Error(problemLines(plan.problems).join(u'\n'));
        // The file the device gets is the one the journal names.
        if (sha256OfFile(plan.value.mergedPath()) != request.merged.mergedSha256)
            throw Error(QStringLiteral("%1 changed after it was built; it is not flashed")
                            .arg(plan.value.mergedPath()));
        const FlashDecision decision = plan.value.decideFlash(request.merged, port);
        if (decision.refused())
            throw Error(problemLines(decision.launch.problems).join(u'\n'));
        // No device gets a second writer: the port waits for every process of its earlier tool,
        // this batch's or a killed one's.
        PortLock taken(m_toolPaths.DataDir, port, std::nullopt, m_flashing.portWaiting);
        const FlasherVerdict verdict = runFlasher(decision.launch.value, m_flashing.timeout, taken);
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
        record.outcome = FlashRecord::Outcome::Failed;
        record.error = error.message();
    }
    record.milliseconds = clock.elapsed();
    return record;
}

} // namespace quillner
