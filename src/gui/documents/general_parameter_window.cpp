#include "gui/documents/general_parameter_window.h"

#include "core/device/settings.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quillner {

namespace {

QComboBox* makeList(QWidget* parent, const char* name, const QStringList& entries)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->addItems(entries);
    list->setMinimumWidth(110);
    return list;
}

// A list index from the document: one outside the list leaves no entry selected.
void selectIndex(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

} // namespace

TFpargen::TFpargen(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("Fpargen"));
    setWindowTitle(QStringLiteral("General Parameter"));

    auto* serial = new QGroupBox(QStringLiteral("Serial"), this);
    serial->setObjectName(QStringLiteral("GroupBox1"));
    m_serialBaud = makeList(serial, "CB_Ser_Baud", settingLabels(Setting::SerialBaud));
    // Both lists are captioned "BaudRate": a screen reader hears which one it is on.
    m_serialBaud->setAccessibleName(QStringLiteral("Serial baud rate"));
    m_serialParity = makeList(serial, "CB_Ser_Par", settingLabels(Setting::SerialParity));
    m_serialParity->setAccessibleName(QStringLiteral("Serial parity"));
    auto* serialForm = new QFormLayout(serial);
    serialForm->addRow(QStringLiteral("BaudRate"), m_serialBaud);
    serialForm->addRow(QStringLiteral("Parity"), m_serialParity);

    auto* can = new QGroupBox(QStringLiteral("CAN"), this);
    can->setObjectName(QStringLiteral("GroupBox2"));
    m_can20A = new QRadioButton(settingLabels(Setting::CanFormat).at(0), can);
    m_can20A->setObjectName(QStringLiteral("RB_CAN_A"));
    m_can20B = new QRadioButton(settingLabels(Setting::CanFormat).at(1), can);
    m_can20B->setObjectName(QStringLiteral("RB_CAN_B"));
    m_canBaud = makeList(can, "CB_CAN_Baud", settingLabels(Setting::CanBaud));
    m_canBaud->setAccessibleName(QStringLiteral("CAN baud rate"));
    m_remoteFrames = new QCheckBox(QStringLiteral("Enable RTR (Rx/Tx)"), can);
    m_remoteFrames->setObjectName(QStringLiteral("CB_CAN_Enable_RTR"));
    auto* canForm = new QFormLayout(can);
    canForm->addRow(m_can20A);
    canForm->addRow(m_can20B);
    canForm->addRow(QStringLiteral("BaudRate"), m_canBaud);
    canForm->addRow(m_remoteFrames);

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("bitbtn1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("bitbtn2"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(serial);
    layout->addWidget(can);
    layout->addLayout(buttons);
    makeFixedToolWindow(this);
    applyWindowHabits(this);

    connect(ok, &QPushButton::clicked, this, [this] { guarded(this, [this] { saveAndClose(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    showDefaults();
}

void TFpargen::showDefaults()
{
    apply(GeneralParameters{});
}

void TFpargen::loadParameters()
{
    m_loaded.remember(m_paths.PargenPath);
    showDefaults();
    apply(loadGeneralParameters(m_paths.PargenPath));
}

void TFpargen::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A document that cannot be read is reported; the window still opens, with the defaults.
    guarded(this, [this] { loadParameters(); });
}

void TFpargen::saveAndClose()
{
    // The controls replace the document whole: a document that could not be read was reported
    // when the window opened. One changed on disk since is overwritten only when the user says
    // so; the lock keeps other writers out from the question to the writing.
    const ProjectEdit edit(m_paths);
    if (!mayOverwrite(this, m_loaded)) {
        loadParameters();
        return;
    }
    edit.write(m_paths.PargenPath, generalParametersDocument(), generalParameterTexts(collect()));
    accept();
}

GeneralParameters TFpargen::collect() const
{
    GeneralParameters parameters;
    parameters.Ser_Baud = m_serialBaud->currentIndex();
    parameters.Ser_Par = m_serialParity->currentIndex();
    parameters.canTypeB = !m_can20A->isChecked();
    parameters.Can_Baud = m_canBaud->currentIndex();
    parameters.Can_Enable_RTR = m_remoteFrames->isChecked();
    return parameters;
}

void TFpargen::apply(const GeneralParameters& parameters)
{
    selectIndex(m_serialBaud, parameters.Ser_Baud);
    selectIndex(m_serialParity, parameters.Ser_Par);
    (parameters.canTypeB ? m_can20B : m_can20A)->setChecked(true);
    selectIndex(m_canBaud, parameters.Can_Baud);
    m_remoteFrames->setChecked(parameters.Can_Enable_RTR);
}

} // namespace quillner
