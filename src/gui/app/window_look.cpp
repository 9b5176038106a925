#include "gui/app/window_look.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace quillner {

namespace {

// Centres its window at every showing: the Show event comes before the window is drawn.
class CentreOnShow : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            centreOnScreen(static_cast<QWidget*>(watched));
        return false;
    }
};

// Presses a focused push button on Return or Enter.
class PressOnReturn : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (!button->isEnabled() || !button->hasFocus())
            return false;
        button->click();
        return true;
    }
};

// The logo's shapes at one size, drawn by the painter and written as SVG alike.
struct LogoGeometry
{
    QRectF box;
    qreal corner;
    qreal outline;
    qreal stroke;
    QList<QLineF> lines;
    QList<QPointF> dots;
};

const QColor kLogoOutline(51, 51, 51);
const QColor kLogoFill(70, 150, 210);

LogoGeometry logoGeometry(qreal size)
{
    // Two lines joined by a bridge: a serial line meeting a CAN bus.
    const qreal a = size * 0.3, b = size * 0.7;
    return {QRectF(1, 1, size - 2, size - 2),
            size / 6.0,
            1.5,
            size / 14.0,
            {QLineF(size * 0.2, a, size * 0.8, a), QLineF(size * 0.2, b, size * 0.8, b),
             QLineF(size * 0.5, a, size * 0.5, b)},
            {QPointF(size * 0.5, a), QPointF(size * 0.5, b)}};
}

} // namespace

void makeFixedToolWindow(QWidget* window)
{
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    if (window->layout())
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = window->size();
    window->move(area.x() + std::max(0, (area.width() - size.width()) / 2),
                 area.y() + std::max(0, (area.height() - size.height()) / 2));
}

void applyWindowHabits(QWidget* window)
{
    window->installEventFilter(new CentreOnShow(window));
    // Push and tool buttons of this window only: its dialogs have habits of their own, and a
    // check box or radio button is not pressed by Return.
    auto* pressOnReturn = new PressOnReturn(window);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        const bool pressable =
            qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button);
        if (pressable && button->window() == window)
            button->installEventFilter(pressOnReturn);
    }
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

QImage logoImage(int size)
{
    QImage logo(size, size, QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    const LogoGeometry shape = logoGeometry(size);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kLogoOutline, shape.outline));
    painter.setBrush(kLogoFill);
    painter.drawRoundedRect(shape.box, shape.corner, shape.corner);
    painter.setPen(QPen(Qt::white, shape.stroke, Qt::SolidLine, Qt::RoundCap));
    for (const QLineF& line : shape.lines)
        painter.drawLine(line);
    painter.setBrush(Qt::white);
    for (const QPointF& dot : shape.dots)
        painter.drawEllipse(dot, shape.stroke, shape.stroke);
    return logo;
}

QPixmap makeLogo(int size)
{
    return QPixmap::fromImage(logoImage(size));
}

QByteArray logoSvg(int size)
{
    const LogoGeometry shape = logoGeometry(size);
    const auto n = [](qreal value) { return QByteArray::number(value, 'g', 6); };
    QByteArray svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                     n(size) + "\" height=\"" + n(size) + "\" viewBox=\"0 0 " + n(size) + ' ' +
                     n(size) + "\">\n";
    svg += "  <rect x=\"" + n(shape.box.x()) + "\" y=\"" + n(shape.box.y()) + "\" width=\"" +
           n(shape.box.width()) + "\" height=\"" + n(shape.box.height()) + "\" rx=\"" +
           n(shape.corner) + "\" fill=\"" + kLogoFill.name().toLatin1() + "\" stroke=\"" +
           kLogoOutline.name().toLatin1() + "\" stroke-width=\"" + n(shape.outline) + "\"/>\n";
    svg += "  <g stroke=\"#ffffff\" stroke-width=\"" + n(shape.stroke) +
           "\" stroke-linecap=\"round\" fill=\"#ffffff\">\n";
    for (const QLineF& line : shape.lines)
        svg += "    <line x1=\"" + n(line.x1()) + "\" y1=\"" + n(line.y1()) + "\" x2=\"" +
               n(line.x2()) + "\" y2=\"" + n(line.y2()) + "\"/>\n";
    for (const QPointF& dot : shape.dots)
        svg += "    <circle cx=\"" + n(dot.x()) + "\" cy=\"" + n(dot.y()) + "\" r=\"" +
               n(shape.stroke) + "\"/>\n";
    svg += "  </g>\n</svg>\n";
    return svg;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(logoImage(size)));
    return icon;
}

} // namespace quillner
