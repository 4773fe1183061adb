#pragma once
// How the result list looks: a report view of four fixed columns with a
// header that keeps its measure, and the column widths that fit the list.

class QTableView;

namespace teloria {

// Gives the list a header that measures its titles once, not on every row added.
void useMeasuredHeader(QTableView* list);

// Report view: one line per row, headers shown, never sorted, whole rows
// selected, grid lines, and the four columns at their widths.
void setUpResultList(QTableView* list);

} // namespace teloria
