#pragma once

#include "core/app/app_paths.h"
#include "core/app/project_layout.h"
#include "core/update/firmware_job.h"
#include "core/update/flasher_run.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProcess;
class QProgressBar;
class QPushButton;

namespace quillner {

// "Generate Firmware": merges the project's bank 1 into a copy of the device firmware and
// starts the flashing tool with the merged file and the chosen serial port.
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

    // Finds the firmware and the project's folders; the update is enabled when all are there.
    void prepareUpdate();
    // The merge, then the flashing tool when the merge's result allows it.
    void executeUpdate();

    // The compile's outcome, shown first at the next showing (the main window compiles before
    // it shows this window).
    void setCompileOutcome(const QStringList& lines);
    // The flashing tool's own verdict once it is known, below the outcome: green when it
    // succeeded; red, with the progress bar emptied and saying "Failed", when not.
    void showFlasherVerdict(const QString& verdict, bool succeeded);
    // Every stage's outcome as shown below the progress bar.
    QString outcomeText() const;
    // The flashing tool this window started is still writing a device: ending the program now
    // would kill it half-way.
    bool flasherRunning() const;

Q_SIGNALS:
    // The flashing tool was started with these arguments.
    void flasherStarted(const QString& program, const QStringList& arguments);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The merge step and the update step of one press; the update step decides on the result
    // of this press's merge only.
    MergeResult mergeBank();
    // The flasher's outcome in words.
    QStringList startFlasherAfter(const MergeResult& merged);
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
    // The tool's output below the outcome as it comes, and its verdict once it ends.
    void startWatchedFlasher(const FlasherLaunch& launch);
    void flasherOutputArrived();
    void flasherEnded();

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
    // The flashing tool of the last press: not detached, so that its verdict can be shown, and
    // owned by the window, which lives for the whole run.
    QProcess* m_flasher;
    QElapsedTimer m_flasherClock;
    QString m_flasherLastLine;
    std::unique_ptr<FlasherLines> m_flasherLines;
};

} // namespace quillner
