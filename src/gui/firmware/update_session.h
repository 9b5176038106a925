#pragma once

#include "core/update/update_run.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace quillner {

// What a window's run is asked: the project of paths, with the firmware in its MASTER folder,
// compiled first when compile; every pass flashes, and the tool is watched to its end, however
// long it writes.
UpdateRequest windowUpdateRequest(const AppPaths& paths, bool compile);

// One update run (runUpdate) for a window: the run goes on a thread of its own, so that the wait
// for the project's lock, the compile, the merge and the flashing tool never hold up the GUI
// thread. What the run tells comes back as signals on the GUI thread; what it asks (whether a
// bank with unreadable documents goes on, the port of the next pass) is answered there while the
// run waits. The run holds the project's lock until finish() and the end of its last pass.
class UpdateSession : public QObject
{
    Q_OBJECT
public:
    // Asked on the GUI thread whether a compiled bank goes on to the bank files; without it only
    // a whole one does.
    using CompileQuestion = std::function<bool(const CompiledBank&)>;

    UpdateSession(const UpdateRequest& request, CompileQuestion question,
                  QObject* parent = nullptr);
    // Ends the run as finish() does. A run whose tool writes a device is left to end by itself,
    // so that the device is never left half-written; any other is waited for.
    ~UpdateSession() override;

    void start();
    // The next pass merges and flashes on this port (0 for COM1), once the run is ready for it.
    void press(int port);
    // No pass after the one under way: the run ends and lets the project go.
    void finish();

    // Started and not yet ended; finish() not asked.
    bool open() const { return m_started && !m_ended && !m_finishing; }
    // A tool started by a run of this program still writes a device, whether or not its window
    // or session is still there: ending the program now would kill it half-way.
    static bool flasherAtWork();

    // The plan, once the run has made it.
    const std::optional<Result<FirmwareJob>>& plan() const { return m_plan; }

Q_SIGNALS:
    void waitingForLock();
    void compiled(const quillner::BankBuild& build);
    void planned(const quillner::Result<quillner::FirmwareJob>& plan);
    void mergeProgress(qint64 position, qint64 maximum);
    void merged(const quillner::FirmwareJob& job, const quillner::UpdatePass& pass);
    // The port is still taken by an earlier tool's processes: the pass waits for them.
    void waitingForPort(const QString& message);
    void flasherStarted(const quillner::FlasherLaunch& launch, qint64 processId);
    void flasherOutput(const QString& line);
    void passEnded(const quillner::FirmwareJob& job, const quillner::UpdatePass& pass);
    void ended(const quillner::Result<quillner::UpdateReport>& result);

private:
    struct Shared;
    UpdateObserver observer() const;

    UpdateRequest m_request;
    CompileQuestion m_question;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    std::optional<Result<FirmwareJob>> m_plan;
    bool m_started = false;
    bool m_finishing = false;
    bool m_ended = false;
};

} // namespace quillner
