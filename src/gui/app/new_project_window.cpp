#include "gui/app/new_project_window.h"

#include "core/documents/new_project.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/documents/general_parameter_window.h"
#include "gui/documents/translate_table_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillner {

TFsaveproj::TFsaveproj(AppPaths& paths, TFpargen* generalParameters, TFSetVar* translateTable,
                       QWidget* parent)
    : QDialog(parent), m_paths(paths), m_generalParameters(generalParameters),
      m_translateTable(translateTable)
{
    setObjectName(QStringLiteral("Fsaveproj"));
    setWindowTitle(QStringLiteral("New project"));

    auto* label = new QLabel(QStringLiteral("Project name"), this);
    label->setObjectName(QStringLiteral("Label1"));
    m_Edit1 = new QLineEdit(this);
    m_Edit1->setObjectName(QStringLiteral("Edit1"));
    m_Edit1->setMinimumWidth(260);
    label->setBuddy(m_Edit1);

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("bitbtn1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("bitbtn2"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_Edit1);
    layout->addLayout(buttons);
    makeFixedToolWindow(this);
    applyWindowHabits(this);

    connect(ok, &QPushButton::clicked, this, [this] { guarded(this, [this] { BitBtn1Click(); }); });
    connect(cancel, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { BitBtn2Click(); }); });
}

void TFsaveproj::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { FormShow(); });
}

void TFsaveproj::FormShow()
{
    setWindowTitle(QStringLiteral("New project"));
    m_Edit1->clear();
    m_Edit1->setFocus();
}

void TFsaveproj::BitBtn1Click()
{
    const NewProjectAttempt attempt = createProjectFolder(m_paths, m_destination, m_Edit1->text());
    for (const Problem& problem : attempt.problems)
        showPlainMessage(this, problem.text);
    // A refused name keeps the window open with the typed text, for another try.
    if (!attempt.value)
        return;
    writeNewProjectDocuments(m_paths);
    // The two document windows end as after their own OK on the new project's documents.
    m_generalParameters->SetDefaults();
    m_generalParameters->accept();
    m_translateTable->accept();
    accept();
}

void TFsaveproj::BitBtn2Click()
{
    reject();
}

} // namespace quillner
