#pragma once

#include "core/app/app_paths.h"
#include "core/app/project_layout.h"
#include "core/update/firmware_job.h"
#include "core/update/update_run.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quillner {

class UpdateSession;

// "Generate Firmware": merges the project's bank 1 into a copy of the device firmware and
// starts the flashing tool with the merged file and the chosen serial port. Each press is a pass
// of one update run (UpdateSession), which holds the project's lock until the window is closed
// and the tool has ended; closing the window ends the run.
class TFModifyFileSx : public QDialog
{
    Q_OBJECT
public:
    explicit TFModifyFileSx(const AppPaths& paths, QWidget* parent = nullptr);
    ~TFModifyFileSx() override;

    // What the last showing found, kept between showings as the window is reused.
    const QString& firmwareName() const { return m_firmwareName; }
    const QString& newFirmwareName() const { return m_newFirmwareName; }
    const QString& binFolder() const { return m_binFolder; }
    const QString& outputFolder() const { return m_outputFolder; }

    // The run whose plan the next showing shows and whose passes its presses make (the main
    // window's, which compiled first). A showing without an open one starts its own run, of the
    // bank already in the project's bin folder.
    void follow(UpdateSession* session);
    // Hands the chosen port to the run: the merge, then the flashing tool when the merge's
    // result allows it. The pass ends with pressEnded.
    void executeUpdate();

    // The compile's outcome, shown first at the next showing (the main window compiles before
    // it shows this window).
    void setCompileOutcome(const QStringList& lines);
    // The flashing tool's own verdict once it is known, below the outcome: green when it
    // succeeded; red, with the progress bar emptied and saying "Failed", when not.
    void showFlasherVerdict(const QString& verdict, bool succeeded);
    // Every stage's outcome as shown below the progress bar.
    QString outcomeText() const;
    // The flashing tool of this window's last press is still writing a device.
    bool flasherRunning() const { return m_flasherRunning; }

Q_SIGNALS:
    // The flashing tool was started with these arguments.
    void flasherStarted(const QString& program, const QStringList& arguments);
    // The showing's plan is shown: the update is enabled when the firmware and the project's
    // folders are there.
    void planShown();
    // The pass of a press has ended: its outcome and verdict are shown.
    void pressEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Finds the firmware and the project's folders in the run's plan.
    void showPlan(const Result<FirmwareJob>& plan);
    void showMergeProgress(qint64 position, qint64 maximum);
    // The merge's outcome in words; the press ends here when the merge allows no flashing.
    void showMerged(const FirmwareJob& job, const UpdatePass& pass);
    void showWaitingForPort(const QString& message);
    void showFlasherStarted(const FlasherLaunch& launch, qint64 processId);
    void showPassEnded(const UpdatePass& pass);
    void showRunEnded(const Result<UpdateReport>& result);
    void endPress();
    // The compile's outcome followed by the lines of this press.
    void showOutcome(const QStringList& lines);
    void followOutcomeEnd();
    // Why this press wrote no device, from the outcome lines of the stage that stopped it, where
    // the verdict goes; and the bar showing the failure.
    void showPressFailed(const QStringList& stageLines);
    void clearVerdict();
    void showVerdictColour(bool succeeded);
    // The verdict's lines, and the window's height below them, for the text it holds.
    void fitVerdict();
    void showProgressFailed();
    // The tool's output below the outcome as it comes.
    void showFlasherLine(const QString& line);

    const AppPaths& m_paths;
    QString m_firmwareName;
    QString m_newFirmwareName;
    QString m_binFolder;
    QString m_outputFolder;
    // The job of the last showing that found the firmware.
    FirmwareJob m_job;
    QPushButton* m_closeButton;
    QPushButton* m_executeButton;
    QComboBox* m_portList;
    QProgressBar* m_progress;
    QFrame* m_bottomBar;
    QPlainTextEdit* m_outcome;
    QLabel* m_flasherVerdict;
    QStringList m_compileOutcome;
    QPointer<UpdateSession> m_session;
    // The run a showing started when no open one was given.
    std::unique_ptr<UpdateSession> m_ownSession;
    // The press under way: its pass so far, and its stages' lines.
    bool m_passRunning = false;
    bool m_flasherRunning = false;
    std::optional<UpdatePass> m_pass;
    QStringList m_passLines;
};

} // namespace quillner
