#pragma once

#include "core/app/app_paths.h"

#include <QWidget>

class QPushButton;

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
// owns no data but the paths of the run and shows the current project in its caption.
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

    void NewaClick();
    void OpenaClick();
    void btn_str_lng1aClick(QPushButton* button);
    void CreateBinaClick();
    void AboutClick();
    void LbButton1Click();
    void Label6Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate(const QString& exeDir, const QString& dataDir);
    void setProjectCaption(const QString& separator);
    void OpenProject();

    AppPaths m_paths;
    bool m_restored = false;
    QPushButton* m_btn_Prm_Gen = nullptr;
    QPushButton* m_btn_Filter = nullptr;
    TFpargen* m_pargen = nullptr;
    TFSetVar* m_setVar = nullptr;
    TFsaveproj* m_saveproj = nullptr;
    TFAbout* m_about = nullptr;
    TFFilter* m_filter20A = nullptr;
    TFFilterExt* m_filter20B = nullptr;
    TFModifyFileSx* m_modifyFileSx = nullptr;
};

} // namespace quillner
