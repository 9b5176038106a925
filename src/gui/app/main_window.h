#pragma once

#include "core/app/app_paths.h"
#include "core/app/result.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace quillner {

class TFAbout;
class TFFilter;
class TFFilterExt;
class TFModifyFileSx;
class TFSetVar;
class TFpargen;
class TFsaveproj;
class UpdateSession;
struct UpdateReport;

// The product title: the maker's web address, a blank and the product's name.
QString productTitle();

// The main window: four numbered steps, each a button that opens a window or runs a build. It
// owns no data but the paths of the run and shows the current project in its caption and below
// the steps.
class TFmain : public QWidget
{
    Q_OBJECT
public:
    // exeDir is the folder that holds the executable; dataDir the one of MASTER, PROJECTS and
    // the settings file, exeDir itself when empty (a portable folder).
    explicit TFmain(const QString& exeDir, const QString& dataDir = {}, QWidget* parent = nullptr);
    ~TFmain() override;

    const AppPaths& paths() const { return m_paths; }
    bool projectRestored() const { return m_restored; }

    void newProject();
    void openProject();
    void editGeneralParameters();
    void editFilter();
    // Starts an update run of the open project on a thread of its own: the window stays usable
    // while the run waits for the project's lock, and says so; after the compile the Generate
    // Firmware window makes the run's passes.
    void updateDevice();
    void showAbout();
    void openMakerWebPage();

Q_SIGNALS:
    // The update run waits for the project's lock, held by another run.
    void updateWaitsForLock();
    // The update run has ended and let the project go.
    void updateEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void resolvePaths(const QString& exeDir, const QString& dataDir);
    void setProjectCaption(const QString& separator);
    void chooseProjectFolder();
    // Whether a step may work on the project; if not, the user is told why.
    bool projectIsOpen();
    void showOpenProject();
    // What the update run is doing, below the project; hidden when empty.
    void showUpdateStatus(const QString& status);
    void showGenerateFirmware();
    void updateRunEnded(const Result<UpdateReport>& result);

    AppPaths m_paths;
    bool m_restored = false;
    QLabel* m_projectLabel = nullptr;
    QLabel* m_updateStatus = nullptr;
    QPushButton* m_updateButton = nullptr;
    QPointer<UpdateSession> m_update;
    // The Generate Firmware window follows the run and reports what goes wrong from then on.
    bool m_updateHandedOver = false;
    TFpargen* m_generalParameterWindow = nullptr;
    TFSetVar* m_translateTableWindow = nullptr;
    TFsaveproj* m_newProjectWindow = nullptr;
    TFAbout* m_aboutWindow = nullptr;
    TFFilter* m_filter20AWindow = nullptr;
    TFFilterExt* m_filter20BWindow = nullptr;
    TFModifyFileSx* m_generateFirmwareWindow = nullptr;
};

} // namespace quillner
