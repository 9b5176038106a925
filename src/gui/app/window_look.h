#pragma once

#include <QLabel>
#include <QString>

class QWidget;

namespace quillner {

// A fixed-size window without title-bar buttons: its own buttons are the way to close it.
void makeFixedToolWindow(QWidget* window);

// Centres a top-level window on the screen it is on.
void centreOnScreen(QWidget* window);

// A label that reports clicks, for the web links and the logo.
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The maker's web page, shown in the product title and on the link labels.
inline constexpr auto kMakerWebAddress = "www.varnex.example";
inline constexpr auto kMakerWebPage = "https://www.varnex.example/";

// A square logo drawn at run time, so the tool carries no picture files.
QPixmap makeLogo(int size);

} // namespace quillner
