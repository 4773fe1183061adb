#include "lookup/result_table.h"

namespace teloria {

QString rowNote(RowState state, const QString& reason)
{
    switch (state) {
    case RowState::Failed: return QStringLiteral("查询失败：") + reason;
    case RowState::NotANumber: return QStringLiteral("不是手机号码");
    case RowState::UnknownPrefix: return QStringLiteral("号段未知");
    case RowState::Answered: break;
    }
    return {};
}

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
    return parent.isValid() ? 0 : shown_;
}

int ResultTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns_;
}

void ResultTable::addRow(const QString& text)
{
    rows_.push_back(Row{text, {}, {}, {}});
    marks_.push_back(Mark{});
    if (holds_ == 0)
        flushViewUpdates();
}

void ResultTable::flushViewUpdates()
{
    if (shown_ == size())
        return;
    beginInsertRows(QModelIndex(), shown_, size() - 1);
    shown_ = size();
    endInsertRows();
}

void ResultTable::releaseViewUpdates()
{
    if (holds_ > 0 && --holds_ == 0)
        flushViewUpdates();
}

void ResultTable::setSubItem(int row, int k, const QString& text)
{
    if (!validRow(row) || k < 1 || k >= kColumns)
        return;
    rows_[row - 1][k] = text;
    if (!shown(row))
        return;
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
    marks_.clear();
    marks_.shrink_to_fit();
    reasons_.clear();
    shown_ = 0;
    endResetModel();
}

QVariant ResultTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= columns_ || !validRow(index.row() + 1))
        return {};
    if (role == Qt::DisplayRole)
        return rows_[index.row()][index.column()];
    if (role == Qt::ToolTipRole) {
        const Mark& mark = marks_[index.row()];
        if (mark.state != RowState::Answered)
            return rowNote(mark.state, reasons_.value(mark.reason));
        return rows_[index.row()][index.column()];
    }
    if (role == kRowStateRole)
        return static_cast<int>(marks_[index.row()].state);
    return {};
}

void ResultTable::setRowState(int row, RowState state, const QString& reason)
{
    if (!validRow(row))
        return;
    Mark& mark = marks_[row - 1];
    mark.state = state;
    mark.reason = 0;
    if (state == RowState::Failed) {
        qsizetype at = reasons_.indexOf(reason);
        if (at < 0) {
            at = reasons_.size();
            reasons_.append(reason);
        }
        mark.reason = static_cast<quint32>(at);
    }
    if (!shown(row))
        return;
    emit dataChanged(index(row - 1, 0), index(row - 1, columns_ > 0 ? columns_ - 1 : 0),
                     {Qt::ToolTipRole, kRowStateRole});
}

RowState ResultTable::rowState(int row) const
{
    return validRow(row) ? marks_[row - 1].state : RowState::Answered;
}

QString ResultTable::rowReason(int row) const
{
    if (!validRow(row) || marks_[row - 1].state != RowState::Failed)
        return {};
    return reasons_.value(marks_[row - 1].reason);
}

QVariant ResultTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columns_)
        return QAbstractTableModel::headerData(section, orientation, role);
    return columnTitles().at(section);
}

} // namespace teloria
