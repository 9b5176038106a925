#include "gui/documents/translate_table_window.h"

#include "core/documents/general_parameters.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quillner {

TFSetVar::TFSetVar(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FSetVar"));
    setWindowTitle(QStringLiteral("Set Translate Table"));
    const QStringList titles = {QStringLiteral("N°"),          QStringLiteral("Data Type"),
                                QStringLiteral("Address TCP"), QStringLiteral("Address Device RTU"),
                                QStringLiteral("Address RTU"), QStringLiteral("N° Point"),
                                QStringLiteral("Mnemonic")};
    auto* table = new QTableWidget(1, int(titles.size()), this);
    table->setObjectName(QStringLiteral("StringGrid1"));
    table->setHorizontalHeaderLabels(titles);
    table->setAccessibleName(QStringLiteral("Translate table"));
    // Tab leaves the table for OK, as in every other window; the arrow keys move between cells.
    table->setTabKeyNavigation(false);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("bitbtn1"));
    ok->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table);
    layout->addWidget(ok, 0, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, this, [this] { guarded(this, [this] { saveAndClose(); }); });
    applyWindowHabits(this);
}

void TFSetVar::saveAndClose()
{
    // Nothing fills the table, so the document is always its root alone.
    saveTranslateTable(m_paths.VarPath);
    accept();
}

} // namespace quillner
