#pragma once

#include "core/app/app_paths.h"
#include "gui/app/ui_seams.h"
#include "gui_support.h"
#include "test_files.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

class QAbstractItemView;

namespace quillner::filtertest {

// A project folder of its own for each test, with the paths the filter windows use.
struct FilterProject
{
    FilterProject();

    QTemporaryDir dir;
    AppPaths paths;
};

using MessageRecorder = quillner::testing::MessageRecorder;

// The control of that objectName below the window; the test ends when there is none.
template <typename Widget> Widget* control(QWidget* window, const char* name)
{
    auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("No control %s", name);
    return widget;
}

void click(QWidget* window, const char* name);
void typeInto(QWidget* window, const char* name, const QString& text);

// The rows of a list, whatever its model.
QStringList rows(const QAbstractItemView* list);
// Selects the row that shows the text; returns whether there is one.
bool selectRow(QAbstractItemView* list, const QString& text);
bool hasSelection(const QAbstractItemView* list);

using quillner::testing::readFile;
using quillner::testing::writeFile;

} // namespace quillner::filtertest
