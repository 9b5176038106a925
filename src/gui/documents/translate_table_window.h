#pragma once

#include "core/app/app_paths.h"

#include <QDialog>

namespace quillner {

// "Set Translate Table": never shown; its save routine gives every new project its var.xml.
class TFSetVar : public QDialog
{
    Q_OBJECT
public:
    TFSetVar(const AppPaths& paths, QWidget* parent = nullptr);

    void saveAndClose();

private:
    const AppPaths& m_paths;
};

} // namespace quillner
