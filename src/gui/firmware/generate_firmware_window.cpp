#include "gui/firmware/generate_firmware_window.h"

#include "core/app/error.h"
#include "core/app/project_layout.h"
#include "core/app/project_lock.h"
#include "core/update/device_update.h"
#include "core/update/update_outcome.h"
#include "gui/app/report_saving.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace quillner {

namespace {

constexpr int kClientWidth = 430;
constexpr int kVerdictTop = 194;
// The verdict's room: two lines at least, so the window keeps its size for most verdicts, and
// as many more as its text takes up to eight; the outcome above holds what goes further.
constexpr int kVerdictLeastLines = 2;
constexpr int kVerdictMostLines = 8;
constexpr int kBottomBarHeight = 8;
constexpr int kGapAboveBar = 6;
const QColor kBackground(248, 247, 237);
const QColor kText(51, 51, 51);
const QColor kSkyBlue(135, 206, 235);
// Dark enough to read on the window's background.
const QColor kFailedText(176, 0, 0);
const QColor kSucceededText(0, 110, 0);

} // namespace

TFModifyFileSx::TFModifyFileSx(const AppPaths& paths, QWidget* parent)
    : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FModifyFileSx"));
    setWindowTitle(QStringLiteral("Generate Firmware"));
    setFont(QFont(QStringLiteral("Verdana"), 8));
    QPalette look = palette();
    look.setColor(QPalette::Window, kBackground);
    // The Disabled group keeps the style's text colours, so a button that cannot be pressed
    // looks so.
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            look.setColor(group, role, kText);
    }
    setPalette(look);
    setAutoFillBackground(true);

    m_closeButton = new QPushButton(QStringLiteral("&X"), this);
    m_closeButton->setObjectName(QStringLiteral("LbButton1"));
    m_closeButton->setAccessibleName(QStringLiteral("Close"));
    m_closeButton->setAutoDefault(false);
    m_closeButton->setGeometry(kClientWidth - 28, 4, 24, 22);

    auto* report = new QPushButton(QStringLiteral("&Save report..."), this);
    report->setObjectName(QStringLiteral("SaveReport"));
    report->setToolTip(QStringLiteral("Save the project's configuration as a page to hand on"));
    report->setAutoDefault(false);
    report->setGeometry(8, 4, 120, 22);

    m_executeButton = new QPushButton(QStringLiteral("&Execute update firmware"), this);
    m_executeButton->setObjectName(QStringLiteral("LbButton2"));
    m_executeButton->setAutoDefault(false);
    m_executeButton->setEnabled(false);
    m_executeButton->setGeometry(70, 40, 190, 28);

    m_portList = new QComboBox(this);
    m_portList->setObjectName(QStringLiteral("cbport"));
    for (int port = 0; port < kFlasherPortCount; ++port)
        m_portList->addItem(flasherPortName(port));
    m_portList->setGeometry(276, 42, 84, 24);
    auto* portLabel = new QLabel(QStringLiteral("Port"), this);
    portLabel->setObjectName(QStringLiteral("Label1"));
    portLabel->setBuddy(m_portList);
    portLabel->setGeometry(276, 22, 84, 18);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("Avanzamento"));
    m_progress->setAccessibleName(QStringLiteral("Update progress"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setGeometry(20, 80, kClientWidth - 40, 18);

    // What each stage did, in words: the bar alone is full whether the flasher started or not.
    m_outcome = new QPlainTextEdit(this);
    m_outcome->setObjectName(QStringLiteral("Outcome"));
    m_outcome->setAccessibleName(QStringLiteral("Outcome of the update"));
    m_outcome->setReadOnly(true);
    m_outcome->setTabChangesFocus(true);
    m_outcome->setGeometry(20, 104, kClientWidth - 40, 86);

    // How the press ended, in one statement: the flashing tool's own verdict, or why it was not
    // started. Wrapped on as many lines as it takes, red on failure, green on success; the
    // screen reader reads its text, the description says what it is.
    m_flasherVerdict = new QLabel(this);
    m_flasherVerdict->setObjectName(QStringLiteral("FlasherVerdict"));
    m_flasherVerdict->setAccessibleDescription(QStringLiteral("Outcome of the last update"));
    m_flasherVerdict->setTextFormat(Qt::PlainText);
    m_flasherVerdict->setWordWrap(true);
    m_flasherVerdict->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont verdictFont = font();
    verdictFont.setBold(true);
    m_flasherVerdict->setFont(verdictFont);
    m_flasherVerdict->setGeometry(20, kVerdictTop, kClientWidth - 40, 0);
    m_flasherVerdict->hide();
    m_flasher = new QProcess(this);
    connect(m_flasher, &QProcess::readyRead, this, [this] { flasherOutputArrived(); });
    connect(m_flasher, &QProcess::finished, this, [this] { flasherEnded(); });

    m_bottomBar = new QFrame(this);
    m_bottomBar->setObjectName(QStringLiteral("Shape1"));
    m_bottomBar->setStyleSheet(
        QStringLiteral("QFrame#Shape1 { background-color: %1; border: 1px solid %2; }")
            .arg(kSkyBlue.name(), kText.name()));
    makeFixedToolWindow(this);
    fitVerdict();

    connect(m_closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_executeButton, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { executeUpdate(); }); });
    connect(report, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            saveReportAs(this, m_paths.ProjectDir, [this] {
                return ConfigurationReport{describeProject(m_paths.ProjectDir), {}, {}, {}};
            });
        });
    });
    // Centred at every showing, like every window of the tool: a second showing placed
    // higher than the first only made the window jump.
    applyWindowHabits(this);
}

void TFModifyFileSx::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { prepareUpdate(); });
}

void TFModifyFileSx::setCompileOutcome(const QStringList& lines)
{
    m_compileOutcome = lines;
}

void TFModifyFileSx::showFlasherVerdict(const QString& verdict, bool succeeded)
{
    m_flasherVerdict->setText(QStringLiteral("Flasher verdict: %1").arg(verdict));
    fitVerdict();
    showVerdictColour(succeeded);
    m_flasherVerdict->setVisible(true);
    if (!succeeded)
        showProgressFailed();
}

void TFModifyFileSx::showPressFailed(const QStringList& stageLines)
{
    // The stage's first line and its first detail: the outcome above holds the rest.
    QString reason = stageLines.value(0);
    if (stageLines.size() > 1)
        reason += u'\n' + stageLines[1].trimmed();
    m_flasherVerdict->setText(reason);
    fitVerdict();
    showVerdictColour(false);
    m_flasherVerdict->setVisible(true);
    showProgressFailed();
}

void TFModifyFileSx::clearVerdict()
{
    m_flasherVerdict->clear();
    m_flasherVerdict->hide();
    fitVerdict();
    m_progress->setTextVisible(false);
    m_progress->setAccessibleDescription(QString());
}

void TFModifyFileSx::fitVerdict()
{
    const int line = m_flasherVerdict->fontMetrics().lineSpacing();
    const int height = std::clamp(m_flasherVerdict->heightForWidth(m_flasherVerdict->width()),
                                  line * kVerdictLeastLines + 2, line * kVerdictMostLines + 2);
    m_flasherVerdict->resize(m_flasherVerdict->width(), height);
    const int barTop = kVerdictTop + height + kGapAboveBar;
    m_bottomBar->setGeometry(0, barTop, kClientWidth, kBottomBarHeight);
    setFixedSize(kClientWidth, barTop + kBottomBarHeight);
}

void TFModifyFileSx::showVerdictColour(bool succeeded)
{
    QPalette look = m_flasherVerdict->palette();
    look.setColor(QPalette::WindowText, succeeded ? kSucceededText : kFailedText);
    m_flasherVerdict->setPalette(look);
}

void TFModifyFileSx::showProgressFailed()
{
    // A full bar reads as done: after a failure it is empty and says so.
    m_progress->setValue(m_progress->minimum());
    m_progress->setFormat(QStringLiteral("Failed"));
    m_progress->setTextVisible(true);
    m_progress->setAccessibleDescription(QStringLiteral("Failed"));
}

QString TFModifyFileSx::outcomeText() const
{
    return m_outcome->toPlainText();
}

void TFModifyFileSx::showOutcome(const QStringList& lines)
{
    m_outcome->setPlainText((m_compileOutcome + lines).join(u'\n'));
    followOutcomeEnd();
}

void TFModifyFileSx::followOutcomeEnd()
{
    // The newest line is the one to read: the log shows its end, as a terminal does.
    QScrollBar* bar = m_outcome->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TFModifyFileSx::prepareUpdate()
{
    m_portList->setCurrentIndex(0);
    m_progress->setValue(0);
    m_executeButton->setEnabled(false);
    showOutcome({});
    clearVerdict();

    const Result<FirmwareJob> plan = planFirmwareJob(m_paths, m_paths.MasterDir);
    m_binFolder = plan.value.binFolder;
    if (!plan.whole()) {
        showOutcome(QStringList{QStringLiteral("Not ready:")} + problemLines(plan.problems));
        for (const QString& line : problemLines(plan.problems))
            showErrorMessage(this, line);
        return;
    }
    if (!QDir::setCurrent(m_paths.MasterDir)) {
        showOutcome({QStringLiteral("Not ready: the MASTER folder %1 cannot be made current")
                         .arg(QDir::toNativeSeparators(m_paths.MasterDir))});
        showErrorMessage(this, QStringLiteral("Error"));
        return;
    }
    m_job = plan.value;
    m_firmwareName = m_job.firmwareName;
    m_outputFolder = m_job.outputFolder;
    m_newFirmwareName = m_job.newFileName;
    m_executeButton->setEnabled(true);
}

void TFModifyFileSx::executeUpdate()
{
    // One tool writes one device at a time, from the merged file: a press while it runs merges
    // nothing, so the file it reads stays as it is, and neither does the outcome change.
    if (flasherRunning()) {
        showPlainMessage(this, QStringLiteral("%1 is still writing the device; wait for its end")
                                   .arg(QString::fromLatin1(kFlasherName)));
        return;
    }
    showOutcome({});
    clearVerdict();
    MergeResult merged;
    try {
        merged = mergeBank();
    } catch (const Error& error) {
        // The general error report tells it too; the outcome keeps it in view.
        const QStringList lines = {QStringLiteral("Not merged:"),
                                   QStringLiteral("  ") + error.message()};
        showOutcome(lines);
        showPressFailed(lines);
        throw;
    }
    const QStringList mergeLines = mergeOutcomeLines(m_job, merged);
    showOutcome(mergeLines);
    showOutcome(mergeLines + startFlasherAfter(merged));
}

MergeResult TFModifyFileSx::mergeBank()
{
    m_progress->setValue(0);
    const ProjectLock lock(m_paths.ProjectDir);
    return m_job.merge([this](qint64 position, qint64 maximum) {
        // The bar counts in int; a firmware of more lines than that is shown to scale.
        const double scale = maximum > INT_MAX ? double(INT_MAX) / double(maximum) : 1.0;
        m_progress->setMaximum(int(double(maximum) * scale));
        m_progress->setValue(int(double(position) * scale));
    });
}

QStringList TFModifyFileSx::startFlasherAfter(const MergeResult& merged)
{
    const int port = m_portList->currentIndex();
    const FlashDecision decision = m_job.decideFlash(merged, port);
    for (const QString& line : problemLines(decision.launch.problems))
        showPlainMessage(this, line);
    if (decision.refused()) {
        const QStringList lines = flasherOutcomeLines(m_job, decision, port, std::nullopt);
        // Said by the stage that stopped the press: the merge, unless it gave a file fit for
        // the device and the tool could not be launched.
        showPressFailed(decision.refusal == FlashRefusal::CannotLaunch
                            ? lines
                            : mergeOutcomeLines(m_job, merged));
        return lines;
    }
    startWatchedFlasher(decision.launch.value);
    Q_EMIT flasherStarted(decision.launch.value.program, decision.launch.value.arguments);
    return flasherOutcomeLines(m_job, decision, port, m_flasher->processId());
}

TFModifyFileSx::~TFModifyFileSx()
{
    // A tool still writing a device is left to finish: destroying its process would kill it
    // half-way. It is no longer watched, and goes on by itself once this program has ended.
    m_flasher->disconnect(this);
    if (flasherRunning())
        m_flasher->setParent(nullptr);
}

bool TFModifyFileSx::flasherRunning() const
{
    return m_flasher->state() != QProcess::NotRunning;
}

void TFModifyFileSx::startWatchedFlasher(const FlasherLaunch& launch)
{
    m_flasherLastLine.clear();
    m_flasherLines = std::make_unique<FlasherLines>(
        [this](const QString& line) {
            m_outcome->appendPlainText(QStringLiteral("  ") + line);
            followOutcomeEnd();
        },
        m_flasherLastLine);
    m_flasherClock.start();
    startWatchedFlasherProcess(*m_flasher, launch);
}

void TFModifyFileSx::flasherOutputArrived()
{
    if (m_flasherLines)
        m_flasherLines->add(m_flasher->readAll());
}

void TFModifyFileSx::flasherEnded()
{
    flasherOutputArrived();
    if (m_flasherLines)
        m_flasherLines->finish();
    const FlasherVerdict verdict = finishedFlasherVerdict(
        m_flasher->exitStatus() == QProcess::NormalExit, m_flasher->exitCode(), m_flasherLastLine,
        m_flasher->processId(), m_flasherClock.elapsed());
    showFlasherVerdict(flasherVerdictText(verdict), verdict.succeeded());
}

} // namespace quillner
