#pragma once
// Rows of the result table as tab-separated text for the clipboard: the four
// columns, one line per row, so that it pastes into a spreadsheet as four
// columns. A tab or a line break inside a cell becomes a space.

#include <QList>
#include <QString>

namespace teloria {

class ResultTable;

// rows: 1-based positions, in the order they are to appear.
QString tabSeparatedRows(const ResultTable& table, const QList<int>& rows);

} // namespace teloria
