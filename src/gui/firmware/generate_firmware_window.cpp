#include "gui/firmware/generate_firmware_window.h"

#include "core/app/project_layout.h"
#include "core/update/device_update.h"
#include "core/update/update_outcome.h"
#include "gui/app/report_saving.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/firmware/update_session.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QHideEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
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
                Result<ConfigurationDescription> described = describeProject(m_paths.ProjectDir);
                return Result<ConfigurationReport>{
                    ConfigurationReport{std::move(described.value), {}, {}, {}},
                    std::move(described.problems),
                    {}};
            });
        });
    });
    // Centred at every showing, like every window of the tool: a second showing placed
    // higher than the first only made the window jump.
    applyWindowHabits(this);
}

TFModifyFileSx::~TFModifyFileSx() = default;

void TFModifyFileSx::follow(UpdateSession* session)
{
    if (m_session)
        m_session->disconnect(this);
    m_session = session;
    // Each of the run's words is shown by one member, guarded as a handler is.
    const auto show = [this](auto shown) {
        return
            [this, shown](const auto&... told) { guarded(this, [&] { (this->*shown)(told...); }); };
    };
    connect(session, &UpdateSession::planned, this, show(&TFModifyFileSx::showPlan));
    connect(session, &UpdateSession::mergeProgress, this, show(&TFModifyFileSx::showMergeProgress));
    connect(session, &UpdateSession::merged, this, show(&TFModifyFileSx::showMerged));
    connect(session, &UpdateSession::waitingForPort, this,
            show(&TFModifyFileSx::showWaitingForPort));
    connect(session, &UpdateSession::flasherStarted, this,
            show(&TFModifyFileSx::showFlasherStarted));
    connect(session, &UpdateSession::flasherOutput, this, show(&TFModifyFileSx::showFlasherLine));
    connect(session, &UpdateSession::passEnded, this,
            [this](const FirmwareJob&, const UpdatePass& pass) {
                guarded(this, [&] { showPassEnded(pass); });
            });
    connect(session, &UpdateSession::ended, this, show(&TFModifyFileSx::showRunEnded));
}

void TFModifyFileSx::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_portList->setCurrentIndex(0);
    m_progress->setValue(0);
    m_executeButton->setEnabled(false);
    showOutcome({});
    clearVerdict();
    if (m_session && m_session->open()) {
        if (m_session->plan())
            guarded(this, [this] { showPlan(*m_session->plan()); });
        return;
    }
    // Shown by itself: a run of its own merges the bank the bin folder holds.
    m_ownSession.reset();
    m_ownSession = std::make_unique<UpdateSession>(windowUpdateRequest(m_paths, false), nullptr);
    follow(m_ownSession.get());
    m_ownSession->start();
}

void TFModifyFileSx::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // Closed: the run ends once the tool of its last press has, and lets the project go. A
    // window minimised by the system is not closed.
    if (!event->spontaneous() && m_session)
        m_session->finish();
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

void TFModifyFileSx::showPlan(const Result<FirmwareJob>& plan)
{
    const auto shown = qScopeGuard([this] { Q_EMIT planShown(); });
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
    // A press while the merge of the last one runs is that press's.
    if (m_passRunning || !m_session || !m_session->open())
        return;
    showOutcome({});
    clearVerdict();
    m_progress->setValue(0);
    m_passRunning = true;
    m_pass.reset();
    m_passLines.clear();
    m_session->press(m_portList->currentIndex());
}

void TFModifyFileSx::showMergeProgress(qint64 position, qint64 maximum)
{
    // The bar counts in int; a firmware of more lines than that is shown to scale.
    const double scale = maximum > INT_MAX ? double(INT_MAX) / double(maximum) : 1.0;
    m_progress->setMaximum(int(double(maximum) * scale));
    m_progress->setValue(int(double(position) * scale));
}

void TFModifyFileSx::showMerged(const FirmwareJob& job, const UpdatePass& pass)
{
    m_job = job;
    m_pass = pass;
    const QStringList mergeLines = mergeOutcomeLines(job, pass.merged);
    m_passLines = mergeLines;
    showOutcome(m_passLines);
    const FlashDecision& decision = pass.decision;
    for (const QString& line : problemLines(decision.launch.problems))
        showPlainMessage(this, line);
    if (!decision.refused())
        return;
    const QStringList lines = flasherOutcomeLines(job, decision, pass.port, std::nullopt);
    // Said by the stage that stopped the press: the merge, unless it gave a file fit for the
    // device and the tool could not be launched.
    showPressFailed(decision.refusal == FlashRefusal::CannotLaunch ? lines : mergeLines);
    m_passLines += lines;
    showOutcome(m_passLines);
    endPress();
}

void TFModifyFileSx::showWaitingForPort(const QString& message)
{
    m_passLines << message;
    showOutcome(m_passLines);
}

void TFModifyFileSx::showFlasherStarted(const FlasherLaunch& launch, qint64 processId)
{
    m_flasherRunning = true;
    if (m_pass)
        m_passLines += flasherOutcomeLines(m_job, m_pass->decision, m_pass->port, processId);
    showOutcome(m_passLines);
    Q_EMIT flasherStarted(launch.program, launch.arguments);
}

void TFModifyFileSx::showFlasherLine(const QString& line)
{
    m_outcome->appendPlainText(QStringLiteral("  ") + line);
    followOutcomeEnd();
}

void TFModifyFileSx::showPassEnded(const UpdatePass& pass)
{
    m_flasherRunning = false;
    if (pass.verdict)
        showFlasherVerdict(flasherVerdictText(*pass.verdict), pass.verdict->succeeded());
    endPress();
}

void TFModifyFileSx::showRunEnded(const Result<UpdateReport>& result)
{
    m_flasherRunning = false;
    m_executeButton->setEnabled(false);
    // A plan without the firmware was told when it came.
    if (!result.whole() && result.value.stop != UpdateStop::NotPlanned) {
        QStringList lines = {m_passRunning ? (m_pass ? QStringLiteral("Not flashed:")
                                                     : QStringLiteral("Not merged:"))
                                           : QStringLiteral("Not ready:")};
        for (const QString& line : problemLines(result.problems))
            lines << QStringLiteral("  ") + line;
        showOutcome(m_passLines + lines);
        if (m_passRunning)
            showPressFailed(lines);
        // The general error report tells it too; the outcome keeps it in view.
        for (const QString& line : problemLines(result.problems))
            reportError(this, line);
    }
    if (m_passRunning)
        endPress();
}

void TFModifyFileSx::endPress()
{
    m_passRunning = false;
    Q_EMIT pressEnded();
}

} // namespace quillner
