#pragma once

#include "core/app/app_paths.h"

#include <QDialog>

namespace quillner {

// "Filter CAN 2.0A": which of the 2048 standard identifiers the device receives.
class TFFilter : public QDialog
{
    Q_OBJECT
public:
    TFFilter(const AppPaths& paths, QWidget* parent = nullptr);

private:
    const AppPaths& m_paths;
};

} // namespace quillner
