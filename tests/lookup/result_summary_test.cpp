#include "lookup/result_summary.h"
#include "lookup/result_table.h"

#include <gtest/gtest.h>

using namespace teloria;

namespace {

void add(ResultTable& t, const QString& location, const QString& card, RowState state = RowState::Answered)
{
    const int row = t.rowCount() + 1;
    t.addRow(QString::number(row));
    t.setSubItem(row, 1, "n");
    t.setSubItem(row, 2, location);
    t.setSubItem(row, 3, card);
    t.setRowState(row, state, state == RowState::Failed ? u"HTTP 500"_qs : QString());
}

} // namespace

TEST(ResultSummary, CountsProvincesCardTypesAndTheRowsWithoutAnAnswer)
{
    ResultTable t;
    t.configure();
    add(t, u"广东 广州"_qs, u"中国移动"_qs);
    add(t, u"广东 深圳"_qs, u"中国联通"_qs);
    add(t, u"北京 北京"_qs, u"中国移动"_qs);
    add(t, u"西藏"_qs, u"中国移动"_qs); // a one-word location is a province alone
    add(t, u"未知"_qs, u"未知"_qs, RowState::UnknownPrefix);
    add(t, "", "", RowState::Failed);
    add(t, u"上海 上海"_qs, u"中国电信"_qs, RowState::Failed); // a failed row's cells do not count
    add(t, "", "", RowState::NotANumber);

    const ResultSummary s = summarise(t);
    EXPECT_EQ(s.rows, 8);
    EXPECT_EQ(s.unknown, 1);
    EXPECT_EQ(s.failed, 2);
    EXPECT_EQ(s.notNumbers, 1);
    using Counts = QList<QPair<QString, int>>;
    EXPECT_EQ(s.provinces, (Counts{{u"广东"_qs, 2}, {u"北京"_qs, 1}, {u"西藏"_qs, 1}}));
    EXPECT_EQ(s.cardTypes, (Counts{{u"中国移动"_qs, 3}, {u"中国联通"_qs, 1}, {u"未知"_qs, 1}}));
    const QString text = summaryText(s);
    EXPECT_TRUE(text.startsWith(u"行数\t8\n未知归属\t1\n查询失败\t2\n不是号码\t1\n"_qs)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"\n省份\t行数\n广东\t2\n"_qs)) << text.toStdString();
}

TEST(ResultTable, RowStatesAndReasonsGoWithTheRowsAndTheClear)
{
    ResultTable t;
    t.configure();
    add(t, "", "", RowState::Failed);
    add(t, u"北京"_qs, u"x"_qs);
    add(t, "", "", RowState::Failed);
    EXPECT_EQ(t.rowReason(1), u"HTTP 500"_qs);
    EXPECT_EQ(t.rowReason(2), QString());
    EXPECT_EQ(t.index(2, 1).data(Qt::ToolTipRole).toString(), u"查询失败：HTTP 500"_qs);
    EXPECT_EQ(t.index(1, 2).data(Qt::ToolTipRole).toString(), u"北京"_qs) << "an answered row's tip is its cell";
    t.clear();
    t.addRow("1");
    EXPECT_EQ(t.rowState(1), RowState::Answered);
    EXPECT_EQ(t.rowState(99), RowState::Answered);
}
