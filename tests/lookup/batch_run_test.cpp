#include "lookup/batch_run.h"
#include "lookup/result_table.h"
#include "lookup/fake_ports.h"

#include <gtest/gtest.h>

using namespace teloria;
using namespace teloria::testing;

namespace {

const QString kBase = "http://svc:1";
QString url(const QString& number) { return kBase + "/sim_search138.asp?mobile=" + number; }
QString page(const QString& place, const QString& card)
{
    return u"<html>号码：x<br/>归属地："_qs + place + u"<br/>卡类型："_qs + card + "<br/></html>";
}

struct Rig {
    FakeFetcher fetcher;
    FakeClock clock;
    FakeProgress progress;
    FakeMessages messages;
    FakePump pump;
    ResultTable table;
    Rig() { table.configure(); }
    BatchRun run() { return BatchRun({fetcher, clock, progress, messages, pump, table}, kBase); }
    QStringList row(int r) const
    {
        return {table.rowText(r), table.subItem(r, 1), table.subItem(r, 2), table.subItem(r, 3)};
    }
};

} // namespace

TEST(BatchRun, LooksUpEachLineAndFillsNumberedRows)
{
    Rig rig;
    rig.fetcher.pages[url("13800138000")] = page(u"北京"_qs, u"中国移动 全球通"_qs);
    rig.fetcher.pages[url("18612345678")] = page(u"广东 深圳"_qs, u"中国联通"_qs);
    rig.clock.readings = {1000, 3531};

    const RunSummary s = rig.run().run("13800138000\n18612345678");

    EXPECT_EQ(rig.fetcher.requested, QStringList({url("13800138000"), url("18612345678")}));
    ASSERT_EQ(rig.table.rowCount(), 2);
    EXPECT_EQ(rig.row(1), QStringList({"1", "13800138000", u"北京"_qs, u"中国移动 全球通"_qs}));
    EXPECT_EQ(rig.row(2), QStringList({"2", "18612345678", u"广东 深圳"_qs, u"中国联通"_qs}));
    ASSERT_EQ(rig.messages.shown.size(), 2u);
    EXPECT_EQ(rig.messages.shown[0].title, u"提示："_qs);
    EXPECT_EQ(rig.messages.shown[0].text, u"共2条数据，查询即将开始。"_qs);
    EXPECT_EQ(rig.messages.shown[1].title, u"提示："_qs);
    EXPECT_EQ(rig.messages.shown[1].text, u"耗时2.531秒查询完毕。"_qs);
    EXPECT_EQ(rig.progress.v, 2);
    EXPECT_EQ(rig.progress.max, 2);
    EXPECT_EQ(rig.pump.passes, 2);
    EXPECT_TRUE(s.completed);
    EXPECT_EQ(s.empty_pages, 0);
}

TEST(BatchRun, ProgressIsResetBeforeTheMaximumAndStepsOncePerNumber)
{
    Rig rig;
    rig.progress.v = 50;
    rig.run().run("1\r\n2\r\n3");
    const std::vector<std::pair<char, int>> expected{{'v', 0}, {'m', 3}, {'v', 1}, {'v', 2}, {'v', 3}};
    EXPECT_EQ(rig.progress.calls, expected);
}

TEST(BatchRun, EdgeCasesOfTheInput)
{
    struct Case {
        const char* name;
        QString input;
        QStringList numbers;
    };
    const Case cases[] = {
        {"trailing break gives an empty last number", "1\r\n", {"1", ""}},
        {"spaces stay", " 138 ", {" 138 "}},
        {"lone CR stays in the number", "1\r2", {"1\r2"}},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.run().run(c.input);
        ASSERT_EQ(rig.table.rowCount(), c.numbers.size()) << c.name;
        for (int r = 1; r <= rig.table.rowCount(); ++r) {
            EXPECT_EQ(rig.table.rowText(r), QString::number(r)) << c.name;
            EXPECT_EQ(rig.table.subItem(r, 1), c.numbers[r - 1]) << c.name;
        }
        EXPECT_EQ(rig.messages.shown.at(0).text,
                  u"共"_qs + QString::number(c.numbers.size()) + u"条数据，查询即将开始。"_qs)
            << c.name;
    }
}

TEST(BatchRun, EmptyInputShowsBothMessagesAndKeepsTheOldMaximum)
{
    Rig rig;
    rig.progress.max = 7;
    rig.clock.readings = {5, 5};
    const RunSummary s = rig.run().run("");
    EXPECT_TRUE(rig.fetcher.requested.isEmpty());
    EXPECT_EQ(rig.table.rowCount(), 0);
    ASSERT_EQ(rig.messages.shown.size(), 2u);
    EXPECT_EQ(rig.messages.shown[0].text, u"共0条数据，查询即将开始。"_qs);
    EXPECT_EQ(rig.messages.shown[1].text, u"耗时0秒查询完毕。"_qs);
    EXPECT_EQ(rig.progress.v, 0);
    EXPECT_EQ(rig.progress.max, 7);
    EXPECT_TRUE(s.completed);
}

TEST(BatchRun, FailedOrMarkerlessPagesGiveEmptyCellsButKeepTheNumber)
{
    Rig rig;
    rig.fetcher.pages[url("2")] = "<html>busy</html>";
    rig.fetcher.pages[url("3")] = u"归属地：上海<br/>"_qs;
    const RunSummary s = rig.run().run("1\n2\n3");
    EXPECT_EQ(rig.row(1), QStringList({"1", "1", "", ""}));
    EXPECT_EQ(rig.row(2), QStringList({"2", "2", "", ""}));
    EXPECT_EQ(rig.row(3), QStringList({"3", "3", u"上海"_qs, ""}));
    EXPECT_EQ(s.empty_pages, 1);
}

TEST(BatchRun, RowsContinueAfterExistingRowsAndRestartAfterAClear)
{
    Rig rig;
    for (const char* id : {"1", "2", "3"})
        rig.table.addRow(id);
    rig.run().run("a\nb");
    EXPECT_EQ(rig.table.rowText(4), "4");
    EXPECT_EQ(rig.table.rowText(5), "5");

    // The list is cleared from the event pump between two numbers.
    rig.pump.passes = 0;
    rig.pump.onPass = [&](int pass) {
        if (pass == 2)
            rig.table.clear();
        return true;
    };
    rig.run().run("c\nd");
    ASSERT_EQ(rig.table.rowCount(), 1);
    EXPECT_EQ(rig.row(1), QStringList({"1", "d", "", ""}));
}

TEST(BatchRun, ElapsedTimeSurvivesAWrappingTickCounter)
{
    Rig rig;
    rig.clock.readings = {0xFFFFFF00u, 0x00000100u + 2488}; // 512 + 2488 ms across the wrap
    rig.run().run("1");
    EXPECT_EQ(rig.messages.shown.back().text, u"耗时3秒查询完毕。"_qs);
}

TEST(BatchRun, SecondsAreAPlainDecimalWithoutTrailingZeros)
{
    EXPECT_EQ(formatSeconds(2531), "2.531");
    EXPECT_EQ(formatSeconds(3000), "3");
    EXPECT_EQ(formatSeconds(2500), "2.5");
    EXPECT_EQ(formatSeconds(40), "0.04");
    EXPECT_EQ(formatSeconds(0), "0");
    EXPECT_EQ(formatSeconds(1234567), "1234.567"); // no grouping
    EXPECT_EQ(formatSeconds(1500, u','), "1,5");
    EXPECT_EQ(formatSeconds(0xFFFFFFFFu), "4294967.295");
}

TEST(BatchRun, ANestedRunFromThePumpCompletesBeforeTheOuterGoesOn)
{
    Rig rig;
    bool nested = false;
    rig.pump.onPass = [&](int pass) {
        if (pass == 2 && !nested) {
            nested = true;
            rig.run().run("n1\nn2");
        }
        return true;
    };
    rig.run().run("o1\no2\no3");
    QStringList numbers;
    for (int r = 1; r <= rig.table.rowCount(); ++r)
        numbers << rig.table.subItem(r, 1);
    EXPECT_EQ(numbers, QStringList({"o1", "n1", "n2", "o2", "o3"}));
    ASSERT_EQ(rig.messages.shown.size(), 4u);
    EXPECT_EQ(rig.messages.shown[1].text, u"共2条数据，查询即将开始。"_qs);
    EXPECT_TRUE(rig.messages.shown[2].text.startsWith(u"耗时"_qs));
    // The inner run left Value = Max = 2; the outer steps past it are refused.
    EXPECT_LE(rig.progress.v, rig.progress.max);
}

TEST(BatchRun, StopsWithoutTheEndMessageOnceTheWindowIsClosed)
{
    Rig rig;
    rig.pump.onPass = [](int pass) { return pass < 2; };
    const RunSummary s = rig.run().run("1\n2\n3");
    EXPECT_FALSE(s.completed);
    EXPECT_EQ(rig.table.rowCount(), 1);
    EXPECT_EQ(rig.fetcher.requested.size(), 1);
    EXPECT_EQ(rig.messages.shown.size(), 1u);
}
