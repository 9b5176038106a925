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
    : QDialog(parent), DefaultFirmwareName(QString::fromLatin1(kDefaultFirmwareName)),
      m_paths(paths)
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

    m_LbButton1 = new QPushButton(QStringLiteral("&X"), this);
    m_LbButton1->setObjectName(QStringLiteral("LbButton1"));
    m_LbButton1->setAccessibleName(QStringLiteral("Close"));
    m_LbButton1->setAutoDefault(false);
    m_LbButton1->setGeometry(kClientWidth - 28, 4, 24, 22);

    m_LbButton2 = new QPushButton(QStringLiteral("&Execute update firmware"), this);
    m_LbButton2->setObjectName(QStringLiteral("LbButton2"));
    m_LbButton2->setAutoDefault(false);
    m_LbButton2->setEnabled(false);
    m_LbButton2->setGeometry(70, 108, 190, 28);

    m_cbport = new QComboBox(this);
    m_cbport->setObjectName(QStringLiteral("cbport"));
    for (int port = 1; port <= kFlasherPortCount; ++port)
        m_cbport->addItem(QStringLiteral("COM%1").arg(port));
    m_cbport->setGeometry(276, 110, 84, 24);
    auto* portLabel = new QLabel(QStringLiteral("Port"), this);
    portLabel->setObjectName(QStringLiteral("Label1"));
    portLabel->setBuddy(m_cbport);
    portLabel->setGeometry(276, 90, 84, 18);

    m_Avanzamento = new QProgressBar(this);
    m_Avanzamento->setObjectName(QStringLiteral("Avanzamento"));
    m_Avanzamento->setTextVisible(false);
    m_Avanzamento->setRange(0, 100);
    m_Avanzamento->setValue(0);
    m_Avanzamento->setGeometry(20, 158, kClientWidth - 40, 18);

    m_Shape1 = new QFrame(this);
    m_Shape1->setObjectName(QStringLiteral("Shape1"));
    m_Shape1->setStyleSheet(
        QStringLiteral("QFrame#Shape1 { background-color: %1; border: 1px solid %2; }")
            .arg(kSkyBlue.name(), kText.name()));
    m_Shape1->setGeometry(0, kClientHeight - 8, kClientWidth, 8);

    makeFixedToolWindow(this);
    setFixedSize(kClientWidth, kClientHeight);

    connect(m_LbButton1, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { LbButton1Click(); }); });
    connect(m_LbButton2, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { LbButton2Click(); }); });
    // Centred at every showing, like every window of the tool: a second showing placed
    // higher than the first only made the window jump.
    applyWindowHabits(this);
}

void TFModifyFileSx::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { FormShow(); });
}

void TFModifyFileSx::FormShow()
{
    m_cbport->setCurrentIndex(0);
    m_Avanzamento->setValue(0);
    m_LbButton2->setEnabled(false);

    const Partial<FirmwareJob> plan = planFirmwareJob(m_paths, m_paths.MasterDir);
    BinFolder = plan.value.binFolder;
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
    FirmwareName = m_job.firmwareName;
    OutputFolder = m_job.outputFolder;
    NewFirmwareName = m_job.newFileName;
    m_LbButton2->setEnabled(true);
}

void TFModifyFileSx::LbButton1Click()
{
    close();
}

void TFModifyFileSx::LbButton2Click()
{
    ExeUpdateFirClick(ExeModFileSxClick());
}

MergeResult TFModifyFileSx::ExeModFileSxClick()
{
    m_Avanzamento->setValue(0);
    const ProjectLock lock(m_paths.ProjectDir);
    return m_job.merge([this](qint64 position, qint64 maximum) {
        // The bar counts in int; a firmware of more lines than that is shown to scale.
        const double scale = maximum > INT_MAX ? double(INT_MAX) / double(maximum) : 1.0;
        m_Avanzamento->setMaximum(int(double(maximum) * scale));
        m_Avanzamento->setValue(int(double(position) * scale));
    });
}

void TFModifyFileSx::ExeUpdateFirClick(const MergeResult& merged)
{
    const FlashDecision decision = m_job.decideFlash(merged, m_cbport->currentIndex());
    for (const QString& line : problemLines(decision.launch.problems))
        showPlainMessage(this, line);
    if (decision.refused())
        return;
    startFlasher(decision.launch.value);
    Q_EMIT flasherStarted(decision.launch.value.program, decision.launch.value.arguments);
}

} // namespace quillner
