#include "gui/filters/identifier_map.h"

#include "core/filters/filter_edits.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

namespace quillner {

namespace {

constexpr int kCell = 7; // a cell and the gap after it
constexpr int kGap = 1;
constexpr int kLeftMargin = 44; // the row labels
constexpr int kTopMargin = 16;  // the column labels
constexpr int kLegendHeight = 22;

QString hexText(int value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

} // namespace

const QColor IdentifierMap::kVisibleColour(31, 119, 180);
const QColor IdentifierMap::kHiddenColour(222, 222, 222);
const QColor IdentifierMap::kPassedColour(44, 160, 44);
const QColor IdentifierMap::kBlockedColour(214, 39, 40);

IdentifierMap::IdentifierMap(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("IdentifierMap"));
    setAccessibleName(QStringLiteral("Identifier map"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(QStringLiteral("Click an ID to show or hide it; drag to do the same to many"));
    describeForAssistants();
}

void IdentifierMap::setHeard(const std::array<Heard, kStandardIdCount>& heard)
{
    if (heard == m_heard)
        return;
    m_heard = heard;
    update();
}

void IdentifierMap::setFilter(const Filter20A& filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    describeForAssistants();
    update();
}

QSize IdentifierMap::sizeHint() const
{
    return {kLeftMargin + kColumns * kCell + 4, kTopMargin + kRows * kCell + kLegendHeight};
}

QRect IdentifierMap::cellRect(int id) const
{
    return {kLeftMargin + (id % kColumns) * kCell, kTopMargin + (id / kColumns) * kCell,
            kCell - kGap, kCell - kGap};
}

int IdentifierMap::identifierAt(QPoint point) const
{
    const int x = point.x() - kLeftMargin;
    const int y = point.y() - kTopMargin;
    if (x < 0 || y < 0 || x >= kColumns * kCell || y >= kRows * kCell)
        return -1;
    return (y / kCell) * kColumns + x / kCell;
}

QString IdentifierMap::identifierDescription(int id) const
{
    return QStringLiteral("%1 (%2): %3")
        .arg(standardIdText(id, NumberBase::Hexadecimal))
        .arg(id)
        .arg(identifierVisible(id) ? QStringLiteral("visible") : QStringLiteral("hidden"));
}

void IdentifierMap::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    for (int id = 0; id < kStandardIdCount; ++id)
        painter.fillRect(cellRect(id), identifierVisible(id) ? kVisibleColour : kHiddenColour);
    for (int id = 0; id < kStandardIdCount; ++id) {
        if (m_heard[id] == Heard::No)
            continue;
        // Passed and blocked both: half a dot of each.
        const QRect dot = cellRect(id).adjusted(2, 2, -2, -2);
        painter.fillRect(dot, m_heard[id] == Heard::Blocked ? kBlockedColour : kPassedColour);
        if (m_heard[id] == Heard::Both)
            painter.fillRect(dot.adjusted(dot.width() / 2, 0, 0, 0), kBlockedColour);
    }

    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    painter.setPen(palette().color(QPalette::Text));
    // A label every eighth row (0x100 apart) and every sixteenth column.
    for (int row = 0; row < kRows; row += 8) {
        const QRect label(0, kTopMargin + row * kCell - 4, kLeftMargin - 4, kCell + 8);
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, hexText(row * kColumns, 3));
    }
    for (int column = 0; column < kColumns; column += 16) {
        const QRect label(kLeftMargin + column * kCell, 0, 16 * kCell, kTopMargin - 2);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignBottom,
                         QStringLiteral("+") + hexText(column, 2));
    }

    // The legend: what each colour means.
    const int legendTop = kTopMargin + kRows * kCell + 6;
    int x = kLeftMargin;
    for (const bool visible : {true, false}) {
        const QRect swatch(x, legendTop + 2, 10, 10);
        painter.fillRect(swatch, visible ? kVisibleColour : kHiddenColour);
        painter.drawRect(swatch.adjusted(0, 0, -1, -1));
        const QString text = visible ? QStringLiteral("visible") : QStringLiteral("hidden");
        const QRect label(x + 14, legendTop, 80, 14);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, text);
        x += 14 + painter.fontMetrics().horizontalAdvance(text) + 16;
    }

    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(cellRect(m_cursor).adjusted(-1, -1, 1, 1));
    }
}

void IdentifierMap::mousePressEvent(QMouseEvent* event)
{
    const int id = identifierAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || id < 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragState = !identifierVisible(id);
    m_dragged.clear();
    m_inDrag.fill(false);
    m_lastPoint = event->position();
    moveCursor(id);
    dragOver(id);
}

void IdentifierMap::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    dragAlong(m_lastPoint, event->position());
    m_lastPoint = event->position();
}

void IdentifierMap::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragAlong(m_lastPoint, event->position());
    m_dragging = false;
    describeForAssistants();
    const QList<int> dragged = std::exchange(m_dragged, {});
    if (!dragged.isEmpty())
        Q_EMIT identifiersSet(dragged, m_dragState);
}

void IdentifierMap::dragOver(int id)
{
    if (id < 0 || m_inDrag[id])
        return;
    m_inDrag[id] = true;
    m_dragged.append(id);
    // Shown at once; the owner's table follows when the button is let go.
    m_filter.IdVisible[id] = m_dragState ? 1 : 0;
    update(cellRect(id));
}

void IdentifierMap::dragAlong(QPointF from, QPointF to)
{
    const QPointF step = to - from;
    const int steps = std::max(
        1, int(std::ceil(std::max(std::abs(step.x()), std::abs(step.y())) / (kCell / 2.0))));
    for (int i = 1; i <= steps; ++i)
        dragOver(identifierAt((from + step * (double(i) / steps)).toPoint()));
}

void IdentifierMap::keyPressEvent(QKeyEvent* event)
{
    int id = m_cursor;
    switch (event->key()) {
    case Qt::Key_Left:
        id = std::max(0, id - 1);
        break;
    case Qt::Key_Right:
        id = std::min(kStandardIdCount - 1, id + 1);
        break;
    case Qt::Key_Up:
        id = id >= kColumns ? id - kColumns : id;
        break;
    case Qt::Key_Down:
        id = id + kColumns < kStandardIdCount ? id + kColumns : id;
        break;
    case Qt::Key_Home:
        id = 0;
        break;
    case Qt::Key_End:
        id = kStandardIdCount - 1;
        break;
    case Qt::Key_Space:
        Q_EMIT identifiersSet({m_cursor}, !identifierVisible(m_cursor));
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    moveCursor(id);
}

bool IdentifierMap::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int id = identifierAt(help->pos());
        if (id >= 0) {
            QToolTip::showText(help->globalPos(), identifierDescription(id), this, cellRect(id));
            return true;
        }
    }
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        update(cellRect(m_cursor).adjusted(-2, -2, 2, 2));
    return QWidget::event(event);
}

void IdentifierMap::moveCursor(int id)
{
    const QRect old = cellRect(m_cursor).adjusted(-2, -2, 2, 2);
    m_cursor = id;
    update(old);
    update(cellRect(id).adjusted(-2, -2, 2, 2));
    describeForAssistants();
}

void IdentifierMap::describeForAssistants()
{
    setAccessibleDescription(
        QStringLiteral("%1. Cursor on %2. Arrow keys move, Space shows or hides.")
            .arg(visibleCountText(visibleCount(m_filter)), identifierDescription(m_cursor)));
    if (QAccessible::isActive()) {
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

} // namespace quillner
