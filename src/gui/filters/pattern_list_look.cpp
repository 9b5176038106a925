#include "gui/filters/pattern_list_look.h"

#include "core/filters/id_pattern.h"
#include "core/filters/mask_pattern.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>

namespace quillner {

namespace {

// The number of identifiers a pattern passes, kept beside its text in the list.
constexpr int kPassedCountRole = Qt::UserRole + 1;

// Draws a pattern's item as usual, with how many identifiers it passes at its right end: the
// item's text stays the pattern alone.
class PatternCountDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QString count = index.data(kPassedCountRole).toString();
        if (count.isEmpty())
            return;
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        painter->setPen(
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
        painter->drawText(option.rect.adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter,
                          count);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QString count = index.data(kPassedCountRole).toString();
        size.rwidth() += option.fontMetrics.horizontalAdvance(count) + 12;
        return size;
    }
};

} // namespace

QFont patternFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({QStringLiteral("Courier New"), font.family()});
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

void showPassedCounts(QListWidget* list)
{
    list->setItemDelegate(new PatternCountDelegate(list));
}

void appendPatternItem(QListWidget* list, const QString& pattern)
{
    auto* item = new QListWidgetItem(pattern, list);
    item->setToolTip(patternIdMaskText(pattern));
    const quint64 passed = idPatternOf(pattern).size();
    item->setData(kPassedCountRole, QString::number(passed));
    item->setData(Qt::AccessibleTextRole,
                  QStringLiteral("%1, passes %2 IDs").arg(pattern).arg(passed));
}

} // namespace quillner
