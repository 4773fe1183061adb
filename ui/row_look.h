#pragma once
// How a row of the result list looks: a row whose request failed, whose line
// is not a number, or whose prefix is not known is drawn on a colour of its
// own (the tip, from the table, gives the reason). The cells stay as they are.

#include "lookup/result_table.h"

#include <QColor>
#include <QStyledItemDelegate>

namespace teloria {

// The background of a row in a state; invalid for an answered row.
QColor rowColour(RowState state);

class RowLookDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace teloria
