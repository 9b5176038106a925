#include "gui/filters/live_bus_window.h"

#include "core/analysis/recording_test.h"
#include "core/app/error.h"
#include "core/device/identifier_text.h"
#include "core/device/receive_filter.h"
#include "core/device/settings.h"
#include "core/filters/mask_pattern.h"
#include "gui/app/named_widgets.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/filters/identifier_map.h"

#include <QCompleter>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

namespace quillner {

namespace {

// The view takes the worker's tally this often: at most ten times a second, as on a terminal.
constexpr int kPollMs = 100;

// The frames of the tally's extended identifiers that meet each entry, and those that meet none.
struct EntryCounts
{
    QStringList entries;
    QList<quint64> frames;
    quint64 noEntry = 0;
};

EntryCounts entryCounts(const FrameFilter& filter, const FilterTally& tally)
{
    EntryCounts counts;
    const QList<quint32>& listed = filter.bankFilter().identifiers;
    const QList<StoredPattern>& patterns = filter.bankFilter().patterns;
    for (const quint32 id : listed)
        counts.entries << identifierText(id, true);
    for (const StoredPattern& pattern : patterns)
        counts.entries << BitsToPattern(pattern.nonZeroBits, pattern.oneBits);
    counts.frames.fill(0, counts.entries.size());
    for (const auto& each : tally.extended.entries()) {
        const quint64 frames = each.counts.passed + each.counts.blocked;
        bool met = false;
        for (qsizetype k = 0; k < listed.size(); ++k) {
            if (listed[k] == each.id) {
                counts.frames[k] += frames;
                met = true;
            }
        }
        for (qsizetype k = 0; k < patterns.size(); ++k) {
            if (patterns[k].passes(each.id)) {
                counts.frames[listed.size() + k] += frames;
                met = true;
            }
        }
        if (!met)
            counts.noEntry += frames;
    }
    return counts;
}

} // namespace

LiveBusWindow::LiveBusWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("LiveBus"));
    setWindowTitle(QStringLiteral("Live bus"));

    m_notes = new QLabel(this);
    m_notes->setObjectName(QStringLiteral("LiveNotes"));
    m_notes->setTextFormat(Qt::PlainText);
    m_notes->setWordWrap(true);
    m_notes->hide();

    auto* addressLabel = new QLabel(QStringLiteral("&Bus:"), this);
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("BusAddress"));
    m_address->setPlaceholderText(QStringLiteral("socketcan:can0"));
    m_address->setToolTip(
        QStringLiteral("PLUGIN:INTERFACE, as Qt SerialBus opens it: socketcan:can0, peakcan:usb0, "
                       "virtualcan:can0"));
    QStringList plugins;
    for (const QString& plugin : busPlugins())
        plugins << plugin + u':';
    m_address->setCompleter(new QCompleter(plugins, m_address));
    addressLabel->setBuddy(m_address);
    m_start = makeButton(this, "StartListening", QStringLiteral("&Listen"));
    m_stop = makeButton(this, "StopListening", QStringLiteral("&Stop"));
    m_stop->setEnabled(false);
    auto* bus = new QHBoxLayout;
    bus->addWidget(addressLabel);
    bus->addWidget(m_address, 1);
    bus->addWidget(m_start);
    bus->addWidget(m_stop);

    m_map = new IdentifierMap(this);
    m_map->setObjectName(QStringLiteral("LiveMap"));
    m_map->setToolTip(QStringLiteral("Identifiers heard: green passed, red blocked"));
    m_entries = new QTableWidget(0, 2, this);
    m_entries->setObjectName(QStringLiteral("EntryCounts"));
    m_entries->setAccessibleName(QStringLiteral("Frames by filter entry"));
    m_entries->setHorizontalHeaderLabels({QStringLiteral("Entry"), QStringLiteral("Frames")});
    m_entries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_entries->verticalHeader()->hide();
    m_entries->horizontalHeader()->setStretchLastSection(true);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("LiveStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_totals = new QLabel(this);
    m_totals->setObjectName(QStringLiteral("LiveTotals"));
    m_totals->setTextFormat(Qt::PlainText);
    m_totals->setWordWrap(true);
    m_totals->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* close = makeButton(this, "CloseLiveBus", QStringLiteral("C&lose"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_notes);
    layout->addLayout(bus);
    layout->addWidget(m_map, 0, Qt::AlignHCenter);
    layout->addWidget(m_entries, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_totals);
    layout->addLayout(buttons);

    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &LiveBusWindow::takeTally);
    connect(m_start, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { startTyped(); }); });
    connect(m_address, &QLineEdit::returnPressed, this,
            [this] { guarded(this, [this] { startTyped(); }); });
    connect(m_stop, &QPushButton::clicked, this, &LiveBusWindow::stop);
    connect(close, &QPushButton::clicked, this, &LiveBusWindow::reject);
    setBank(m_bank);
    applyWindowHabits(this);
}

LiveBusWindow::~LiveBusWindow()
{
    // Nothing is shown any more: the worker is only stopped before the window goes.
    if (m_worker) {
        m_stopRequested = true;
        m_worker->wait();
    }
}

void LiveBusWindow::setBank(const ConfigurationBank& bank, const QStringList& notes)
{
    stopWorker();
    m_bank = bank;
    m_notes->setText(notes.join(u'\n'));
    m_notes->setVisible(!notes.isEmpty());
    const bool extended = frameFormatOfBank(bank) == FrameFormat::Extended;
    Filter20A shown;
    for (int id = 0; id < kStandardIdCount; ++id)
        shown.IdVisible[id] = identifierVisible(bank, id) ? 1 : 0;
    m_map->setFilter(shown);
    m_map->setVisible(!extended);
    m_entries->setVisible(extended);
    showTally(FilterTally{});
    m_status->setText(QStringLiteral("Type a bus and press Listen."));
}

void LiveBusWindow::startTyped()
{
    start(m_address->text().trimmed());
}

void LiveBusWindow::start(const QString& address, const SessionEnd& end)
{
    stopWorker();
    const std::optional<BusAddress> bus = busAddressOf(address);
    if (!bus)
        return reportError(this, QStringLiteral("A bus is written PLUGIN:INTERFACE (plugins "
                                                "here: %1), not '%2'")
                                     .arg(busPlugins().join(QStringLiteral(", ")), address));
    m_address->setText(address);
    showTally(FilterTally{});
    m_status->setText(QStringLiteral("Opening %1...").arg(bus->text()));
    m_start->setEnabled(false);
    m_stop->setEnabled(true);
    m_stopRequested = false;
    m_workerTally = FilterTally{};
    m_workerResult = {};
    m_workerFailure.clear();
    // A session stopped by a new start must not take the new one's result or its news.
    const int generation = ++m_generation;
    m_worker.reset(QThread::create([this, bus = *bus, end, bank = m_bank, generation] {
        const FrameFilter filter(bank);
        LogVisitor visitor;
        visitor.frame = [this, &filter](const LogFrame& frame) {
            const FrameVerdict verdict = filter.verdict(frame.busFrame());
            const std::lock_guard lock(m_lock);
            m_workerTally.add(frame, verdict);
        };
        SessionHooks hooks;
        hooks.stopRequested = [this] { return m_stopRequested.load(); };
        hooks.listening = [this, generation, name = bus.text()] {
            QMetaObject::invokeMethod(
                this,
                [this, generation, name] {
                    if (generation != m_generation)
                        return;
                    m_status->setText(QStringLiteral("Listening to %1...").arg(name));
                    Q_EMIT listening();
                },
                Qt::QueuedConnection);
        };
        try {
            m_workerResult = listenToBus(bus, end, visitor, hooks);
        } catch (const Error& error) {
            m_workerFailure = error.message();
        } catch (const std::exception& error) {
            m_workerFailure = QString::fromLocal8Bit(error.what());
        }
    }));
    connect(m_worker.get(), &QThread::finished, this, [this, generation] {
        if (generation == m_generation)
            takeResult();
    });
    m_worker->start();
    m_poll.start();
}

void LiveBusWindow::stop()
{
    if (!isListening())
        return;
    m_stopRequested = true;
    m_stop->setEnabled(false);
    m_status->setText(QStringLiteral("Stopping..."));
}

void LiveBusWindow::reject()
{
    stopWorker();
    QDialog::reject();
}

void LiveBusWindow::stopWorker()
{
    if (!m_worker)
        return;
    m_stopRequested = true;
    m_worker->wait();
    takeResult();
}

void LiveBusWindow::takeTally()
{
    FilterTally tally;
    {
        const std::lock_guard lock(m_lock);
        tally = m_workerTally;
    }
    showTally(tally);
}

void LiveBusWindow::takeResult()
{
    if (!m_worker)
        return;
    m_worker->wait();
    m_worker.reset();
    m_poll.stop();
    m_start->setEnabled(true);
    m_stop->setEnabled(false);
    FilterTally tally = m_workerTally;
    tally.addReading(m_workerResult.value);
    showTally(tally);
    QString failure = m_workerFailure;
    if (failure.isEmpty() && !m_workerResult.whole())
        failure = problemLines(m_workerResult.problems).join(u'\n');
    if (!failure.isEmpty()) {
        m_status->setText(QStringLiteral("Not heard to the end: %1").arg(failure));
        reportError(this, failure);
    } else {
        m_status->setText(QStringLiteral("Stopped: the view holds every frame heard."));
    }
    Q_EMIT ended();
}

void LiveBusWindow::showTally(const FilterTally& tally)
{
    m_shown = tally;
    std::array<IdentifierMap::Heard, kStandardIdCount> heard{};
    for (int id = 0; id < kStandardIdCount; ++id) {
        const FilterTally::Counts& counts = tally.standard[id];
        if (counts.passed > 0)
            heard[id] =
                counts.blocked > 0 ? IdentifierMap::Heard::Both : IdentifierMap::Heard::Passed;
        else if (counts.blocked > 0)
            heard[id] = IdentifierMap::Heard::Blocked;
    }
    m_map->setHeard(heard);
    showEntries(tally);
    m_totals->setText(recordingTotalsText(tally));
}

void LiveBusWindow::showEntries(const FilterTally& tally)
{
    const FrameFilter filter(m_bank);
    const EntryCounts counts = entryCounts(filter, tally);
    const bool isList = filter.bankFilter().kind == BankFilter::Kind::List;
    const QString noEntry =
        isList && filter.bankFilter().positive ? QStringLiteral("Not listed (blocked)")
        : isList                               ? QStringLiteral("Not listed (passed)")
        : counts.entries.isEmpty()             ? QStringLiteral("Every identifier (no filter)")
                                               : QStringLiteral("No pattern (blocked)");
    m_entries->setRowCount(int(counts.entries.size()) + 1);
    const auto setRow = [this](int row, const QString& entry, quint64 frames) {
        m_entries->setItem(row, 0, new QTableWidgetItem(entry));
        auto* number = new QTableWidgetItem(QString::number(frames));
        number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_entries->setItem(row, 1, number);
    };
    for (int row = 0; row < counts.entries.size(); ++row)
        setRow(row, counts.entries[row], counts.frames[row]);
    setRow(int(counts.entries.size()), noEntry, counts.noEntry);
}

void openLiveBusWindow(QWidget* owner, const std::function<CompiledBank()>& compile)
{
    // One window per owner, so that the bus typed is there the next time.
    auto* window = owner->findChild<LiveBusWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (!window)
        window = new LiveBusWindow(owner);
    const CompiledBank compiled = compile();
    window->setBank(compiled.value, problemLines(compiled.problems + compiled.warnings));
    runModal(window);
}

} // namespace quillner
