#include "gui/filters/filter20b_window.h"

namespace quillner {

TFFilterExt::TFFilterExt(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FFilterExt"));
    setWindowTitle(QStringLiteral("Filter CAN 2.0B"));
}

} // namespace quillner
