#include "lookup/batch_run.h"
#include "lookup/result_table.h"
#include "lookup/fake_ports.h"

#include <gtest/gtest.h>

#include <algorithm>

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
    rig.fetcher.pages[url("1")] = page(u"北京"_qs, u"中国移动"_qs);
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

namespace {

FetchResult answered(long status, const QString& text)
{
    FetchResult r;
    r.ok = true;
    r.status = status;
    r.text = text;
    return r;
}

FetchResult noAnswer(FetchError error, const QString& text)
{
    FetchResult r;
    r.error = error;
    r.errorText = text;
    return r;
}

} // namespace

TEST(BatchRun, TheEndBoxTellsEachFailureReasonOnceWithItsCount)
{
    struct Case {
        const char* name;
        std::vector<std::pair<QString, FetchResult>> answers; // by number; unlisted: refused
        QString numbers;
        QString secondLine; // empty: the end box has one line
        bool warning;
    };
    const FetchResult ok = answered(200, page(u"北京 北京"_qs, u"中国移动"_qs));
    const Case cases[] = {
        {"all answered", {{"1", ok}, {"2", ok}}, "1\n2", "", false},
        {"a 400 is the answer for a line that is not a number", {{"1", ok}, {"x", answered(400, "bad")}}, "1\nx", "", false},
        {"some refused", {{"1", ok}}, "1\n2\n3", u"其中2条查询失败：Couldn't connect to server（2）"_qs, false},
        {"reasons in the order first seen",
         {{"1", answered(404, "<p>gone</p>")}, {"3", answered(503, "")}, {"4", ok}, {"5", answered(404, "")}},
         "1\n2\n3\n4\n5",
         u"其中4条查询失败：HTTP 404（2）；Couldn't connect to server（1）；HTTP 503（1）"_qs, false},
        {"every request failed is a warning",
         {{"1", noAnswer(FetchError::Timeout, "Operation timed out after 10001 milliseconds with 0 bytes received")}},
         "1\n2",
         u"其中2条查询失败：Operation timed out（1）；Couldn't connect to server（1）"_qs, true},
    };
    for (const Case& c : cases) {
        Rig rig;
        for (const auto& [number, result] : c.answers)
            rig.fetcher.answers[url(number)] = result;
        rig.clock.readings = {0, 1187};
        const RunSummary s = rig.run().run(c.numbers);
        ASSERT_EQ(rig.messages.shown.size(), 2u) << c.name;
        const Message& end = rig.messages.shown[1];
        EXPECT_EQ(end.title, u"提示："_qs) << c.name;
        const QString first = u"耗时1.187秒查询完毕。"_qs;
        EXPECT_EQ(end.text, c.secondLine.isEmpty() ? first : first + "\r\n" + c.secondLine) << c.name;
        EXPECT_EQ(end.warning, c.warning) << c.name;
        EXPECT_EQ(s.looked_up, rig.table.rowCount()) << c.name;
    }
}

TEST(BatchRun, EachRowSaysWhatHappenedWithoutTouchingItsCells)
{
    struct Case {
        const char* name;
        QString line;
        FetchResult result;
        RowState state;
        QString note;
        QString location; // the cell as the page gave it
    };
    const Case cases[] = {
        {"answered", "13800138000", answered(200, page(u"北京 北京"_qs, u"中国移动"_qs)), RowState::Answered, "", u"北京 北京"_qs},
        {"unknown prefix", "19999999999", answered(200, page(u"未知"_qs, u"未知"_qs)), RowState::UnknownPrefix,
         u"号段未知"_qs, u"未知"_qs},
        {"the cleaner says no", "abc", answered(200, page(u"北京 北京"_qs, u"中国移动"_qs)), RowState::NotANumber,
         u"不是手机号码"_qs, u"北京 北京"_qs},
        {"the service says 400", "13800138000", answered(400, "<p>bad</p>"), RowState::NotANumber, u"不是手机号码"_qs, ""},
        {"refused", "13800138000", noAnswer(FetchError::Connect, "Failed to connect to 127.0.0.1 port 9 after 0 ms: Couldn't connect to server"),
         RowState::Failed, u"查询失败：Failed to connect to 127.0.0.1 port 9: Couldn't connect to server"_qs, ""},
        {"error status keeps its page's cells", "13800138000", answered(500, page(u"上海"_qs, u"x"_qs)), RowState::Failed,
         u"查询失败：HTTP 500"_qs, u"上海"_qs},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.fetcher.answers[url(c.line)] = c.result;
        const auto digitsOnly = [](const QString& line) {
            return !line.isEmpty() && std::all_of(line.begin(), line.end(), [](QChar ch) { return ch.isDigit(); });
        };
        BatchRun({rig.fetcher, rig.clock, rig.progress, rig.messages, rig.pump, rig.table}, kBase, u'.', digitsOnly)
            .run(c.line);
        ASSERT_EQ(rig.table.rowCount(), 1) << c.name;
        EXPECT_EQ(rig.table.rowState(1), c.state) << c.name;
        EXPECT_EQ(rig.table.subItem(1, 1), c.line) << c.name;
        EXPECT_EQ(rig.table.subItem(1, 2), c.location) << c.name;
        const QModelIndex cell = rig.table.index(0, 2);
        EXPECT_EQ(cell.data(ResultTable::kRowStateRole).toInt(), static_cast<int>(c.state)) << c.name;
        EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), c.note.isEmpty() ? c.location : c.note) << c.name;
    }
}

// Numbers are asked as many at a time as the fetcher takes, and shown one by
// one with a pass of the pump before each: a Stop asked before the third row
// keeps two rows, whatever was already asked with them.
TEST(BatchRun, AStopEndsTheRunAfterTheNumberInHandAndKeepsTheRows)
{
    struct Case {
        int atOnce;
        std::vector<qsizetype> blocks;
    };
    for (const Case& c : {Case{1, {1, 1}}, Case{2, {2}}, Case{3, {3}}, Case{9, {5}}}) {
        Rig rig;
        rig.fetcher.blockSize = c.atOnce;
        rig.clock.readings = {0, 400};
        rig.pump.onPass = [&](int pass) {
            rig.pump.stop = pass == 3; // asked while the second number was in hand
            return true;
        };
        const RunSummary s = rig.run().run("1\n2\n3\n4\n5");
        EXPECT_TRUE(s.stopped);
        EXPECT_FALSE(s.completed);
        ASSERT_EQ(rig.table.rowCount(), 2) << c.atOnce;
        EXPECT_EQ(rig.row(2), QStringList({"2", "2", "", ""})) << c.atOnce;
        EXPECT_EQ(rig.fetcher.blocks, c.blocks) << c.atOnce;
        EXPECT_EQ(rig.pump.passes, 3) << c.atOnce;
        EXPECT_EQ(rig.progress.v, 2) << c.atOnce;
        ASSERT_EQ(rig.messages.shown.size(), 2u);
        EXPECT_EQ(rig.messages.shown[1].text,
                  u"已停止：完成2/5条，耗时0.4秒。\r\n其中2条查询失败：Couldn't connect to server（2）"_qs);
        EXPECT_TRUE(rig.messages.shown[1].warning);
        EXPECT_EQ(rig.pump.starts, 1);
    }
}

// A second Query between two numbers starts a nested run; however long it is,
// the outer run then goes on with every one of its own numbers.
TEST(BatchRun, ANestedRunOf50000LosesNoRowOfEitherRun)
{
    Rig rig;
    rig.fetcher.blockSize = 2; // as in the window: o2 is asked with o1, before the nested run
    QStringList inner;
    for (int i = 0; i < 50000; ++i)
        inner << QStringLiteral("n%1").arg(i);
    bool nested = false;
    RunSummary innerSummary;
    rig.pump.onPass = [&](int pass) {
        if (pass == 2 && !nested) {
            nested = true;
            innerSummary = rig.run().runNumbers(inner);
        }
        return true;
    };
    const RunSummary outer = rig.run().run("o1\no2\no3");
    EXPECT_EQ(outer.looked_up, 3);
    EXPECT_EQ(innerSummary.looked_up, 50000);
    ASSERT_EQ(rig.table.rowCount(), 50003);
    EXPECT_EQ(rig.table.subItem(1, 1), "o1");
    EXPECT_EQ(rig.table.subItem(2, 1), "n0");
    EXPECT_EQ(rig.table.subItem(50001, 1), "n49999");
    EXPECT_EQ(rig.table.subItem(50002, 1), "o2");
    EXPECT_EQ(rig.table.subItem(50003, 1), "o3");
    EXPECT_EQ(rig.table.rowText(50003), "50003");
    EXPECT_EQ(rig.fetcher.requested.size(), 50003);
}
