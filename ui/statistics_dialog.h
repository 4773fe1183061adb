#pragma once
// 统计…: the rows per province and per card type as bar charts with a table
// beside them that can be copied, the counts of 未知, failed requests and
// lines that are not numbers, and the data sources in use with their dates.

#include "data/data_files.h"
#include "lookup/result_summary.h"

#include <QDialog>
#include <vector>

class QTableWidget;

class StatisticsDialog : public QDialog {
    Q_OBJECT
public:
    // serviceBase names the service when there are no data files of our own (an outside service).
    StatisticsDialog(const teloria::ResultSummary& summary, const std::vector<teloria::data::LoadReport>& sources,
                     const QString& serviceBase, QWidget* parent = nullptr);

private:
    teloria::ResultSummary summary_;
};
