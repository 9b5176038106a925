#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QString>

class QWidget;

namespace quillner {

// A fixed-size window without title-bar buttons: its own buttons are the way to close it.
void makeFixedToolWindow(QWidget* window);

// Centres a top-level window on the screen it is on. The window's own size is used, not its
// frame's, which the window system tells only after the first showing: so every showing of a
// window lands on the same place.
void centreOnScreen(QWidget* window);

// The habits of every window of the tool, set once its controls exist: it is centred on its
// screen each time it is shown, before it is drawn, and Return or Enter on a focused push
// button presses that button (a dialog by itself does so only for its auto-default buttons,
// and a plain window never).
void applyWindowHabits(QWidget* window);

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

// The logo is drawn at run time, so the tool carries no picture files; the installed icons
// (PNG and SVG) are made from the same drawing when the package is built.
QImage logoImage(int size);
QPixmap makeLogo(int size);
// The logo as a scalable picture of the given nominal size.
QByteArray logoSvg(int size);
// The window icon of every window: the logo at the usual icon sizes.
QIcon applicationIcon();

} // namespace quillner
