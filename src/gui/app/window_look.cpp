#include "gui/app/window_look.h"

#include <QGuiApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace quillner {

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
    const QSize size = window->frameGeometry().size();
    window->move(area.x() + std::max(0, (area.width() - size.width()) / 2),
                 area.y() + std::max(0, (area.height() - size.height()) / 2));
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

QPixmap makeLogo(int size)
{
    QPixmap logo(size, size);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(1, 1, size - 2, size - 2);
    painter.setPen(QPen(QColor(51, 51, 51), 1.5));
    painter.setBrush(QColor(70, 150, 210));
    painter.drawRoundedRect(box, size / 6.0, size / 6.0);
    // Two lines joined by a bridge: a serial line meeting a CAN bus.
    painter.setPen(QPen(Qt::white, size / 14.0, Qt::SolidLine, Qt::RoundCap));
    const qreal a = size * 0.3, b = size * 0.7;
    painter.drawLine(QPointF(size * 0.2, a), QPointF(size * 0.8, a));
    painter.drawLine(QPointF(size * 0.2, b), QPointF(size * 0.8, b));
    painter.drawLine(QPointF(size * 0.5, a), QPointF(size * 0.5, b));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(size * 0.5, a), size / 14.0, size / 14.0);
    painter.drawEllipse(QPointF(size * 0.5, b), size / 14.0, size / 14.0);
    return logo;
}

} // namespace quillner
