#pragma once

#include <QDialog>

namespace quillner {

// "About...": fixed content and the link to the maker's web page.
class TFAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TFAbout(QWidget* parent = nullptr);

    void openMakerWebPage();
};

} // namespace quillner
