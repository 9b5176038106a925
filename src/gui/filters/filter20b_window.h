#pragma once

#include "core/app/app_paths.h"

#include <QDialog>

namespace quillner {

// "Filter CAN 2.0B": the identifier list or the bit patterns of extended frames.
class TFFilterExt : public QDialog
{
    Q_OBJECT
public:
    TFFilterExt(const AppPaths& paths, QWidget* parent = nullptr);

private:
    const AppPaths& m_paths;
};

} // namespace quillner
