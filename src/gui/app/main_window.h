#pragma once

#include "core/app/app_paths.h"

#include <QWidget>

class QLabel;

namespace quillner {

class TFAbout;
class TFFilter;
class TFFilterExt;
class TFModifyFileSx;
class TFSetVar;
class TFpargen;
class TFsaveproj;

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
    void updateDevice();
    void showAbout();
    void openMakerWebPage();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void resolvePaths(const QString& exeDir, const QString& dataDir);
    void setProjectCaption(const QString& separator);
    void chooseProjectFolder();
    // Whether a step may work on the project; if not, the user is told why.
    bool projectIsOpen();
    void showOpenProject();

    AppPaths m_paths;
    bool m_restored = false;
    QLabel* m_projectLabel = nullptr;
    TFpargen* m_generalParameterWindow = nullptr;
    TFSetVar* m_translateTableWindow = nullptr;
    TFsaveproj* m_newProjectWindow = nullptr;
    TFAbout* m_aboutWindow = nullptr;
    TFFilter* m_filter20AWindow = nullptr;
    TFFilterExt* m_filter20BWindow = nullptr;
    TFModifyFileSx* m_generateFirmwareWindow = nullptr;
};

} // namespace quillner
