#include "gui/app/main_window.h"

#include "core/app/project_lock.h"
#include "core/documents/general_parameters.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/device_update.h"
#include "gui/app/about_window.h"
#include "gui/app/new_project_window.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/documents/general_parameter_window.h"
#include "gui/documents/translate_table_window.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"
#include "gui/firmware/generate_firmware_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillner {

QString productTitle()
{
    return QString::fromLatin1(kMakerWebAddress) + QStringLiteral(" Quillner QT51804 Varnex");
}

namespace {

QPushButton* makeStepButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumSize(150, 30);
    return button;
}

QLabel* makeStepLabel(QWidget* parent, const char* name, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

TFmain::TFmain(const QString& exeDir, const QString& dataDir, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Fmain"));
    FormCreate(exeDir, dataDir);

    auto* about = new QToolButton(this);
    about->setObjectName(QStringLiteral("about"));
    about->setText(QStringLiteral("&About"));
    about->setToolTip(QStringLiteral("About"));
    about->setIcon(QIcon(makeLogo(20)));
    about->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* closeButton = new QPushButton(QStringLiteral("&X"), this);
    closeButton->setObjectName(QStringLiteral("LbButton1"));
    closeButton->setFixedSize(28, 28);
    closeButton->setAccessibleName(QStringLiteral("Close"));
    auto* top = new QHBoxLayout;
    top->addStretch();
    top->addWidget(about);
    top->addWidget(closeButton);

    // Each caption's "&" marks its Alt key; the caption shown is the same, underlined.
    auto* newButton = makeStepButton(this, "New", QStringLiteral("&New project"));
    auto* openButton = makeStepButton(this, "open", QStringLiteral("&Open project"));
    m_btn_Prm_Gen = makeStepButton(this, "btn_Prm_Gen", QStringLiteral("&General Parameter"));
    m_btn_Filter = makeStepButton(this, "btn_Filter", QStringLiteral("&Filter"));
    auto* createBin = makeStepButton(this, "CreateBin", QStringLiteral("&Update Device"));

    auto* steps = new QGridLayout;
    steps->setHorizontalSpacing(14);
    steps->setVerticalSpacing(10);
    steps->addWidget(makeStepLabel(this, "Label1", QStringLiteral("Step 1")), 0, 0);
    steps->addWidget(newButton, 0, 1);
    steps->addWidget(openButton, 0, 2);
    steps->addWidget(makeStepLabel(this, "Label2", QStringLiteral("Step 2")), 1, 0);
    steps->addWidget(m_btn_Prm_Gen, 1, 1);
    steps->addWidget(makeStepLabel(this, "Label3", QStringLiteral("Step 3")), 2, 0);
    steps->addWidget(m_btn_Filter, 2, 1);
    steps->addWidget(makeStepLabel(this, "Label4", QStringLiteral("Step 4")), 3, 0);
    steps->addWidget(createBin, 3, 1);

    auto* web = new ClickableLabel(this);
    web->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:#0000ff\">%2</a>")
            .arg(QString::fromLatin1(kMakerWebPage), QString::fromLatin1(kMakerWebAddress)));
    web->setTextInteractionFlags(Qt::NoTextInteraction);
    web->setObjectName(QStringLiteral("Label6"));
    web->setCursor(Qt::PointingHandCursor);
    web->setToolTip(QString::fromLatin1(kMakerWebPage));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(steps);
    layout->addSpacing(8);
    layout->addWidget(web, 0, Qt::AlignRight);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Every other window is made once, hidden, and reused for the whole run.
    m_pargen = new TFpargen(m_paths, this);
    m_setVar = new TFSetVar(m_paths, this);
    m_saveproj = new TFsaveproj(m_paths, m_pargen, m_setVar, this);
    m_about = new TFAbout(this);
    m_filter20A = new TFFilter(m_paths, this);
    m_filter20B = new TFFilterExt(m_paths, this);
    m_modifyFileSx = new TFModifyFileSx(m_paths, this);

    const auto handle = [this](QAbstractButton* button, void (TFmain::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { guarded(this, [this, handler] { (this->*handler)(); }); });
    };
    handle(newButton, &TFmain::NewaClick);
    handle(openButton, &TFmain::OpenaClick);
    handle(createBin, &TFmain::CreateBinaClick);
    handle(about, &TFmain::AboutClick);
    handle(closeButton, &TFmain::LbButton1Click);
    for (QPushButton* step : {m_btn_Prm_Gen, m_btn_Filter}) {
        connect(step, &QPushButton::clicked, this,
                [this, step] { guarded(this, [this, step] { btn_str_lng1aClick(step); }); });
    }
    connect(web, &ClickableLabel::clicked, this,
            [this] { guarded(this, [this] { Label6Click(); }); });
    applyWindowHabits(this);
}

TFmain::~TFmain() = default;

void TFmain::FormCreate(const QString& exeDir, const QString& dataDir)
{
    m_restored = ResolveAppPaths(m_paths, exeDir, dataDir);
    setWindowTitle(m_restored ? productTitle() + QStringLiteral(" : ") + m_paths.ProjectName
                              : productTitle());
}

void TFmain::setProjectCaption(const QString& separator)
{
    setWindowTitle(productTitle() + separator + m_paths.ProjectName);
}

void TFmain::NewaClick()
{
    m_saveproj->setDestination(m_paths.ProjectsDir);
    runModal(m_saveproj);
    setProjectCaption(QStringLiteral(" :"));
}

void TFmain::OpenProject()
{
    prepareOpenProject(m_paths);
    const std::optional<QString> chosen =
        browseForFolder(this, QStringLiteral("Select directory of project"), m_paths.ProjectsDir,
                        m_paths.ProjectDir);
    finishOpenProject(m_paths, chosen ? &*chosen : nullptr);
}

void TFmain::OpenaClick()
{
    OpenProject();
    setProjectCaption(QStringLiteral(" :"));
}

void TFmain::btn_str_lng1aClick(QPushButton* button)
{
    if (m_paths.ProjectDir.isEmpty()) {
        showPlainMessage(this, QStringLiteral("Project not valid"));
        return;
    }
    if (button == m_btn_Prm_Gen) {
        runModal(m_pargen);
        return;
    }
    // A document that is not well-formed stops here: its error is reported, no filter opens.
    if (readFrameFormat(m_paths.PargenPath) == FrameFormat::Extended)
        runModal(m_filter20B);
    else
        runModal(m_filter20A);
}

void TFmain::CreateBinaClick()
{
    // Let the window repaint before the build blocks it.
    QCoreApplication::processEvents();
    ProjectLock lock(m_paths.ProjectDir);
    // A document that could not be read leaves zeros in the bank: the user is asked before
    // anything is written, and "No", the default, ends the command here. A bank file that cannot
    // be written ends it too: the merge must not go on with an older bank1.bin.
    const BankBuild build = compileAndWriteBank(m_paths, [this](const CompiledBank& compiled) {
        const bool goOn = compileOutcome(compiled) != CompileOutcome::Unreadable ||
                          askYesNo(this, goOnDespiteUnreadableQuestion(compiled));
        return bankMayGoOn(compiled, goOn);
    });
    if (!build.written)
        return;
    lock.unlock();
    runModal(m_modifyFileSx);
}

void TFmain::AboutClick()
{
    runModal(m_about);
}

void TFmain::LbButton1Click()
{
    close();
}

void TFmain::Label6Click()
{
    openUrl(QString::fromLatin1(kMakerWebPage));
}

void TFmain::closeEvent(QCloseEvent* event)
{
    // When the last project cannot be remembered the window stays open; the next "X" tries again.
    bool saved = false;
    guarded(this, [&] {
        SaveLastProject(m_paths);
        saved = true;
    });
    if (saved)
        event->accept();
    else
        event->ignore();
}

} // namespace quillner
