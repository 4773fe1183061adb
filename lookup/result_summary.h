#pragma once
// The statistics of the result table: rows per province and per card type,
// and how many rows read 未知, failed, or were not numbers.

#include <QList>
#include <QPair>
#include <QString>

namespace teloria {

class ResultTable;

struct ResultSummary {
    int rows = 0;
    int unknown = 0;    // answered 未知 (the prefix is not known)
    int failed = 0;     // the request failed
    int notNumbers = 0; // the line is not a number
    // Answered rows only, the most frequent first (ties by name).
    QList<QPair<QString, int>> provinces;
    QList<QPair<QString, int>> cardTypes;
};

ResultSummary summarise(const ResultTable& table);

// The summary as tab-separated lines (a title line, then name and count), for the clipboard.
QString summaryText(const ResultSummary& summary);

} // namespace teloria
