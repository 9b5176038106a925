#pragma once

#include "core/app/app_paths.h"
#include "core/firmware/firmware_job.h"

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
    // The merge step and the update step of one press; the update step decides on the result
    // of this press's merge only.
    MergeResult ExeModFileSxClick();
    void ExeUpdateFirClick(const MergeResult& merged);

    const AppPaths& m_paths;
    // The job of the last showing that found the firmware.
    FirmwareJob m_job;
    QPushButton* m_LbButton1;
    QPushButton* m_LbButton2;
    QComboBox* m_cbport;
    QProgressBar* m_Avanzamento;
    QFrame* m_Shape1;
};

} // namespace quillner
