// The learned-answer database on real files in a temporary folder.
#include "data/learned_store.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

using namespace teloria::data;
namespace fs = std::filesystem;

namespace {

using TempDir = teloria::testing::TempFolder;

struct Warnings {
    std::vector<std::string> lines;
    WarningSink sink() { return [this](const std::string& line) { lines.push_back(line); }; }
};

LearnedEntry entry(std::string prefix, std::string location, std::string card = "中国移动", std::int64_t at = 1'700'000'000)
{
    return {std::move(prefix), std::move(location), std::move(card), "upstream.example", at};
}

void writeBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs SQL on a file the way another program would.
void runSql(const fs::path& file, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

// The file names in a folder with their bytes: what a look must leave as it was.
std::map<std::string, std::string> folderBytes(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        files[e.path().filename().string()] = e.is_regular_file() ? readBytes(e.path()) : std::string("(folder)");
    return files;
}

constexpr char kOurTable[] = "CREATE TABLE learned (prefix TEXT PRIMARY KEY NOT NULL, location TEXT NOT NULL,"
                             " card_type TEXT NOT NULL, upstream TEXT NOT NULL, asked_at INTEGER NOT NULL)"
                             " WITHOUT ROWID";

} // namespace

TEST(LearnedStore, KeepsOneRowPerPrefixAcrossReopening)
{
    TempDir dir;
    const fs::path file = dir.path / "sub" / "learned.sqlite";
    {
        Warnings w;
        LearnedStore store(file, w.sink());
        ASSERT_TRUE(store.writable());
        EXPECT_TRUE(store.upsert(entry("1990001", "广东 深圳")));
        EXPECT_TRUE(store.upsert(entry("1990000", "北京", "")));
        EXPECT_TRUE(store.upsert(entry("1990001", "广东 广州", "中国电信", 1'800'000'000)));
        EXPECT_FALSE(store.upsert(entry("199000", "短")));
        EXPECT_TRUE(w.lines.empty());
    }
    LearnedStore store(file);
    EXPECT_EQ(store.loadAll(), (std::vector<LearnedEntry>{entry("1990000", "北京", ""),
                                                          entry("1990001", "广东 广州", "中国电信", 1'800'000'000)}));
    EXPECT_EQ(store.forget({"1990001", "1880000"}), 1);
    EXPECT_EQ(store.loadAll(), (std::vector<LearnedEntry>{entry("1990000", "北京", "")}));
}

TEST(LearnedStore, TwoStoresShareOneFile)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    LearnedStore a(file);
    LearnedStore b(file);
    ASSERT_TRUE(a.writable() && b.writable());
    auto writeMany = [](LearnedStore& store, int first) {
        int written = 0;
        for (int i = 0; i < 200; ++i)
            written += store.upsert(entry(std::to_string(1990000 + first + i), "海南"));
        return written;
    };
    int fromA = 0;
    int fromB = 0;
    std::thread ta([&] { fromA = writeMany(a, 0); });
    std::thread tb([&] { fromB = writeMany(b, 200); });
    ta.join();
    tb.join();
    EXPECT_EQ(fromA, 200);
    EXPECT_EQ(fromB, 200);
    EXPECT_EQ(a.loadAll().size(), 400u);
    EXPECT_EQ(b.loadAll(), a.loadAll());
}

// Files that are no sound learned-answer database: each is moved aside under
// a dated name, and a fresh database takes its place.
TEST(LearnedStore, DamagedFileIsMovedAsideAndAFreshOneStarts)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> damage;
    };
    auto sound = [](const fs::path& file) {
        LearnedStore store(file);
        for (int i = 0; i < 2000; ++i)
            store.upsert(entry(std::to_string(1990000 + i), "内蒙古 锡林郭勒"));
    };
    const std::vector<Case> cases = {
        {"garbage", [](const fs::path& f) { writeBytes(f, std::string(8192, '\x5a')); }},
        {"text file", [](const fs::path& f) { writeBytes(f, "prefix\tlocation\n1990000\t北京\n"); }},
        {"truncated to half", [&](const fs::path& f) {
             sound(f);
             fs::resize_file(f, fs::file_size(f) / 2);
         }},
        {"header only", [&](const fs::path& f) {
             sound(f);
             fs::resize_file(f, 50);
         }},
        {"pages overwritten", [&](const fs::path& f) {
             sound(f);
             std::string bytes = readBytes(f);
             for (std::size_t i = 4096; i < bytes.size(); i += 7)
                 bytes[i] = char(i);
             writeBytes(f, bytes);
         }},
        {"zeroed header", [](const fs::path& f) {
             writeBytes(f, std::string("SQLite format 3\0", 16) + std::string(4080, '\0'));
         }},
    };
    const std::regex asideName(R"(learned\.sqlite\.corrupt-\d{8}-\d{6}(-\d+)?)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path file = dir.path / "learned.sqlite";
        c.damage(file);
        Warnings w;
        {
            LearnedStore store(file, w.sink());
            EXPECT_TRUE(store.writable());
            ASSERT_FALSE(store.movedAside().empty());
            EXPECT_TRUE(std::regex_match(store.movedAside().filename().string(), asideName))
                << store.movedAside();
            EXPECT_TRUE(fs::exists(store.movedAside()));
            ASSERT_EQ(w.lines.size(), 1u);
            EXPECT_NE(w.lines[0].find(store.movedAside().string()), std::string::npos) << w.lines[0];
            EXPECT_TRUE(store.loadAll().empty());
            EXPECT_TRUE(store.upsert(entry("1990000", "北京")));
        }
        LearnedStore reopened(file, w.sink());
        EXPECT_TRUE(reopened.movedAside().empty());
        EXPECT_EQ(reopened.loadAll().size(), 1u);
        EXPECT_EQ(w.lines.size(), 1u);
    }
}

// Files that are sound but not this program's: neither learning nor looking
// renames, changes or adds to them; each is refused with its reason.
TEST(LearnedStore, FilesThatAreNotOursAreLeftAlone)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"a folder", [](const fs::path& f) { fs::create_directory(f); }, "not a regular file"},
        {"another program's learned table",
         [](const fs::path& f) { runSql(f, "CREATE TABLE learned (word TEXT, meaning TEXT)"); }, "other columns"},
        {"only a notes table",
         [](const fs::path& f) { runSql(f, "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('x')"); },
         "no learned table (tables: notes)"},
        {"a newer layout",
         [](const fs::path& f) {
             runSql(f, kOurTable);
             runSql(f, "INSERT INTO learned VALUES ('1990000', '北京', '', 'u', 1); PRAGMA user_version = 7");
         },
         "layout 7 is newer"},
    };
    for (const Case& c : cases) {
        for (const LearnedAccess access : {LearnedAccess::ReadWrite, LearnedAccess::ReadOnly}) {
            SCOPED_TRACE(std::string(c.name) + (access == LearnedAccess::ReadOnly ? ", looking" : ", learning"));
            TempDir dir;
            const fs::path file = dir.path / "learned.sqlite";
            c.make(file);
            const auto before = folderBytes(dir.path);
            Warnings w;
            {
                LearnedStore store(file, w.sink(), {access});
                EXPECT_FALSE(store.writable());
                EXPECT_TRUE(store.movedAside().empty());
                EXPECT_NE(store.refusal().find(c.reason), std::string::npos) << store.refusal();
                EXPECT_TRUE(store.loadAll().empty());
                EXPECT_FALSE(store.upsert(entry("1990001", "北京")));
            }
            ASSERT_EQ(w.lines.size(), 1u);
            EXPECT_NE(w.lines[0].find(c.reason), std::string::npos) << w.lines[0];
            EXPECT_EQ(folderBytes(dir.path), before);
        }
    }
}

// Looking at a sound database in another journal mode reads its rows and
// leaves it as it was: no WAL, no shared memory, no table made.
TEST(LearnedStore, LookingChangesNothing)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    runSql(file, kOurTable);
    runSql(file, "INSERT INTO learned VALUES ('1990000', '北京', '中国移动', 'u', 1700000000)");
    const auto before = folderBytes(dir.path);
    Warnings w;
    {
        LearnedStore store(file, w.sink(), {LearnedAccess::ReadOnly});
        EXPECT_FALSE(store.writable());
        EXPECT_EQ(store.loadAll().size(), 1u);
        const auto forgot = store.forget({"1990000"});
        ASSERT_FALSE(forgot);
        EXPECT_EQ(forgot.error().kind, teloria::ErrorKind::Refused);
    }
    EXPECT_TRUE(w.lines.empty());
    EXPECT_EQ(folderBytes(dir.path), before);

    // Looking where nothing is makes nothing.
    LearnedStore missing(dir.path / "none.sqlite", w.sink(), {LearnedAccess::ReadOnly});
    EXPECT_TRUE(missing.loadAll().empty());
    EXPECT_FALSE(fs::exists(dir.path / "none.sqlite"));
}

// A WAL database whose folder cannot take SQLite's shared-memory file (a
// read-only or full location; here a folder stands where that file would go)
// is still read, whole, and neither learned into nor moved aside.
TEST(LearnedStore, WalDatabaseIsReadWhereNothingCanBeWritten)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    {
        LearnedStore store(file);
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(store.upsert(entry(std::to_string(1990000 + i), "海南")));
    }
    fs::remove(file.string() + "-shm");
    ASSERT_FALSE(fs::exists(file.string() + "-wal"));
    fs::create_directory(file.string() + "-shm");
    for (const LearnedAccess access : {LearnedAccess::ReadWrite, LearnedAccess::ReadOnly}) {
        SCOPED_TRACE(access == LearnedAccess::ReadOnly ? "looking" : "learning");
        Warnings w;
        LearnedStore store(file, w.sink(), {access});
        EXPECT_FALSE(store.writable());
        EXPECT_TRUE(store.movedAside().empty());
        EXPECT_EQ(store.loadAll().size(), 50u);
        EXPECT_LE(w.lines.size(), 1u);
    }
    EXPECT_TRUE(fs::exists(file));
}

// Forgetting while another process holds the write lock past the busy
// time-out is a failure with its reason, and the row stays.
TEST(LearnedStore, ForgettingInABusyDatabaseFails)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    LearnedStore store(file, {}, {LearnedAccess::ReadWrite, std::chrono::milliseconds(20)});
    ASSERT_TRUE(store.upsert(entry("1990000", "北京")));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto busy = store.forget({"1990000"});
    ASSERT_FALSE(busy);
    EXPECT_EQ(busy.error().kind, teloria::ErrorKind::Busy);
    EXPECT_NE(busy.error().reason.find("locked"), std::string::npos) << busy.error().reason;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(store.loadAll().size(), 1u);
    EXPECT_EQ(store.forget({"1990000"}), 1);
}

TEST(LearnedStore, ReadOnlyLocationLearnsNothingWithOneWarning)
{
    TempDir dir;
    const fs::path notAFolder = dir.path / "plain-file";
    writeBytes(notAFolder, "x");
    Warnings w;
    LearnedStore store(notAFolder / "learned.sqlite", w.sink());
    EXPECT_FALSE(store.writable());
    EXPECT_FALSE(store.upsert(entry("1990000", "北京")));
    EXPECT_FALSE(store.upsert(entry("1990001", "北京")));
    EXPECT_TRUE(store.loadAll().empty());
    EXPECT_FALSE(store.forget({"1990000"}));
    EXPECT_EQ(w.lines.size(), 1u);
}

TEST(LearnedStore, ReadOnlyFileIsStillServed)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    {
        LearnedStore store(file);
        store.upsert(entry("1990000", "北京"));
    }
    if (::geteuid() == 0)
        GTEST_SKIP() << "file modes do not bind root";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    Warnings w;
    LearnedStore store(file, w.sink());
    EXPECT_FALSE(store.writable());
    EXPECT_EQ(store.loadAll().size(), 1u);
    EXPECT_EQ(w.lines.size(), 1u);
    EXPECT_TRUE(store.movedAside().empty());
}

// A writer killed in the middle of its work leaves a database that opens with
// every answer it had committed.
TEST(LearnedStore, KilledWriterLeavesADatabaseThatOpens)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        LearnedStore store(file, [](const std::string&) {});
        for (int i = 0;; i = (i + 1) % 100000) {
            if (store.upsert(entry(std::to_string(1900000 + i), "广西 南宁")))
                (void)!::write(pipeFds[1], "+", 1);
        }
    }
    ::close(pipeFds[1]);
    char buffer[64];
    std::size_t committed = 0;
    while (committed < 300) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        committed += std::size_t(n);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(pipeFds[0]);

    ASSERT_TRUE(fs::exists(fs::path(file.string() + "-wal")));
    Warnings w;
    LearnedStore store(file, w.sink());
    EXPECT_TRUE(store.writable());
    EXPECT_TRUE(store.movedAside().empty());
    EXPECT_TRUE(w.lines.empty());
    EXPECT_GE(store.loadAll().size(), committed);
}

TEST(LearnedStore, DefaultPathFollowsXdgDataHome)
{
    struct Case {
        const char* xdg;  // nullptr: unset
        const char* home; // nullptr: unset
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"/data/x", "/home/u", "/data/x/teloria/learned.sqlite"},
        {nullptr, "/home/u", "/home/u/.local/share/teloria/learned.sqlite"},
        {"", "/home/u", "/home/u/.local/share/teloria/learned.sqlite"},
        {"relative/dir", "/home/u", "/home/u/.local/share/teloria/learned.sqlite"},
        {nullptr, nullptr, ""},
    };
    const std::string savedXdg = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        c.xdg ? ::setenv("XDG_DATA_HOME", c.xdg, 1) : ::unsetenv("XDG_DATA_HOME");
        c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
        EXPECT_EQ(LearnedStore::defaultPath(), fs::path(c.expected));
    }
    savedXdg.empty() ? ::unsetenv("XDG_DATA_HOME") : ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    ::setenv("HOME", savedHome.c_str(), 1);
}

// Upstream text is cleaned before it may stand anywhere.
TEST(LearnedText, KeepsPlainNamesAndRefusesMarkup)
{
    struct Case {
        const char* in;
        const char* out; // nullptr: refused
    };
    const std::vector<Case> cases = {
        {"广东 深圳", "广东 深圳"},
        {"  广东\t\r\n 深圳  ", "广东 深圳"},
        {"广东　深圳", "广东 深圳"},
        {"中国移动", "中国移动"},
        {"", nullptr},
        {"   ", nullptr},
        {"广东<b>深圳</b>", nullptr},
        {"<script>alert(1)</script>", nullptr},
        {"深圳&nbsp;", nullptr},
        {"广东,深圳", nullptr},
        {"广东\"深圳", nullptr},
        {"广东\x01深圳", nullptr},
        {"广东卡类型：中国移动", nullptr},
        {"归属地：广东", nullptr},
        {"广东\xEF\xBF\xBD\xEF\xBF\xBD", nullptr},
        {"广东：深圳", nullptr},
        {"广东\u2028深圳", nullptr},
        {"广东\u2029", nullptr},
        {"广东\u0085", nullptr},
        {"\u202E圳深", nullptr},
        {"广\u200B东", nullptr},
        {"\uFEFF广东", nullptr},
        {"Re\u0301union", "R\u00E9union"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const auto cleaned = cleanLearnedText(c.in);
        if (c.out) {
            ASSERT_TRUE(cleaned.has_value());
            EXPECT_EQ(*cleaned, c.out);
        } else {
            EXPECT_FALSE(cleaned.has_value()) << *cleaned;
        }
    }
    EXPECT_FALSE(cleanLearnedText(std::string(kMaxLearnedTextBytes + 1, 'a')).has_value());
}
