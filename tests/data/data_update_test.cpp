// teloria-data update against a prefix file served on loopback: a new file,
// the same again, a newer one through a plain update, a broken one, a
// shrinking one, and --rollback.
#include "cli/data_command.h"

#include "data/phone_dat.h"
#include "service/service_test_support.h"
#include "support/test_server.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

namespace teloria::cli {
namespace {

using data::PhoneDat;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return "(missing)";
    return f.readAll().toStdString();
}

// count prefixes from first, each at place; a different version gives a different date.
std::string datFile(std::uint32_t first, std::uint32_t count, const char* province, const char* city,
                    const char* version = "2301")
{
    std::vector<PhoneDat::Row> rows;
    for (std::uint32_t p = first; p < first + count; ++p)
        rows.push_back({p, province, city, "", "", 3});
    return *PhoneDat::serialise(rows, version);
}

// A prefix file at /data/prefixes.dat whose bytes and ETag the test sets; it
// answers 304 to a request that names the current ETag.
class PrefixFileServer {
public:
    PrefixFileServer()
        : server_([this](httplib::Server& s) {
              s.Get("/data/prefixes.dat", [this](const httplib::Request& req, httplib::Response& res) {
                  std::lock_guard lock(mutex_);
                  conditional_.push_back(req.get_header_value("If-None-Match"));
                  if (!etag_.empty() && req.get_header_value("If-None-Match") == etag_) {
                      res.status = 304;
                      return;
                  }
                  res.set_header("ETag", etag_);
                  res.set_content(body_, "application/octet-stream");
              });
              s.Get("/elsewhere.dat", [this](const httplib::Request&, httplib::Response& res) {
                  // The same server under another host name: a redirect the update must not follow.
                  res.set_redirect("http://localhost:" + std::to_string(server_.port()) + "/data/prefixes.dat");
              });
          })
    {
    }

    void serve(std::string body, std::string etag)
    {
        std::lock_guard lock(mutex_);
        body_ = std::move(body);
        etag_ = std::move(etag);
    }
    std::string url(const std::string& path = "/data/prefixes.dat") const { return server_.url(path); }
    // The If-None-Match header of each request, in order ("" when none).
    std::vector<std::string> conditional() const
    {
        std::lock_guard lock(mutex_);
        return conditional_;
    }

private:
    mutable std::mutex mutex_;
    std::string body_;
    std::string etag_;
    std::vector<std::string> conditional_;
    testing::TestServer server_;
};

// teloria-data with XDG_DATA_HOME and XDG_CONFIG_HOME in a scratch folder.
class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedData_ = qgetenv("XDG_DATA_HOME");
        savedConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toUtf8());
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_HOME", savedData_);
        qputenv("XDG_CONFIG_HOME", savedConfig_);
    }

    Outcome run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "teloria-data");
        std::ostringstream out, err;
        const int status = runDataCommand(args, out, err);
        return {status, out.str(), err.str()};
    }
    std::string installed() const { return dir_.filePath(QStringLiteral("data/teloria/prefixes.dat")).toStdString(); }
    std::string scratch(const char* name) const { return dir_.filePath(QString::fromLatin1(name)).toStdString(); }
    // What the programs answer for these prefixes now.
    std::string answers(std::uint32_t first, std::uint32_t count) const
    {
        std::vector<std::string> args{"lookup"};
        for (std::uint32_t p = first; p < first + count; ++p)
            args.push_back(std::to_string(p) + "1234");
        return run(args).out;
    }

    QTemporaryDir dir_;
    QByteArray savedData_, savedConfig_;
};

TEST_F(UpdateTest, InstallsRepeatsCheaplyPicksUpANewerFileAndRollsBack)
{
    PrefixFileServer server;
    server.serve(datFile(1900000, 1000, "四川", "成都"), "\"v1\"");

    // A new file: reported against today's data (segment 190 has no locations built in), then installed.
    const Outcome first = run({"update", server.url()});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("sound, 1000 prefixes, dated 2023-01"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("prefixes added 1000, location changed 0, operator changed 0, removed 0"),
              std::string::npos) << first.out;
    EXPECT_NE(first.out.find("\n190\t0\t1000\n"), std::string::npos) << first.out;
    EXPECT_EQ(readAll(installed()), datFile(1900000, 1000, "四川", "成都"));
    EXPECT_NE(run({"lookup", "19000001234"}).out.find("四川 成都\t中国电信\t028\t\t" + installed()), std::string::npos);
    const std::string v1Answers = answers(1900000, 1200);

    // The same file again: the server says 304 to the remembered ETag and nothing changes.
    const Outcome again = run({"update", server.url()});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("not modified"), std::string::npos) << again.out;
    EXPECT_EQ(server.conditional(), (std::vector<std::string>{"", "\"v1\""}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(installed() + ".previous")));

    // A newer file, found by a plain update that repeats the remembered source.
    std::string v2 = datFile(1900000, 1100, "四川", "成都", "2402");
    std::vector<PhoneDat::Row> rows;
    for (std::uint32_t p = 1900000; p < 1901100; ++p)
        rows.push_back({p, p == 1900005 ? "广东" : "四川", p == 1900005 ? "深圳" : "成都", "", "", static_cast<std::uint8_t>(p == 1900007 ? 1 : 3)});
    v2 = *PhoneDat::serialise(rows, "2402");
    server.serve(v2, "\"v2\"");
    const Outcome newer = run({"update"});
    ASSERT_EQ(newer.status, 0) << newer.err;
    EXPECT_NE(newer.out.find("source: " + server.url()), std::string::npos) << newer.out;
    EXPECT_NE(newer.out.find("dated 2024-02"), std::string::npos) << newer.out;
    EXPECT_NE(newer.out.find("prefixes added 100, location changed 1, operator changed 1, removed 0"),
              std::string::npos) << newer.out;
    EXPECT_EQ(readAll(installed()), v2);
    EXPECT_EQ(readAll(installed() + ".previous"), datFile(1900000, 1000, "四川", "成都"));
    EXPECT_NE(answers(1900000, 1200), v1Answers);

    // --rollback brings back exactly the answers of the file before.
    const Outcome back = run({"update", "--rollback"});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(answers(1900000, 1200), v1Answers);
    EXPECT_EQ(readAll(installed()), datFile(1900000, 1000, "四川", "成都"));
    EXPECT_EQ(run({"update", "--rollback"}).status, 1); // nothing left to put back
}

TEST_F(UpdateTest, RefusesBrokenAndShrinkingFilesAndRedirectsElsewhere)
{
    PrefixFileServer server;
    const std::string good = datFile(1900000, 1000, "四川", "成都");
    server.serve(good, "\"v1\"");
    ASSERT_EQ(run({"update", server.url()}).status, 0);

    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> extra;
        int status;
        const char* message; // part of stderr
        bool replaced;
    };
    const std::string truncated = good.substr(0, good.size() - 5);
    const std::vector<Case> cases = {
        {"broken", truncated, {}, 1, "refused, byte ", false},
        {"not a phone.dat", "<html>not found</html>", {}, 1, "refused", false},
        {"shrinking", datFile(1900000, 800, "四川", "成都"), {}, 1, "it would drop 200 (20.0%) of today's prefixes", false},
        {"dry run", datFile(1900000, 2000, "四川", "成都"), {"--dry-run"}, 0, "", false},
        {"shrinking with --force", datFile(1900000, 800, "四川", "成都"), {"--force"}, 0, "", true},
    };
    int etag = 10;
    for (const Case& c : cases) {
        const std::string before = readAll(installed());
        server.serve(c.body, "\"v" + std::to_string(++etag) + "\"");
        std::vector<std::string> args{"update", server.url()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome o = run(args);
        EXPECT_EQ(o.status, c.status) << c.name << ": " << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << c.name << ": " << o.err;
        EXPECT_EQ(readAll(installed()) == c.body, c.replaced) << c.name;
        if (!c.replaced) {
            EXPECT_EQ(readAll(installed()), before) << c.name;
        }
    }

    // A redirect to another host is not followed; nothing is replaced.
    const std::string before = readAll(installed());
    const Outcome redirected = run({"update", server.url("/elsewhere.dat")});
    EXPECT_EQ(redirected.status, 1);
    EXPECT_NE(redirected.err.find("another host"), std::string::npos) << redirected.err;
    EXPECT_EQ(readAll(installed()), before);
}

TEST_F(UpdateTest, TakesAFileAndChecksTheName)
{
    service::testing::writeFile(scratch("fixes.tsv"), "# date: 2024-03-01\n1910000\t广东\t深圳\t\n");
    const Outcome file = run({"update", scratch("fixes.tsv")});
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_NE(file.out.find("prefixes added 1"), std::string::npos) << file.out;
    EXPECT_NE(run({"lookup", "19100001234"}).out.find("广东 深圳"), std::string::npos);
    EXPECT_NE(run({"info"}).out.find("override table\t1\t2024-03-01"), std::string::npos) << run({"info"}).out;

    service::testing::writeFile(scratch("notes.txt"), "1910000\t广东\t深圳\t\n");
    const Outcome badName = run({"update", scratch("notes.txt")});
    EXPECT_EQ(badName.status, 1);
    EXPECT_NE(badName.err.find(".dat or .tsv"), std::string::npos) << badName.err;
    EXPECT_EQ(run({"update", "--rollback", "x"}).status, 2);
    EXPECT_EQ(run({"update", "a.dat", "b.dat"}).status, 2);
}

} // namespace
} // namespace teloria::cli
