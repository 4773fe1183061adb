#include "ui/statistics_dialog.h"

#include "data/prefix_store.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

namespace {

// A chart shows at most this many bars; the table beside it lists them all.
constexpr int kMostBars = 34;

QChartView* barChart(const QString& title, const QList<QPair<QString, int>>& counts, const char* name)
{
    auto* set = new QBarSet(QStringLiteral("行数"));
    QStringList categories;
    const int shown = std::min<int>(kMostBars, counts.size());
    // Drawn from the bottom up: the largest count comes last so that it stands at the top.
    int most = 0;
    for (int i = shown - 1; i >= 0; --i) {
        *set << counts[i].second;
        categories << counts[i].first;
        most = std::max(most, counts[i].second);
    }
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    series->setLabelsVisible(true);
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->setTitle(title);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    auto* names = new QBarCategoryAxis;
    names->append(categories);
    chart->addAxis(names, Qt::AlignLeft);
    series->attachAxis(names);
    auto* values = new QValueAxis;
    // Whole-number ticks, 1-2-5 steps, at most about five of them.
    int step = 1;
    for (int decade = 1; most / step > 5; decade *= 10)
        for (const int m : {2, 5, 10})
            if (most / (step = m * decade) <= 5)
                break;
    values->setTickType(QValueAxis::TicksDynamic);
    values->setTickAnchor(0);
    values->setTickInterval(step);
    values->setRange(0, (most / step + 1) * step);
    values->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(values, Qt::AlignBottom);
    series->attachAxis(values);
    auto* view = new QChartView(chart);
    view->setObjectName(QString::fromLatin1(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(360, std::max(160, 18 * shown + 80));
    return view;
}

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QTableWidgetItem* number(qint64 n)
{
    QTableWidgetItem* item = cell(QString::number(n));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

StatisticsDialog::StatisticsDialog(const teloria::ResultSummary& summary,
                                   const std::vector<teloria::data::LoadReport>& sources,
                                   const QString& serviceBase, QWidget* parent)
    : QDialog(parent), summary_(summary)
{
    setObjectName(QStringLiteral("StatisticsDialog"));
    setWindowTitle(QStringLiteral("统计"));

    auto* counts = new QLabel(QStringLiteral("共%1行：未知归属%2行，查询失败%3行，不是号码%4行")
                                  .arg(summary.rows)
                                  .arg(summary.unknown)
                                  .arg(summary.failed)
                                  .arg(summary.notNumbers));
    counts->setObjectName(QStringLiteral("StatisticsCounts"));

    auto* charts = new QVBoxLayout;
    charts->addWidget(barChart(QStringLiteral("各省份行数"), summary.provinces, "ProvinceChart"), 3);
    charts->addWidget(barChart(QStringLiteral("各号码类型行数"), summary.cardTypes, "CardChart"), 1);

    // The table: every province, then every card type; selectable and copied as tab-separated text.
    auto* table = new QTableWidget(0, 3);
    table->setObjectName(QStringLiteral("StatisticsTable"));
    table->setHorizontalHeaderLabels({QStringLiteral("分类"), QStringLiteral("名称"), QStringLiteral("行数")});
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    const auto addRows = [table](const QString& kind, const QList<QPair<QString, int>>& list) {
        for (const auto& [name, n] : list) {
            const int row = table->rowCount();
            table->insertRow(row);
            table->setItem(row, 0, cell(kind));
            table->setItem(row, 1, cell(name));
            table->setItem(row, 2, number(n));
        }
    };
    addRows(QStringLiteral("省份"), summary.provinces);
    addRows(QStringLiteral("号码类型"), summary.cardTypes);
    table->resizeColumnsToContents();
    table->setMinimumWidth(260);

    auto* copy = new QPushButton(QStringLiteral("复制统计"));
    copy->setObjectName(QStringLiteral("CopyStatistics"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(teloria::summaryText(summary_)); });

    auto* side = new QVBoxLayout;
    side->addWidget(table);
    side->addWidget(copy);

    auto* middle = new QHBoxLayout;
    middle->addLayout(charts, 3);
    middle->addLayout(side, 2);

    // The data in use: the bundled service's files, with their prefixes and dates.
    auto* data = new QTableWidget(0, 4);
    data->setObjectName(QStringLiteral("DataSources"));
    data->setHorizontalHeaderLabels(
        {QStringLiteral("数据来源"), QStringLiteral("号段数"), QStringLiteral("日期"), QStringLiteral("说明")});
    data->verticalHeader()->hide();
    if (sources.empty()) {
        data->insertRow(0);
        data->setItem(0, 0, cell(QStringLiteral("查询服务 ") + serviceBase));
        data->setItem(0, 1, cell(QString()));
        data->setItem(0, 2, cell(QString()));
        data->setItem(0, 3, cell(QStringLiteral("数据由该服务决定")));
    }
    for (const auto& report : sources) {
        const int row = data->rowCount();
        data->insertRow(row);
        data->setItem(row, 0, cell(QString::fromStdString(report.path)));
        // The built-in data answer by segment, not as a count of file prefixes.
        const bool builtIn = report.path == teloria::data::kBuiltInSource;
        data->setItem(row, 1, builtIn ? cell(QString()) : number(static_cast<qint64>(report.prefixes)));
        data->setItem(row, 2, cell(QString::fromStdString(report.date)));
        data->setItem(row, 3, cell(report.loaded ? QString::fromStdString(report.reason)
                                                 : QStringLiteral("未载入：") + QString::fromStdString(report.reason)));
    }
    data->resizeColumnsToContents();
    data->horizontalHeader()->setStretchLastSection(true);
    data->setMaximumHeight(140);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counts);
    layout->addLayout(middle, 1);
    layout->addWidget(new QLabel(QStringLiteral("使用中的数据")));
    layout->addWidget(data);
    auto* allocation = new QLabel(QStringLiteral("号码类型是号段分配给的运营商；携号转网的号码可能已由其他运营商服务。"));
    allocation->setWordWrap(true);
    layout->addWidget(allocation);
    layout->addWidget(buttons);
    resize(900, 640);
}
