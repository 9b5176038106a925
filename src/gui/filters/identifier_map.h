#pragma once

#include "core/filters/filter20a.h"

#include <QList>
#include <QWidget>

#include <array>

namespace quillner {

// The 2048 standard identifiers at a glance: 64 rows of 32 cells, identifier 0x000 at the top
// left, one row for each 0x20, so that the map stands beside the two lists on a small screen. A
// visible identifier is drawn in one colour, a hidden one in another; the identifier under the
// pointer is in its tooltip. A click turns a cell over, and a drag gives every cell it passes the
// new state of the first one. From the keyboard the arrows move a cursor cell and Space turns it
// over. The map shows a table it is given; what the user does is told by identifiersSet, for the
// owner to apply and give back.
class IdentifierMap : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kColumns = 32;
    static constexpr int kRows = kStandardIdCount / kColumns;
    // A visible identifier and a hidden one: light and dark apart as well as in hue.
    static const QColor kVisibleColour;
    static const QColor kHiddenColour;

    explicit IdentifierMap(QWidget* parent = nullptr);

    void setFilter(const Filter20A& filter);
    // Identifiers heard on a bus, lit over their cells: a dot in the colour of what the device did
    // with their frames. Empty (the default) lights none.
    enum class Heard : quint8 { No, Passed, Blocked, Both };
    static const QColor kPassedColour;
    static const QColor kBlockedColour;
    void setHeard(const std::array<Heard, kStandardIdCount>& heard);
    Heard heard(int id) const { return m_heard[id]; }
    bool identifierVisible(int id) const { return m_filter.IdVisible[id] != 0; }

    // The identifier drawn at the point, or -1 where there is none.
    int identifierAt(QPoint point) const;
    QRect cellRect(int id) const;
    int cursorIdentifier() const { return m_cursor; }
    // "0x123 (291): visible"
    QString identifierDescription(int id) const;

    QSize sizeHint() const override;

Q_SIGNALS:
    // The user made these identifiers visible or hidden.
    void identifiersSet(const QList<int>& ids, bool visible);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Gives the cell the state of the drag, once per drag.
    void dragOver(int id);
    // The cells on the straight way between two points, so that a fast drag leaves no gaps.
    void dragAlong(QPointF from, QPointF to);
    void moveCursor(int id);
    void describeForAssistants();

    Filter20A m_filter;
    std::array<Heard, kStandardIdCount> m_heard{};
    int m_cursor = 0;
    bool m_dragging = false;
    bool m_dragState = false;
    QPointF m_lastPoint;
    QList<int> m_dragged;
    std::array<bool, kStandardIdCount> m_inDrag{};
};

} // namespace quillner
