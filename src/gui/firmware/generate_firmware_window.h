#pragma once

#include "core/app/app_paths.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QFrame;
class QProgressBar;
class QPushButton;

namespace quillner {

// "Generate Firmware": merges the project's bank 1 into a copy of the device firmware and
// starts the flashing tool with the merged file and the chosen serial port.
class TFModifyFileSx : public QDialog
{
    Q_OBJECT
public:
    explicit TFModifyFileSx(const AppPaths& paths, QWidget* parent = nullptr);

    // Fields of the last showing, kept between showings as the window is reused.
    QString FirmwareName;
    QString NewFirmwareName;
    QString BinFolder;
    QString OutputFolder;
    const QString DefaultFirmwareName;

    void FormShow();
    void LbButton1Click();
    void LbButton2Click();

Q_SIGNALS:
    // The flashing tool was started with these arguments.
    void flasherStarted(const QString& program, const QStringList& arguments);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ExeModFileSxClick();
    void ExeUpdateFirClick();

    const AppPaths& m_paths;
    // Whether the merge of the current press completed its new file: only such a file may go
    // to the device, never one left by an earlier merge.
    bool m_mergeCompleted = false;
    bool m_bankInserted = false;
    QPushButton* m_LbButton1;
    QPushButton* m_LbButton2;
    QComboBox* m_cbport;
    QProgressBar* m_Avanzamento;
    QFrame* m_Shape1;
};

} // namespace quillner
