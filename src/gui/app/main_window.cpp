#include "gui/app/main_window.h"

#include "core/bank/bank_compiler.h"
#include "core/bank/bank_files.h"
#include "core/documents/general_parameters.h"
#include "core/update/device_update.h"
#include "core/update/update_outcome.h"
#include "gui/app/about_window.h"
#include "gui/app/new_project_window.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/documents/general_parameter_window.h"
#include "gui/documents/translate_table_window.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/filter20b_window.h"
#include "gui/firmware/generate_firmware_window.h"
#include "gui/firmware/update_session.h"

#include <QCloseEvent>
#include <QDir>
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
    resolvePaths(exeDir, dataDir);

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
    auto* generalParameters =
        makeStepButton(this, "btn_Prm_Gen", QStringLiteral("&General Parameter"));
    auto* filter = makeStepButton(this, "btn_Filter", QStringLiteral("&Filter"));
    auto* createBin = makeStepButton(this, "CreateBin", QStringLiteral("&Update Device"));
    m_updateButton = createBin;

    auto* steps = new QGridLayout;
    steps->setHorizontalSpacing(14);
    steps->setVerticalSpacing(10);
    steps->addWidget(makeStepLabel(this, "Label1", QStringLiteral("Step 1")), 0, 0);
    steps->addWidget(newButton, 0, 1);
    steps->addWidget(openButton, 0, 2);
    steps->addWidget(makeStepLabel(this, "Label2", QStringLiteral("Step 2")), 1, 0);
    steps->addWidget(generalParameters, 1, 1);
    steps->addWidget(makeStepLabel(this, "Label3", QStringLiteral("Step 3")), 2, 0);
    steps->addWidget(filter, 2, 1);
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

    // The open project, below the steps that work on it. Its name for a screen reader is its
    // text ("Project: Line 7"); the description says what that is.
    m_projectLabel = new QLabel(this);
    m_projectLabel->setObjectName(QStringLiteral("ProjectLabel"));
    m_projectLabel->setAccessibleDescription(QStringLiteral("The project the steps work on"));
    m_projectLabel->setTextFormat(Qt::PlainText);
    m_projectLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    showOpenProject();
    m_updateStatus = new QLabel(this);
    m_updateStatus->setObjectName(QStringLiteral("UpdateStatus"));
    m_updateStatus->setAccessibleDescription(QStringLiteral("What the update is doing"));
    m_updateStatus->setTextFormat(Qt::PlainText);
    m_updateStatus->setWordWrap(true);
    m_updateStatus->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(steps);
    layout->addSpacing(6);
    layout->addWidget(m_projectLabel);
    layout->addWidget(m_updateStatus);
    layout->addSpacing(8);
    layout->addWidget(web, 0, Qt::AlignRight);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Every other window is made once, hidden, and reused for the whole run.
    m_generalParameterWindow = new TFpargen(m_paths, this);
    m_translateTableWindow = new TFSetVar(m_paths, this);
    m_newProjectWindow =
        new TFsaveproj(m_paths, m_generalParameterWindow, m_translateTableWindow, this);
    m_aboutWindow = new TFAbout(this);
    m_filter20AWindow = new TFFilter(m_paths, this);
    m_filter20BWindow = new TFFilterExt(m_paths, this);
    m_generateFirmwareWindow = new TFModifyFileSx(m_paths, this);

    const auto handle = [this](QAbstractButton* button, void (TFmain::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { guarded(this, [this, handler] { (this->*handler)(); }); });
    };
    handle(newButton, &TFmain::newProject);
    handle(openButton, &TFmain::openProject);
    handle(createBin, &TFmain::updateDevice);
    handle(about, &TFmain::showAbout);
    handle(generalParameters, &TFmain::editGeneralParameters);
    handle(filter, &TFmain::editFilter);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(web, &ClickableLabel::clicked, this,
            [this] { guarded(this, [this] { openMakerWebPage(); }); });
    applyWindowHabits(this);
}

TFmain::~TFmain() = default;

void TFmain::resolvePaths(const QString& exeDir, const QString& dataDir)
{
    m_restored = ResolveAppPaths(m_paths, exeDir, dataDir);
    setWindowTitle(m_restored ? productTitle() + QStringLiteral(" : ") + m_paths.ProjectName
                              : productTitle());
}

void TFmain::setProjectCaption(const QString& separator)
{
    setWindowTitle(productTitle() + separator + m_paths.ProjectName);
}

void TFmain::newProject()
{
    m_newProjectWindow->setDestination(m_paths.ProjectsDir);
    runModal(m_newProjectWindow);
    setProjectCaption(QStringLiteral(" :"));
    showOpenProject();
}

void TFmain::chooseProjectFolder()
{
    prepareOpenProject(m_paths);
    const std::optional<QString> chosen =
        browseForFolder(this, QStringLiteral("Select directory of project"), m_paths.ProjectsDir,
                        m_paths.ProjectDir);
    finishOpenProject(m_paths, chosen ? &*chosen : nullptr);
}

void TFmain::openProject()
{
    chooseProjectFolder();
    setProjectCaption(QStringLiteral(" :"));
    showOpenProject();
}

bool TFmain::projectIsOpen()
{
    const QString missing = missingProjectMessage(m_paths);
    if (!missing.isEmpty())
        showPlainMessage(this, missing);
    return missing.isEmpty();
}

void TFmain::showOpenProject()
{
    const QString name = openProjectName(m_paths);
    m_projectLabel->setText(name.isEmpty() ? QStringLiteral("No project open")
                                           : QStringLiteral("Project: %1").arg(name));
    m_projectLabel->setToolTip(name.isEmpty() ? QString()
                                              : QDir::toNativeSeparators(m_paths.ProjectDir));
}

void TFmain::editGeneralParameters()
{
    if (!projectIsOpen())
        return;
    runModal(m_generalParameterWindow);
}

void TFmain::editFilter()
{
    if (!projectIsOpen())
        return;
    // A document that is not well-formed stops here: its error is reported, no filter opens.
    if (readFrameFormat(m_paths.PargenPath) == FrameFormat::Extended)
        runModal(m_filter20BWindow);
    else
        runModal(m_filter20AWindow);
}

void TFmain::updateDevice()
{
    if (!projectIsOpen())
        return;
    // One run at a time from this window: the button comes back when the run has ended.
    m_updateButton->setEnabled(false);
    m_updateHandedOver = false;
    // A document that could not be read leaves zeros in the bank: the user is asked before
    // anything is written, and "No", the default, ends the run there. A bank file that cannot
    // be written ends it too: the merge must not go on with an older bank1.bin.
    m_update = new UpdateSession(
        windowUpdateRequest(m_paths, true),
        [this](const CompiledBank& compiled) {
            const bool goOn = compileOutcome(compiled) != CompileOutcome::Unreadable ||
                              askYesNo(this, goOnDespiteUnreadableQuestion(compiled));
            return bankMayGoOn(compiled, goOn);
        },
        this);
    connect(m_update, &UpdateSession::waitingForLock, this, [this] {
        showUpdateStatus(QStringLiteral("Waiting for %1: another Quillner is updating it")
                             .arg(openProjectName(m_paths)));
        Q_EMIT updateWaitsForLock();
    });
    connect(m_update, &UpdateSession::compiled, this, [this](const BankBuild& build) {
        showUpdateStatus({});
        m_generateFirmwareWindow->setCompileOutcome(
            compileOutcomeLines(build.compiled, m_paths.ProjectDir));
    });
    connect(m_update, &UpdateSession::planned, this,
            [this] { guarded(this, [this] { showGenerateFirmware(); }); });
    connect(m_update, &UpdateSession::ended, this,
            [this](const Result<UpdateReport>& result) { updateRunEnded(result); });
    m_update->start();
}

void TFmain::showGenerateFirmware()
{
    const QPointer<UpdateSession> update = m_update;
    m_updateHandedOver = true;
    m_generateFirmwareWindow->follow(update);
    runModal(m_generateFirmwareWindow);
    // Closed, however it was: the run ends with the pass under way. (A window left open by the
    // dialog runner of a test ends it when it is closed.)
    if (update && !m_generateFirmwareWindow->isVisible())
        update->finish();
}

void TFmain::updateRunEnded(const Result<UpdateReport>& result)
{
    showUpdateStatus({});
    m_updateButton->setEnabled(true);
    // Before the Generate Firmware window follows the run (the project busy, a bank file that
    // cannot be written), what stopped it is the general error report.
    if (!m_updateHandedOver) {
        for (const QString& line : problemLines(result.problems))
            reportError(this, line);
    }
    if (m_update)
        m_update->deleteLater();
    Q_EMIT updateEnded();
}

void TFmain::showUpdateStatus(const QString& status)
{
    m_updateStatus->setText(status);
    m_updateStatus->setVisible(!status.isEmpty());
}

void TFmain::showAbout()
{
    runModal(m_aboutWindow);
}

void TFmain::openMakerWebPage()
{
    openUrl(QString::fromLatin1(kMakerWebPage));
}

void TFmain::closeEvent(QCloseEvent* event)
{
    // Ending the program would kill a flashing tool that is writing a device half-way.
    if (m_generateFirmwareWindow->flasherRunning() || UpdateSession::flasherAtWork()) {
        showPlainMessage(this, QStringLiteral("%1 is still writing the device; wait for its end "
                                              "before closing")
                                   .arg(QString::fromLatin1(kFlasherName)));
        event->ignore();
        return;
    }
    // When the last project cannot be written the window stays open; the next "X" tries again.
    // A settings file that could not be read is kept as it is, and the window closes.
    bool saved = false;
    guarded(this, [&] {
        const Result<bool> remembered = SaveLastProject(m_paths);
        for (const Problem& problem : remembered.problems)
            showPlainMessage(
                this, QStringLiteral("The last project is not remembered: %1").arg(problem.text));
        saved = true;
    });
    if (saved)
        event->accept();
    else
        event->ignore();
}

} // namespace quillner
