#pragma once

#include "core/app/app_paths.h"
#include "core/documents/general_parameters.h"
#include "gui/documents/loaded_document.h"

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
    void showDefaults();
    void saveAndClose();

    void loadParameters();

protected:
    void showEvent(QShowEvent* event) override;

private:
    GeneralParameters collect() const;
    void apply(const GeneralParameters& parameters);

    const AppPaths& m_paths;
    LoadedDocument m_loaded;
    QComboBox* m_serialBaud;
    QComboBox* m_serialParity;
    QRadioButton* m_can20A;
    QRadioButton* m_can20B;
    QComboBox* m_canBaud;
    QCheckBox* m_remoteFrames;
};

} // namespace quillner
