// Learned answers in the store the programs build, through the service's
// resolver, against a fake online lookup service on loopback.
#include "data/fake_upstream.h"

#include "cli/data_command.h"

#include "data/data_files.h"
#include "data/learning.h"
#include "service/location_resolver.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

using namespace teloria;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;
using teloria::testing::gbkPage;
namespace fs = std::filesystem;

namespace {

using TempDir = teloria::testing::TempFolder;

// A program's store: no data folders, the learning settings given.
struct Program {
    data::LoadedStore loaded;
    service::LocationResolver resolver;

    explicit Program(data::LearnSettings learn, std::vector<std::string> files = {})
        : loaded(data::loadStore(data::DataSettings{std::move(files), false, "", std::move(learn)}))
        , resolver(loaded.store, loaded.learning)
    {
    }
    std::string answer(const std::string& number) const
    {
        const data::Answer& a = resolver.resolve(*data::cleanNumber(number));
        return a.location + "|" + a.cardType + "|" + a.source;
    }
};

data::LearnSettings learnFrom(const std::string& upstream, const fs::path& file)
{
    data::LearnSettings s;
    s.upstream = QString::fromStdString(upstream);
    s.rate = 1e6;
    s.learnedFile = file;
    return s;
}

// 50 prefixes the built-in data give no location for.
std::vector<std::uint32_t> unknownPrefixes()
{
    data::PrefixStore builtIn;
    std::vector<std::uint32_t> prefixes;
    for (std::uint32_t p = 1990000; prefixes.size() < 50; p += 13)
        if (builtIn.needsUpstream(p))
            prefixes.push_back(p);
    return prefixes;
}

// The upstream writes places as run-together descriptions; the store keeps the one spelling.
Reply describe(const std::string&)
{
    return {.body = gbkPage(QStringLiteral("广东省深圳市"), QStringLiteral("移动"))};
}

} // namespace

// 1,000 numbers over 50 unknown prefixes: 50 requests, each for the prefix and
// "0000"; the next program answers the same from the database alone, with the
// upstream stopped or not configured at all.
TEST(Learning, LearnsOncePerPrefixAndAnswersOfflineNextTime)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    const std::vector<std::uint32_t> prefixes = unknownPrefixes();
    std::vector<std::string> numbers;
    for (int i = 0; i < 1000; ++i)
        numbers.push_back(std::to_string(prefixes[std::size_t(i) % prefixes.size()]) + std::to_string(1000 + i));

    auto runAll = [&](const Program& program) {
        std::vector<std::string> answers(numbers.size());
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < 8; ++t)
            threads.emplace_back([&, t] {
                for (std::size_t i = t; i < numbers.size(); i += 8)
                    answers[i] = program.answer(numbers[i]);
            });
        for (std::thread& t : threads)
            t.join();
        return answers;
    };

    std::vector<std::string> first;
    std::string base;
    {
        FakeUpstream upstream(describe);
        base = upstream.baseUrl();
        Program program(learnFrom(base, file));
        first = runAll(program);
        const std::vector<std::string> asked = upstream.asked();
        std::set<std::string> expected;
        for (std::uint32_t p : prefixes)
            expected.insert(std::to_string(p) + "0000");
        EXPECT_EQ(asked.size(), 50u);
        EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()), expected);
        for (const std::string& a : first)
            ASSERT_EQ(a, "广东 深圳|中国移动|learned");
    }
    data::LearnSettings stopped = learnFrom(base, file);
    EXPECT_EQ(runAll(Program(stopped)), first);
    data::LearnSettings offline = stopped;
    offline.upstream.clear();
    EXPECT_EQ(runAll(Program(offline)), first);
}

// Override tables stay above learned answers, and an override that gives a
// prefix both fields leaves the upstream unasked.
TEST(Learning, OverridesWinAndAreNotAskedAbout)
{
    TempDir dir;
    const std::vector<std::uint32_t> prefixes = unknownPrefixes();
    const std::string overridden = std::to_string(prefixes[0]);
    const fs::path table = dir.path / "mine.tsv";
    std::ofstream(table) << overridden << "\t海南\t\t中国电信\n";
    FakeUpstream upstream(describe);
    Program program(learnFrom(upstream.baseUrl(), dir.path / "learned.sqlite"), {table.string()});
    EXPECT_EQ(program.answer(overridden + "1234"), "海南|中国电信|" + table.string());
    EXPECT_EQ(program.answer(std::to_string(prefixes[1]) + "1234"), "广东 深圳|中国移动|learned");
    EXPECT_EQ(upstream.asked(), std::vector<std::string>{std::to_string(prefixes[1]) + "0000"});
}

// Two programs learning into one database at once; a third reads all of it.
TEST(Learning, TwoProgramsShareOneDatabase)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    const std::vector<std::uint32_t> prefixes = unknownPrefixes();
    FakeUpstream upstream(describe);
    {
        Program a(learnFrom(upstream.baseUrl(), file));
        Program b(learnFrom(upstream.baseUrl(), file));
        std::thread ta([&] {
            for (std::size_t i = 0; i < prefixes.size(); i += 2)
                a.answer(std::to_string(prefixes[i]) + "1234");
        });
        std::thread tb([&] {
            for (std::size_t i = 1; i < prefixes.size(); i += 2)
                b.answer(std::to_string(prefixes[i]) + "1234");
        });
        ta.join();
        tb.join();
    }
    Program c(learnFrom(upstream.baseUrl(), file));
    EXPECT_EQ(c.loaded.learning->loadedCount(), prefixes.size());
    EXPECT_EQ(upstream.asked().size(), prefixes.size());
}

// --no-learn: answers for this run only, nothing on disk; without an upstream
// and without a database nothing is started at all.
TEST(Learning, NoLearnWritesNothing)
{
    TempDir dir;
    const fs::path file = dir.path / "teloria" / "learned.sqlite";
    FakeUpstream upstream(describe);
    data::LearnSettings settings = learnFrom(upstream.baseUrl(), {});
    settings.noLearn = true;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
    {
        Program program(settings);
        EXPECT_EQ(program.answer(std::to_string(unknownPrefixes()[0]) + "1234"), "广东 深圳|中国移动|learned");
    }
    EXPECT_TRUE(fs::is_empty(dir.path));
    data::LearnSettings none;
    Program plain(none);
    EXPECT_EQ(plain.loaded.learning, nullptr);
    EXPECT_TRUE(fs::is_empty(dir.path));
    saved ? ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
}

// A learned answer older than refresh-days is served at once and asked again
// behind it, once; the new answer then serves. A fresh one is not asked about.
TEST(Learning, OldLearnedAnswersAreAskedAgainOnce)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    const std::string oldPrefix = std::to_string(unknownPrefixes()[0]);
    const std::string freshPrefix = std::to_string(unknownPrefixes()[1]);
    {
        data::LearnedStore store(file);
        store.upsert({oldPrefix, "湖北 襄阳", "中国移动", "up.example", 1}); // 1970
        store.upsert({freshPrefix, "湖北 武汉", "中国移动", "up.example", std::int64_t(std::time(nullptr))});
    }
    FakeUpstream upstream(describe);
    const Program program(learnFrom(upstream.baseUrl(), file));
    EXPECT_EQ(program.answer(freshPrefix + "1234"), "湖北 武汉|中国移动|learned");
    EXPECT_EQ(program.answer(oldPrefix + "1234"), "湖北 襄阳|中国移动|learned");
    ASSERT_TRUE(upstream.waitForRequests(1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (program.answer(oldPrefix + "1234") != "广东 深圳|中国移动|learned"
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(program.answer(oldPrefix + "1234"), "广东 深圳|中国移动|learned");
    EXPECT_EQ(program.answer(freshPrefix + "1234"), "湖北 武汉|中国移动|learned");
    EXPECT_EQ(upstream.asked(), std::vector<std::string>{oldPrefix + "0000"});
}

// teloria-data on a learned-answer database: export, forget, and the learned
// answers counted as a source of their own.
TEST(Learning, DataCommandExportsAndForgets)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    {
        data::LearnedStore store(file);
        store.upsert({"1990001", "广东 深圳", "中国移动", "up.example", 1});
        store.upsert({"1990002", "北京", "", "up.example", 1});
        store.upsert({"1990003", "海南", "中国电信", "up.example", 1});
    }
    const std::string db = file.string();
    const std::string dat = (dir.path / "learned.dat").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* outHas; // nullptr: nothing to look for
    };
    const std::vector<Case> cases = {
        {{"--learned", db, "export-learned"}, 0, "1990001\t广东\t深圳\t中国移动\n1990002\t北京\t\t\n1990003\t海南\t\t中国电信\n"},
        {{"--learned", db, "export-learned", "-o", dat}, 0, nullptr},
        {{"check", dat}, 0, ": sound, 3 prefixes"},
        {{"--learned", db, "--data", (dir.path / "none.tsv").string(), "stats"}, 0, "\nlearned\t3\n"},
        {{"--learned", db, "forget", "1990001", "1880000"}, 0, "forgot 1 of 2 prefixes"},
        {{"--learned", db, "export-learned"}, 0, "1990002\t北京\t\t\n1990003"},
        {{"--learned", db, "forget", "199000"}, 2, nullptr},
        {{"--learned", db, "forget"}, 2, nullptr},
        {{"--learned", db, "export-learned", "extra"}, 2, nullptr},
        {{"--learned", (dir.path / "missing.sqlite").string(), "export-learned"}, 1, nullptr},
        {{"--learned", (dir.path / "missing.sqlite").string(), "forget", "1990002"}, 1, nullptr},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        std::vector<std::string> args{"teloria-data"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::ostringstream out, err;
        EXPECT_EQ(cli::runDataCommand(args, out, err), c.status) << err.str();
        if (c.outHas) {
            EXPECT_NE(out.str().find(c.outHas), std::string::npos) << out.str();
        }
    }
    EXPECT_FALSE(fs::exists(dir.path / "missing.sqlite"));
}

// teloria-data on a database that is not a learned-answer database of this
// program: export-learned and forget fail with the reason and leave the file
// exactly as it was (no rename, no table, no write-ahead log).
TEST(Learning, DataCommandLeavesAForeignDatabaseAlone)
{
    struct Case {
        const char* name;
        const char* sql;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"only notes", "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('keep me')", "no learned table"},
        {"another learned table", "CREATE TABLE learned (word TEXT, meaning TEXT)", "other columns"},
    };
    for (const Case& c : cases) {
        for (const char* command : {"export-learned", "forget"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + command);
            TempDir dir;
            const fs::path file = dir.path / "other.sqlite";
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
            std::ifstream in(file, std::ios::binary);
            const std::string before{std::istreambuf_iterator<char>(in), {}};
            std::vector<std::string> args{"teloria-data", "--learned", file.string(), command};
            if (std::string(command) == "forget")
                args.push_back("1990001");
            std::ostringstream out, err;
            EXPECT_EQ(cli::runDataCommand(args, out, err), 1);
            EXPECT_NE(err.str().find(c.reason), std::string::npos) << err.str();
            std::ifstream again(file, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), before);
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
        }
    }
}
