#include "lookup/result_table.h"

namespace teloria {

ResultTable::ResultTable(QObject* parent) : QAbstractTableModel(parent) {}

QStringList ResultTable::columnTitles()
{
    return {QStringLiteral("ID"), QStringLiteral("手机号码"), QStringLiteral("号码归属"),
            QStringLiteral("号码类型")};
}

void ResultTable::configure()
{
    if (columns_ == kColumns)
        return;
    beginInsertColumns(QModelIndex(), columns_, kColumns - 1);
    columns_ = kColumns;
    endInsertColumns();
}

int ResultTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns_;
}

void ResultTable::addRow(const QString& text)
{
    const int at = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(Row{text, {}, {}, {}});
    endInsertRows();
}

void ResultTable::setSubItem(int row, int k, const QString& text)
{
    if (!validRow(row) || k < 1 || k >= kColumns)
        return;
    rows_[row - 1][k] = text;
    const QModelIndex cell = index(row - 1, k);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

QString ResultTable::rowText(int row) const
{
    return validRow(row) ? rows_[row - 1][0] : QString();
}

QString ResultTable::subItem(int row, int k) const
{
    if (!validRow(row) || k < 1 || k >= kColumns)
        return {};
    return rows_[row - 1][k];
}

void ResultTable::clear()
{
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

QVariant ResultTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= columns_ || !validRow(index.row() + 1))
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return rows_[index.row()][index.column()];
    return {};
}

QVariant ResultTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columns_)
        return QAbstractTableModel::headerData(section, orientation, role);
    return columnTitles().at(section);
}

} // namespace teloria
