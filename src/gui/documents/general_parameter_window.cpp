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
    m_CB_Ser_Baud = makeList(serial, "CB_Ser_Baud", settingLabels(Setting::SerialBaud));
    m_CB_Ser_Par = makeList(serial, "CB_Ser_Par", settingLabels(Setting::SerialParity));
    auto* serialForm = new QFormLayout(serial);
    serialForm->addRow(QStringLiteral("BaudRate"), m_CB_Ser_Baud);
    serialForm->addRow(QStringLiteral("Parity"), m_CB_Ser_Par);

    auto* can = new QGroupBox(QStringLiteral("CAN"), this);
    can->setObjectName(QStringLiteral("GroupBox2"));
    m_RB_CAN_A = new QRadioButton(settingLabels(Setting::CanFormat).at(0), can);
    m_RB_CAN_A->setObjectName(QStringLiteral("RB_CAN_A"));
    m_RB_CAN_B = new QRadioButton(settingLabels(Setting::CanFormat).at(1), can);
    m_RB_CAN_B->setObjectName(QStringLiteral("RB_CAN_B"));
    m_CB_CAN_Baud = makeList(can, "CB_CAN_Baud", settingLabels(Setting::CanBaud));
    m_CB_CAN_Enable_RTR = new QCheckBox(QStringLiteral("Enable RTR (Rx/Tx)"), can);
    m_CB_CAN_Enable_RTR->setObjectName(QStringLiteral("CB_CAN_Enable_RTR"));
    auto* canForm = new QFormLayout(can);
    canForm->addRow(m_RB_CAN_A);
    canForm->addRow(m_RB_CAN_B);
    canForm->addRow(QStringLiteral("BaudRate"), m_CB_CAN_Baud);
    canForm->addRow(m_CB_CAN_Enable_RTR);

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

    connect(ok, &QPushButton::clicked, this, [this] { guarded(this, [this] { BitBtn1Click(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    SetDefaults();
}

void TFpargen::SetDefaults()
{
    apply(GeneralParameters{});
}

void TFpargen::FormShow()
{
    SetDefaults();
    apply(loadGeneralParameters(m_paths.PargenPath));
}

void TFpargen::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A document that cannot be read is reported; the window still opens, with the defaults.
    guarded(this, [this] { FormShow(); });
}

void TFpargen::BitBtn1Click()
{
    // The controls replace the document whole: a document that could not be read was reported
    // when the window opened.
    ProjectEdit(m_paths.ProjectDir)
        .write(m_paths.PargenPath, generalParametersDocument(), generalParameterTexts(collect()));
    accept();
}

GeneralParameters TFpargen::collect() const
{
    GeneralParameters parameters;
    parameters.Ser_Baud = m_CB_Ser_Baud->currentIndex();
    parameters.Ser_Par = m_CB_Ser_Par->currentIndex();
    parameters.canTypeB = !m_RB_CAN_A->isChecked();
    parameters.Can_Baud = m_CB_CAN_Baud->currentIndex();
    parameters.Can_Enable_RTR = m_CB_CAN_Enable_RTR->isChecked();
    return parameters;
}

void TFpargen::apply(const GeneralParameters& parameters)
{
    selectIndex(m_CB_Ser_Baud, parameters.Ser_Baud);
    selectIndex(m_CB_Ser_Par, parameters.Ser_Par);
    (parameters.canTypeB ? m_RB_CAN_B : m_RB_CAN_A)->setChecked(true);
    selectIndex(m_CB_CAN_Baud, parameters.Can_Baud);
    m_CB_CAN_Enable_RTR->setChecked(parameters.Can_Enable_RTR);
}

} // namespace quillner
