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
    m_nameEntry = new QLineEdit(this);
    m_nameEntry->setObjectName(QStringLiteral("Edit1"));
    m_nameEntry->setMinimumWidth(260);
    label->setBuddy(m_nameEntry);

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
    layout->addWidget(m_nameEntry);
    layout->addLayout(buttons);
    makeFixedToolWindow(this);
    applyWindowHabits(this);

    connect(ok, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { createProject(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFsaveproj::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { clearName(); });
}

void TFsaveproj::clearName()
{
    setWindowTitle(QStringLiteral("New project"));
    m_nameEntry->clear();
    m_nameEntry->setFocus();
}

void TFsaveproj::createProject()
{
    const NewProjectAttempt attempt =
        createProjectFolder(m_paths, m_destination, m_nameEntry->text());
    for (const Problem& problem : attempt.problems)
        showPlainMessage(this, problem.text);
    // A refused name keeps the window open with the typed text, for another try.
    if (!attempt.value)
        return;
    writeNewProjectDocuments(m_paths);
    // The two document windows end as after their own OK on the new project's documents.
    m_generalParameters->showDefaults();
    m_generalParameters->accept();
    m_translateTable->accept();
    accept();
}

} // namespace quillner
