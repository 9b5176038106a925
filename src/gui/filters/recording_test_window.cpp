#include "gui/filters/recording_test_window.h"

#include "core/filters/dbc_reader.h"
#include "gui/app/named_widgets.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/filters/identifier_table_model.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>

namespace quillner {

namespace {

constexpr int kProgressScale = 1000;

} // namespace

RecordingTestWindow::RecordingTestWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("RecordingTest"));
    setWindowTitle(QStringLiteral("Test on recording"));

    m_recording = new QLabel(this);
    m_recording->setObjectName(QStringLiteral("RecordingName"));
    m_recording->setTextFormat(Qt::PlainText);
    m_notes = new QLabel(this);
    m_notes->setObjectName(QStringLiteral("TestNotes"));
    m_notes->setTextFormat(Qt::PlainText);
    m_notes->setWordWrap(true);
    m_notes->hide();

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("TestProgress"));
    m_progress->setAccessibleName(QStringLiteral("Recording read"));
    m_progress->setRange(0, kProgressScale);
    m_cancel = makeButton(this, "CancelTest", QStringLiteral("&Cancel"));
    m_cancel->setToolTip(QStringLiteral("Stop reading; the table shows the frames read so far"));
    auto* running = new QHBoxLayout;
    running->addWidget(m_progress, 1);
    running->addWidget(m_cancel);

    m_model = new IdentifierTableModel(this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSourceModel(m_model);
    m_sorted->setSortRole(Qt::UserRole);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("IdentifierTable"));
    m_table->setAccessibleName(QStringLiteral("Frames by ID"));
    m_table->setModel(m_sorted);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(IdentifierTableModel::Identifier, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);

    m_totals = new QLabel(this);
    m_totals->setObjectName(QStringLiteral("TestTotals"));
    m_totals->setTextFormat(Qt::PlainText);
    m_totals->setWordWrap(true);
    m_totals->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* dbc = makeButton(this, "ChooseDbc", QStringLiteral("Names from &DBC..."));
    dbc->setToolTip(QStringLiteral("Name the IDs after the messages of a DBC file"));
    auto* close = makeButton(this, "CloseTest", QStringLiteral("C&lose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(dbc);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_recording);
    layout->addWidget(m_notes);
    layout->addLayout(running);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_totals);
    layout->addLayout(buttons);
    resize(640, 480);

    m_poll.setInterval(100);
    connect(&m_poll, &QTimer::timeout, this, &RecordingTestWindow::showProgress);
    connect(m_cancel, &QPushButton::clicked, this, &RecordingTestWindow::cancel);
    connect(dbc, &QPushButton::clicked, this, [this] { guarded(this, [this] { chooseDbc(); }); });
    connect(close, &QPushButton::clicked, this, &RecordingTestWindow::reject);
    applyWindowHabits(this);
}

RecordingTestWindow::~RecordingTestWindow()
{
    // Nothing is shown any more: the worker is only stopped before the window goes.
    if (m_worker) {
        m_cancelRequested = true;
        m_worker->wait();
    }
}

void RecordingTestWindow::start(const ConfigurationBank& bank, const QString& recording,
                                const QStringList& notes)
{
    stopWorker();
    m_recording->setText(QStringLiteral("Recording: %1").arg(QDir::toNativeSeparators(recording)));
    m_notes->setText(notes.join(u'\n'));
    m_notes->setVisible(!notes.isEmpty());
    m_model->setRows({});
    m_shown.reset();
    m_totals->setText(QStringLiteral("Reading..."));
    m_progress->setValue(0);
    m_progress->show();
    m_cancel->show();
    m_cancel->setEnabled(true);

    m_cancelRequested = false;
    m_done = 0;
    m_total = QFileInfo(recording).size();
    // A recording of no known size (a pipe) shows a busy bar.
    m_progress->setRange(0, m_total > 0 ? kProgressScale : 0);
    m_workerResult.reset();
    m_workerFailure.clear();
    // The worker counts only; whatever the window needs is taken once it has ended.
    m_worker.reset(QThread::create([this, bank, recording] {
        try {
            Result<RecordingTest> test = testRecording(
                bank, recording,
                [this](qint64 done, qint64 total) {
                    m_done = done;
                    m_total = total;
                },
                [this] { return m_cancelRequested.load(); });
            if (test.whole())
                m_workerResult = std::move(test.value);
            else
                m_workerFailure = problemLines(test.problems).join(u'\n');
        } catch (const std::exception& error) {
            // What the system raises (memory running out) ends the worker, not the program.
            m_workerFailure = QString::fromLocal8Bit(error.what());
        }
    }));
    // A test cancelled by a new start must not take the new one's result.
    const int generation = ++m_generation;
    connect(m_worker.get(), &QThread::finished, this, [this, generation] {
        if (generation == m_generation)
            takeResult();
    });
    m_worker->start();
    m_poll.start();
}

bool RecordingTestWindow::isRunning() const
{
    return m_worker != nullptr;
}

void RecordingTestWindow::cancel()
{
    if (!isRunning())
        return;
    m_cancelRequested = true;
    m_cancel->setEnabled(false);
    m_totals->setText(QStringLiteral("Cancelling..."));
}

void RecordingTestWindow::reject()
{
    stopWorker();
    QDialog::reject();
}

void RecordingTestWindow::stopWorker()
{
    if (!m_worker)
        return;
    m_cancelRequested = true;
    m_worker->wait();
    takeResult();
}

void RecordingTestWindow::showProgress()
{
    const qint64 total = m_total;
    if (total <= 0)
        return;
    m_progress->setValue(int(std::min<qint64>(kProgressScale, m_done * kProgressScale / total)));
}

void RecordingTestWindow::takeResult()
{
    if (!m_worker)
        return;
    m_worker->wait();
    m_worker.reset();
    m_poll.stop();
    m_progress->hide();
    m_cancel->hide();
    if (!m_workerFailure.isEmpty()) {
        m_totals->setText(QStringLiteral("Not read: %1").arg(m_workerFailure));
        reportError(this, m_workerFailure);
    } else if (m_workerResult) {
        if (!m_workerResult->cancelled)
            m_lastTest = m_workerResult;
        showTable(*m_workerResult);
    }
}

void RecordingTestWindow::showTable(const RecordingTest& test)
{
    m_shown = test;
    m_model->setRows(identifierRows(test.tally, m_names));
    m_table->resizeColumnsToContents();
    QStringList lines;
    if (test.cancelled)
        lines << QStringLiteral("Cancelled: the table holds the frames read before.");
    lines << recordingTotalsText(test.tally);
    lines << problemLines(test.unreadable);
    m_totals->setText(lines.join(u'\n'));
}

void RecordingTestWindow::useDbc(const QString& path)
{
    const Result<QList<DbcMessage>> messages = readDbcMessages(path);
    m_names = MessageNames(wholeValue(messages));
    if (m_shown)
        showTable(*m_shown);
}

void RecordingTestWindow::testChosenRecording(QWidget* owner, const QString& startFolder,
                                              const std::function<CompiledBank()>& compile)
{
    const std::optional<QString> path =
        chooseFile(owner, FileChoice::Open, QStringLiteral("Test on recording"), startFolder,
                   QStringLiteral("CAN recordings (*.log *.asc *.blf *.trc *.gz);;All files (*)"));
    if (!path)
        return;
    const CompiledBank compiled = compile();
    start(compiled.value, *path, problemLines(compiled.problems + compiled.warnings));
    runModal(this);
}

void RecordingTestWindow::addLastTest(ConfigurationReport& report) const
{
    if (!m_lastTest)
        return;
    report.recordings.append({m_lastTest->name, m_lastTest->tally});
    report.messageNames = m_names;
}

void RecordingTestWindow::chooseDbc()
{
    const std::optional<QString> path =
        chooseFile(this, FileChoice::Open, QStringLiteral("Names from DBC"), {},
                   QStringLiteral("DBC files (*.dbc);;All files (*)"));
    if (path)
        useDbc(*path);
}

} // namespace quillner
