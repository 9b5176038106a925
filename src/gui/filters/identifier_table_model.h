#pragma once

#include "core/analysis/recording_test.h"

#include <QAbstractTableModel>

namespace quillner {

// The identifiers of a recording test, one a row: identifier, frames, passed, blocked, verdict
// and DBC message name. Qt::UserRole gives each cell's value to sort by (numbers as numbers, an
// identifier by its form and value).
class IdentifierTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Identifier, Frames, Passed, Blocked, Verdict, Message, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<IdentifierRow> rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<IdentifierRow> m_rows;
};

} // namespace quillner
