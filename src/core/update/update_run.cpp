#include "core/update/update_run.h"

#include "core/app/error.h"

namespace quillner {

namespace {

template <typename F, typename... Args> void tell(const F& observer, Args&&... args)
{
    if (observer)
        observer(std::forward<Args>(args)...);
}

// The project's lock, waited for only after the observer was told that the run waits.
std::unique_ptr<ProjectLock> lockProject(const UpdateRequest& request,
                                         const UpdateObserver& observer)
{
    const QString& project = request.paths.ProjectDir;
    if (observer.waitingForLock) {
        // Tried at once first, so that a face is told of a wait only when there is one.
        try {
            return std::make_unique<ProjectLock>(project, std::chrono::milliseconds::zero());
        } catch (const Error&) {
            observer.waitingForLock();
        }
    }
    return std::make_unique<ProjectLock>(project, request.lockWait);
}

UpdateStop stopOfRefusal(FlashRefusal refusal)
{
    switch (refusal) {
    case FlashRefusal::None:
        return UpdateStop::None;
    case FlashRefusal::BankNotInFirmware:
        return UpdateStop::BankNotInFirmware;
    case FlashRefusal::CannotLaunch:
        // Whether that stops anything depends on whether the tool was to be started.
        return UpdateStop::None;
    case FlashRefusal::MergeFailed:
    case FlashRefusal::VerificationFailed:
    case FlashRefusal::NotVerified:
        return UpdateStop::Merge;
    }
    return UpdateStop::Merge;
}

UpdateStop stopOfVerdict(const FlasherVerdict& verdict)
{
    switch (verdict.outcome) {
    case FlasherVerdict::Outcome::Succeeded:
        return UpdateStop::None;
    case FlasherVerdict::Outcome::TimedOut:
        return UpdateStop::FlasherTimedOut;
    case FlasherVerdict::Outcome::Failed:
    case FlasherVerdict::Outcome::Stopped:
        break;
    }
    return UpdateStop::FlasherFailed;
}

// One merge of the bank and, when it gives a file fit for the device and flashing was asked,
// the tool on the port.
// A problem when the merge cannot begin, the port cannot be taken or the tool cannot be started:
// the pass then ends the run.
Result<UpdatePass> mergeAndFlash(const UpdateRequest& request, const UpdateObserver& observer,
                                 const FirmwareJob& job, int port)
{
    using Pass = Result<UpdatePass>;
    UpdatePass pass;
    pass.port = port;
    // What the merge met is the decision's to judge: it keeps a file at fault from the device.
    pass.merged = job.merge(observer.mergeProgress);
    pass.decision = job.decideFlash(pass.merged, port);
    pass.stop = stopOfRefusal(pass.decision.refusal);
    tell(observer.merged, job, pass);
    if (pass.stop == UpdateStop::Merge || pass.stop == UpdateStop::BankNotInFirmware ||
        !request.flash)
        return {std::move(pass), {}, {}};
    if (pass.decision.refused() || (observer.mayFlash && !observer.mayFlash(job))) {
        pass.stop = UpdateStop::NotFlashed;
        return {std::move(pass), {}, {}};
    }
    const FlasherLaunch& launch = pass.decision.launch.value;
    // One tool a port: the port is taken for the tool and every process it starts.
    const Result<std::unique_ptr<PortLock>> taken =
        PortLock::take(request.paths.DataDir, pass.port, request.portWait, observer.waitingForPort);
    if (!taken.whole())
        return Pass::failure(taken.problems);
    PortLock& lock = *taken.value;
    if (!request.waitForFlasher) {
        const Result<qint64> started = startFlasher(launch, lock.descriptor());
        if (!started.whole())
            return Pass::failure(started.problems);
        pass.processId = started.value;
        tell(observer.flasherStarted, launch, *pass.processId);
        tell(observer.passEnded, job, pass);
        return {std::move(pass), {}, {}};
    }
    const Result<FlasherVerdict> verdict =
        runFlasher(launch, request.timeout, lock, observer.flasherOutput, [&](qint64 processId) {
            pass.processId = processId;
            tell(observer.flasherStarted, launch, processId);
        });
    if (!verdict.whole())
        return Pass::failure(verdict.problems);
    pass.verdict = verdict.value;
    pass.stop = stopOfVerdict(*pass.verdict);
    tell(observer.passEnded, job, pass);
    return {std::move(pass), {}, {}};
}

} // namespace

Result<UpdateReport> runUpdate(const UpdateRequest& request, const UpdateObserver& observer)
{
    Result<UpdateReport> result;
    UpdateReport& report = result.value;
    try {
        const std::unique_ptr<ProjectLock> lock = lockProject(request, observer);
        if (request.compile) {
            report.build = compileAndWriteBank(request.paths, [&](const CompiledBank& compiled) {
                return observer.acceptCompile ? observer.acceptCompile(compiled) : compiled.whole();
            });
            tell(observer.compiled, report.build);
            if (!report.build.written) {
                report.stop = UpdateStop::Compile;
                return result;
            }
        }
        const Result<FirmwareJob> plan = planFirmwareJob(request.paths, request.masterDir);
        tell(observer.planned, plan);
        report.job = plan.value;
        if (!plan.whole()) {
            report.stop = UpdateStop::NotPlanned;
            result.problems = plan.problems;
            return result;
        }
        for (bool first = true;; first = false) {
            const std::optional<int> port =
                observer.nextPort ? observer.nextPort()
                                  : (first ? std::optional<int>(request.port) : std::nullopt);
            if (!port)
                break;
            Result<UpdatePass> pass = mergeAndFlash(request, observer, report.job, *port);
            if (!pass.whole()) {
                result.problems = pass.problems;
                return result;
            }
            report.last = std::move(pass.value);
            report.stop = report.last->stop;
        }
    } catch (const Error& error) {
        // The project's lock and the writers of the bank and the merged file still throw what
        // they cannot do.
        result.problems.append(Problem{{}, {}, error.message()});
    }
    return result;
}

} // namespace quillner
