// The in-process lookup with an upstream that never answers: it is asked two
// requests at a time and given up on after three failures in a row.
#include "data/fake_upstream.h"

#include "cli/local_resolver.h"
#include "data/data_files.h"
#include "data/prefix_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace teloria::cli {
namespace {

using namespace std::chrono_literals;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;

// Numbers on n prefixes local data give no location for, one number each.
QStringList unknownNumbers(std::size_t n)
{
    const data::PrefixStore builtIn;
    QStringList numbers;
    for (std::uint32_t p = 1990000; static_cast<std::size_t>(numbers.size()) < n; p += 7)
        if (builtIn.needsUpstream(p))
            numbers.push_back(QString::number(p) + QStringLiteral("1234"));
    return numbers;
}

// 20 unknown prefixes against an upstream that holds every answer past the
// time-out: a few requests go out, two at a time, and after three failures
// the rest is answered from local data without asking. The same numbers
// without an upstream give the same cells.
TEST(LocalResolverUpstream, GivesUpOnASilentUpstreamAfterThreeFailuresInARow)
{
    FakeUpstream upstream([](const std::string&) {
        return Reply{.body = teloria::testing::gbkPage(QStringLiteral("广东深圳"), QStringLiteral("移动")), .gated = true};
    });
    data::DataSettings settings{{}, false, "", {}};
    settings.learn.upstream = QString::fromStdString(upstream.baseUrl());
    settings.learn.timeout = 1s; // a loaded machine still gets each request to the upstream within it
    settings.learn.rate = 1e6;
    settings.learn.noLearn = true;
    const QStringList numbers = unknownNumbers(20);

    std::vector<Outcome> outcomes;
    std::vector<RowCells> rows; // copies: a row's cells live as long as its resolver
    const auto before = std::chrono::steady_clock::now();
    {
        LocalResolver resolver(settings, stderr);
        // Two blocks, as a long input comes in: the second asks no one.
        for (const QStringList& block : {numbers.mid(0, 10), numbers.mid(10)}) {
            std::vector<Resolution> resolved;
            resolver.resolve(block, resolved);
            for (const Resolution& r : resolved) {
                outcomes.push_back(r.outcome);
                rows.push_back(*r.cells);
            }
        }
    }
    const auto took = std::chrono::steady_clock::now() - before;
    upstream.openGate();
    upstream.stop();

    const std::size_t asked = upstream.asked().size();
    EXPECT_GE(asked, 2u); // two at once
    EXPECT_LE(asked, 4u) << "asked on after three failures in a row";
    EXPECT_LT(took, 20s); // one prefix after another would be 20 time-outs and more

    data::DataSettings local{{}, false, "", {}};
    local.learn.noLearn = true;
    LocalResolver reference(local, stderr);
    std::vector<Resolution> expected;
    reference.resolve(numbers, expected);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(outcomes[i], Outcome::Answered) << i;
        EXPECT_EQ(rows[i].location, expected[i].cells->location) << numbers[static_cast<qsizetype>(i)].toStdString();
        EXPECT_EQ(rows[i].card, expected[i].cells->card) << i;
    }
    std::printf("silent upstream, 20 unknown prefixes: %zu requests, %.2f s\n", asked,
                std::chrono::duration<double>(took).count());
}

} // namespace
} // namespace teloria::cli
