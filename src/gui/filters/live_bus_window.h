#pragma once

#include "core/bank/bank_compiler.h"
#include "core/device/configuration_bank.h"
#include "core/logs/frame_tally.h"
#include "core/logs/live_bus.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QThread;

namespace quillner {

class IdentifierMap;

// "Live bus": the frames of a CAN interface judged by the filter as shown, as they come. A CAN
// 2.0A bank lights the identifiers heard on the map of the 2048 (passed, blocked or both); a
// CAN 2.0B bank counts the frames that meet each entry of its list or patterns. The bus is read
// on a worker thread that only counts; the window takes its tally a few times a second.
class LiveBusWindow : public QDialog
{
    Q_OBJECT
public:
    explicit LiveBusWindow(QWidget* parent = nullptr);
    ~LiveBusWindow() override;

    // The bank the frames are judged by; notes (what its compile told) are shown at the top. A
    // session still running is stopped first.
    void setBank(const ConfigurationBank& bank, const QStringList& notes = {});
    // Listens to the typed bus until Stop, or until the end given; a session still running is
    // stopped first.
    void start(const QString& address, const SessionEnd& end = {});
    bool isListening() const { return m_worker != nullptr; }
    // Ends the session; the view keeps what was heard.
    void stop();

    // The tally the view shows.
    const FilterTally& shownTally() const { return m_shown; }

public Q_SLOTS:
    void reject() override;

Q_SIGNALS:
    // The bus is open and frames can come.
    void listening();
    // The session ended and the view shows all it heard.
    void ended();

private:
    void startTyped();
    void showTally(const FilterTally& tally);
    void showEntries(const FilterTally& tally);
    void takeTally();
    void takeResult();
    void stopWorker();

    QLabel* m_notes;
    QLineEdit* m_address;
    QPushButton* m_start;
    QPushButton* m_stop;
    IdentifierMap* m_map;
    QTableWidget* m_entries;
    QLabel* m_status;
    QLabel* m_totals;
    QTimer m_poll;

    ConfigurationBank m_bank{};
    std::unique_ptr<QThread> m_worker;
    int m_generation = 0;
    std::atomic<bool> m_stopRequested{false};
    // Written by the worker as frames come, read by the window under the lock.
    std::mutex m_lock;
    FilterTally m_workerTally;
    // Written by the worker, read once it has ended.
    Result<LogReading> m_workerResult;
    QString m_workerFailure;

    FilterTally m_shown;
};

// Opens the live-bus window over the owner, judging by the bank that compile gives.
void openLiveBusWindow(QWidget* owner, const std::function<CompiledBank()>& compile);

} // namespace quillner
