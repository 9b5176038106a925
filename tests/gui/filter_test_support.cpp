#include "filter_test_support.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>

namespace quillner::filtertest {

FilterProject::FilterProject()
{
    paths.ProjectDir = QDir::toNativeSeparators(dir.path());
    SetDocumentPaths(paths);
}

void click(QWidget* window, const char* name)
{
    control<QAbstractButton>(window, name)->click();
}

void typeInto(QWidget* window, const char* name, const QString& text)
{
    control<QLineEdit>(window, name)->setText(text);
}

QStringList rows(const QAbstractItemView* list)
{
    QStringList texts;
    const QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts.append(model->index(row, 0).data().toString());
    return texts;
}

bool selectRow(QAbstractItemView* list, const QString& text)
{
    const int row = rows(list).indexOf(text);
    if (row < 0)
        return false;
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect);
    return true;
}

bool hasSelection(const QAbstractItemView* list)
{
    return list->selectionModel()->hasSelection();
}

} // namespace quillner::filtertest
