#include "ui/row_look.h"

namespace teloria {

QColor rowColour(RowState state)
{
    switch (state) {
    case RowState::Failed: return QColor(0xF8, 0xD0, 0xD0);        // pale red
    case RowState::NotANumber: return QColor(0xFF, 0xEE, 0xB8);    // pale amber
    case RowState::UnknownPrefix: return QColor(0xE4, 0xE4, 0xE4); // pale grey
    case RowState::Answered: break;
    }
    return {};
}

void RowLookDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QColor colour = rowColour(static_cast<RowState>(index.data(ResultTable::kRowStateRole).toInt()));
    if (colour.isValid())
        option->backgroundBrush = colour;
}

} // namespace teloria
