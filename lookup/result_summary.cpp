#include "lookup/result_summary.h"

#include "lookup/result_table.h"

#include <QHash>
#include <algorithm>

namespace teloria {

namespace {

QList<QPair<QString, int>> byCount(const QHash<QString, int>& counts)
{
    QList<QPair<QString, int>> list;
    list.reserve(counts.size());
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        list.append({it.key(), it.value()});
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    return list;
}

} // namespace

ResultSummary summarise(const ResultTable& table)
{
    ResultSummary summary;
    summary.rows = table.size();
    QHash<QString, int> provinces;
    QHash<QString, int> cards;
    for (int row = 1; row <= summary.rows; ++row) {
        switch (table.rowState(row)) {
        case RowState::Failed: ++summary.failed; continue;
        case RowState::NotANumber: ++summary.notNumbers; continue;
        case RowState::UnknownPrefix: ++summary.unknown; break;
        case RowState::Answered: break;
        }
        const QString location = table.subItem(row, 2);
        if (!location.isEmpty() && location != u"未知") {
            const qsizetype space = location.indexOf(u' ');
            ++provinces[space < 0 ? location : location.left(space)];
        }
        const QString card = table.subItem(row, 3);
        if (!card.isEmpty())
            ++cards[card];
    }
    summary.provinces = byCount(provinces);
    summary.cardTypes = byCount(cards);
    return summary;
}

QString summaryText(const ResultSummary& summary)
{
    QString out;
    const auto line = [&out](const QString& name, int count) {
        out += name + u'\t' + QString::number(count) + u'\n';
    };
    line(QStringLiteral("行数"), summary.rows);
    line(QStringLiteral("未知归属"), summary.unknown);
    line(QStringLiteral("查询失败"), summary.failed);
    line(QStringLiteral("不是号码"), summary.notNumbers);
    out += QStringLiteral("\n省份\t行数\n");
    for (const auto& [name, count] : summary.provinces)
        line(name, count);
    out += QStringLiteral("\n号码类型\t行数\n");
    for (const auto& [name, count] : summary.cardTypes)
        line(name, count);
    return out;
}

} // namespace teloria
