#include "gui/filters/filter20a_window.h"

namespace quillner {

TFFilter::TFFilter(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FFilter"));
    setWindowTitle(QStringLiteral("Filter CAN 2.0A"));
}

} // namespace quillner
