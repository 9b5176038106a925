#pragma once

#include "core/app/app_paths.h"
#include "core/documents/general_parameters.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QRadioButton;

namespace quillner {

// "General Parameter": edits pargen.xml of the current project.
class TFpargen : public QDialog
{
    Q_OBJECT
public:
    TFpargen(const AppPaths& paths, QWidget* parent = nullptr);

    // Both are used without showing the window when a new project gets its documents.
    void SetDefaults();
    void BitBtn1Click();

    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    GeneralParameters collect() const;
    void apply(const GeneralParameters& parameters);

    const AppPaths& m_paths;
    QComboBox* m_CB_Ser_Baud;
    QComboBox* m_CB_Ser_Par;
    QRadioButton* m_RB_CAN_A;
    QRadioButton* m_RB_CAN_B;
    QComboBox* m_CB_CAN_Baud;
    QCheckBox* m_CB_CAN_Enable_RTR;
};

} // namespace quillner
