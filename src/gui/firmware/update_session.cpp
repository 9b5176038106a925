#include "gui/firmware/update_session.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace quillner {

UpdateRequest windowUpdateRequest(const AppPaths& paths, bool compile)
{
    UpdateRequest request;
    request.paths = paths;
    request.masterDir = paths.MasterDir;
    request.compile = compile;
    request.flash = true;
    request.waitForFlasher = true;
    request.timeout = std::nullopt;
    return request;
}

namespace {

std::atomic<int> flashersAtWork{0};

} // namespace

bool UpdateSession::flasherAtWork()
{
    return flashersAtWork > 0;
}

// What the run's thread and the session share; it outlives the session when a tool still writes.
struct UpdateSession::Shared
{
    std::mutex mutex;
    std::condition_variable changed;
    UpdateSession* receiver = nullptr; // until the session goes
    std::optional<int> port;           // pressed, not yet taken by the run
    std::optional<bool> answer;        // to the compile question
    bool finishing = false;
    bool abandoned = false; // the session has gone: no tool is started for nobody to watch
    bool flashing = false;  // from the last word before the tool to the end of its pass

    // Called with the mutex held.
    void setFlashing(bool now)
    {
        if (now != flashing)
            flashersAtWork += now ? 1 : -1;
        flashing = now;
    }

    // Runs show on the GUI thread with the session, unless the session has gone by then (its
    // events go with it).
    template <typename F> void post(F show)
    {
        const std::lock_guard lock(mutex);
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [show, session = receiver] { show(*session); }, Qt::QueuedConnection);
    }
};

UpdateSession::UpdateSession(const UpdateRequest& request, CompileQuestion question,
                             QObject* parent)
    : QObject(parent), m_request(request), m_question(std::move(question)),
      m_shared(std::make_shared<Shared>())
{
    m_shared->receiver = this;
}

UpdateSession::~UpdateSession()
{
    bool flashing = false;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->receiver = nullptr;
        m_shared->finishing = true;
        m_shared->abandoned = true;
        flashing = m_shared->flashing;
        m_shared->changed.notify_all();
    }
    if (!m_thread.joinable())
        return;
    // Waiting for a tool that writes a device would freeze the program for as long as it
    // writes; the run ends by itself once the tool has, and lets the project go.
    if (flashing)
        m_thread.detach();
    else
        m_thread.join();
}

void UpdateSession::start()
{
    m_started = true;
    m_thread = std::thread([shared = m_shared, request = m_request, told = observer()] {
        Result<UpdateReport> result;
        try {
            result = runUpdate(request, told);
        } catch (const std::exception& error) {
            result.problems.append(Problem{{}, {}, QString::fromLocal8Bit(error.what())});
        }
        {
            const std::lock_guard lock(shared->mutex);
            shared->setFlashing(false);
        }
        shared->post([result](UpdateSession& session) {
            session.m_ended = true;
            Q_EMIT session.ended(result);
        });
    });
}

void UpdateSession::press(int port)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->port = port;
    m_shared->changed.notify_all();
}

void UpdateSession::finish()
{
    m_finishing = true;
    const std::lock_guard lock(m_shared->mutex);
    m_shared->finishing = true;
    m_shared->changed.notify_all();
}

UpdateObserver UpdateSession::observer() const
{
    const std::shared_ptr<Shared> shared = m_shared;
    UpdateObserver observer;
    observer.waitingForLock = [shared] {
        shared->post([](UpdateSession& session) { Q_EMIT session.waitingForLock(); });
    };
    observer.acceptCompile = [shared](const CompiledBank& compiled) {
        {
            const std::lock_guard lock(shared->mutex);
            shared->answer.reset();
        }
        shared->post([shared, compiled](UpdateSession& session) {
            const bool goOn = session.m_question ? session.m_question(compiled) : compiled.whole();
            const std::lock_guard lock(shared->mutex);
            shared->answer = goOn;
            shared->changed.notify_all();
        });
        // A session that goes before the answer leaves the bank unwritten.
        std::unique_lock lock(shared->mutex);
        shared->changed.wait(lock, [&] { return shared->answer || shared->finishing; });
        return shared->answer.value_or(false);
    };
    observer.compiled = [shared](const BankBuild& build) {
        shared->post([build](UpdateSession& session) { Q_EMIT session.compiled(build); });
    };
    observer.planned = [shared](const Result<FirmwareJob>& plan) {
        shared->post([plan](UpdateSession& session) {
            session.m_plan = plan;
            Q_EMIT session.planned(plan);
        });
    };
    observer.nextPort = [shared]() -> std::optional<int> {
        std::unique_lock lock(shared->mutex);
        shared->changed.wait(lock, [&] { return shared->port || shared->finishing; });
        if (shared->finishing)
            return std::nullopt;
        return std::exchange(shared->port, std::nullopt);
    };
    // A merge tells each line it passes; the bar needs a step only when it moves a thousandth.
    observer.mergeProgress = [shared, shown = qint64(-1)](qint64 position, qint64 maximum) mutable {
        const qint64 step = maximum > 0 ? position * 1000 / maximum : 0;
        if (step == shown)
            return;
        shown = step;
        shared->post([position, maximum](UpdateSession& session) {
            Q_EMIT session.mergeProgress(position, maximum);
        });
    };
    observer.merged = [shared](const FirmwareJob& job, const UpdatePass& pass) {
        shared->post([job, pass](UpdateSession& session) { Q_EMIT session.merged(job, pass); });
    };
    observer.mayFlash = [shared](const FirmwareJob&) {
        const std::lock_guard lock(shared->mutex);
        shared->setFlashing(!shared->abandoned);
        return shared->flashing;
    };
    observer.waitingForPort = [shared](const QString& message) {
        shared->post([message](UpdateSession& session) { Q_EMIT session.waitingForPort(message); });
    };
    observer.flasherStarted = [shared](const FlasherLaunch& launch, qint64 processId) {
        shared->post([launch, processId](UpdateSession& session) {
            Q_EMIT session.flasherStarted(launch, processId);
        });
    };
    observer.flasherOutput = [shared](const QString& line) {
        shared->post([line](UpdateSession& session) { Q_EMIT session.flasherOutput(line); });
    };
    observer.passEnded = [shared](const FirmwareJob& job, const UpdatePass& pass) {
        {
            const std::lock_guard lock(shared->mutex);
            shared->setFlashing(false);
        }
        shared->post([job, pass](UpdateSession& session) { Q_EMIT session.passEnded(job, pass); });
    };
    return observer;
}

} // namespace quillner
