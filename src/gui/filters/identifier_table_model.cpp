#include "gui/filters/identifier_table_model.h"

namespace quillner {

void IdentifierTableModel::setRows(QList<IdentifierRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int IdentifierTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int IdentifierTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant IdentifierTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const IdentifierRow& row = m_rows[index.row()];
    const auto number = [role](quint64 value) -> QVariant {
        if (role == Qt::UserRole)
            return QVariant::fromValue<qulonglong>(value);
        return QString::number(value);
    };
    if (role == Qt::TextAlignmentRole)
        return index.column() == Frames || index.column() == Passed || index.column() == Blocked
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::UserRole)
        return {};
    switch (index.column()) {
    case Identifier:
        // Standard identifiers before extended ones, each by value.
        if (role == Qt::UserRole)
            return QVariant::fromValue<qulonglong>(quint64(row.id) |
                                                   (row.extended ? quint64(1) << 32 : 0));
        return row.text;
    case Frames:
        return number(row.frames());
    case Passed:
        return number(row.passed);
    case Blocked:
        return number(row.blocked);
    case Verdict:
        return row.verdict();
    case Message:
        return row.messageName;
    default:
        return {};
    }
}

QVariant IdentifierTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Identifier:
        return QStringLiteral("ID");
    case Frames:
        return QStringLiteral("Frames");
    case Passed:
        return QStringLiteral("Passed");
    case Blocked:
        return QStringLiteral("Blocked");
    case Verdict:
        return QStringLiteral("Verdict");
    case Message:
        return QStringLiteral("DBC message");
    default:
        return {};
    }
}

} // namespace quillner
