#pragma once

#include "core/analysis/configuration_report.h"
#include "core/analysis/recording_test.h"
#include "core/bank/bank_compiler.h"
#include "core/device/configuration_bank.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QThread;

namespace quillner {

class IdentifierTableModel;

// "Test on recording": a recording read in a worker thread and judged frame by frame by a bank's
// filter, with a progress bar and Cancel while it runs; then its identifiers in a table that
// sorts by any column, and the totals. The window stays responsive whatever the recording's
// size: the worker only counts, and the window looks at its progress a few times a second.
class RecordingTestWindow : public QDialog
{
    Q_OBJECT
public:
    explicit RecordingTestWindow(QWidget* parent = nullptr);
    ~RecordingTestWindow() override;

    // Starts the test of the recording; notes (what the compile of the bank told) are shown above
    // the table. A test still running is cancelled first.
    void start(const ConfigurationBank& bank, const QString& recording,
               const QStringList& notes = {});
    bool isRunning() const;
    // Stops a running test; the table then holds the frames read before.
    void cancel();

    // The last test that read its recording to the end.
    const std::optional<RecordingTest>& lastTest() const { return m_lastTest; }
    // Adds the last complete test, and the DBC names, to a report; nothing without one.
    void addLastTest(ConfigurationReport& report) const;
    // Names the identifiers after the messages of the DBC file.
    void useDbc(const QString& path);

    // Asks the owner's user for a recording (beginning in startFolder); when one is chosen,
    // tests it against the bank that compile gives and shows this window over the owner.
    void testChosenRecording(QWidget* owner, const QString& startFolder,
                             const std::function<CompiledBank()>& compile);

public Q_SLOTS:
    void reject() override;

private:
    void showProgress();
    void takeResult();
    void chooseDbc();
    void showTable(const RecordingTest& test);
    // Waits for the worker to end, after asking it to.
    void stopWorker();

    QLabel* m_recording;
    QLabel* m_notes;
    QProgressBar* m_progress;
    QPushButton* m_cancel;
    QTableView* m_table;
    IdentifierTableModel* m_model;
    QSortFilterProxyModel* m_sorted;
    QLabel* m_totals;
    QTimer m_poll;

    std::unique_ptr<QThread> m_worker;
    int m_generation = 0;
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    // Written by the worker, read once it has ended.
    std::optional<RecordingTest> m_workerResult;
    QString m_workerFailure;

    std::optional<RecordingTest> m_shown; // complete or cancelled, as the table shows it
    std::optional<RecordingTest> m_lastTest;
    MessageNames m_names;
};

} // namespace quillner
