#include "gui/firmware/generate_firmware_window.h"

#include "core/app/project_lock.h"
#include "core/firmware/device_update.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <climits>

namespace quillner {

namespace {

constexpr int kClientWidth = 430;
constexpr int kClientHeight = 224;
const QColor kBackground(248, 247, 237);
const QColor kText(51, 51, 51);
const QColor kSkyBlue(135, 206, 235);

} // namespace

TFModifyFileSx::TFModifyFileSx(const AppPaths& paths, QWidget* parent)
    : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FModifyFileSx"));
    setWindowTitle(QStringLiteral("Generate Firmware"));
    setFont(QFont(QStringLiteral("Verdana"), 8));
    QPalette look = palette();
    look.setColor(QPalette::Window, kBackground);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        look.setColor(role, kText);
    setPalette(look);
    setAutoFillBackground(true);

    m_closeButton = new QPushButton(QStringLiteral("&X"), this);
    m_closeButton->setObjectName(QStringLiteral("LbButton1"));
    m_closeButton->setAccessibleName(QStringLiteral("Close"));
    m_closeButton->setAutoDefault(false);
    m_closeButton->setGeometry(kClientWidth - 28, 4, 24, 22);

    m_executeButton = new QPushButton(QStringLiteral("&Execute update firmware"), this);
    m_executeButton->setObjectName(QStringLiteral("LbButton2"));
    m_executeButton->setAutoDefault(false);
    m_executeButton->setEnabled(false);
    m_executeButton->setGeometry(70, 108, 190, 28);

    m_portList = new QComboBox(this);
    m_portList->setObjectName(QStringLiteral("cbport"));
    for (int port = 1; port <= kFlasherPortCount; ++port)
        m_portList->addItem(QStringLiteral("COM%1").arg(port));
    m_portList->setGeometry(276, 110, 84, 24);
    auto* portLabel = new QLabel(QStringLiteral("Port"), this);
    portLabel->setObjectName(QStringLiteral("Label1"));
    portLabel->setBuddy(m_portList);
    portLabel->setGeometry(276, 90, 84, 18);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("Avanzamento"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setGeometry(20, 158, kClientWidth - 40, 18);

    m_bottomBar = new QFrame(this);
    m_bottomBar->setObjectName(QStringLiteral("Shape1"));
    m_bottomBar->setStyleSheet(
        QStringLiteral("QFrame#Shape1 { background-color: %1; border: 1px solid %2; }")
            .arg(kSkyBlue.name(), kText.name()));
    m_bottomBar->setGeometry(0, kClientHeight - 8, kClientWidth, 8);

    makeFixedToolWindow(this);
    setFixedSize(kClientWidth, kClientHeight);

    connect(m_closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_executeButton, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { executeUpdate(); }); });
    // Centred at every showing, like every window of the tool: a second showing placed
    // higher than the first only made the window jump.
    applyWindowHabits(this);
}

void TFModifyFileSx::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { prepareUpdate(); });
}

void TFModifyFileSx::prepareUpdate()
{
    m_portList->setCurrentIndex(0);
    m_progress->setValue(0);
    m_executeButton->setEnabled(false);

    const Partial<FirmwareJob> plan = planFirmwareJob(m_paths, m_paths.MasterDir);
    m_binFolder = plan.value.binFolder;
    if (!plan.whole()) {
        for (const QString& line : problemLines(plan.problems))
            showErrorMessage(this, line);
        return;
    }
    if (!QDir::setCurrent(m_paths.MasterDir)) {
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
    startFlasherAfter(mergeBank());
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

void TFModifyFileSx::startFlasherAfter(const MergeResult& merged)
{
    const FlashDecision decision = m_job.decideFlash(merged, m_portList->currentIndex());
    for (const QString& line : problemLines(decision.launch.problems))
        showPlainMessage(this, line);
    if (decision.refused())
        return;
    startFlasher(decision.launch.value);
    Q_EMIT flasherStarted(decision.launch.value.program, decision.launch.value.arguments);
}

} // namespace quillner
