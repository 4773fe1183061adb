// The page fetch against a real HTTP server on 127.0.0.1, started by each test.
#include "support/qstring_printer.h"

#include "net/multi_fetch.h"
#include "net/page_fetch.h"
#include "net/service_url.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace teloria;
using teloria::testing::LoggedRequest;
using teloria::testing::RefusingPort;
using teloria::testing::TestServer;

namespace {

// A page the server answers with, and the text the fetch must give back.
struct StaticPage {
    const char* path;
    int status;
    const char* contentType;
    std::string body;
    QString text;
};

const std::vector<StaticPage>& staticPages()
{
    static const std::vector<StaticPage> pages = {
        {"/gbk-header", 200, "text/html; charset=GBK",
         "<html><body>\xB9\xE9\xCA\xF4\xB5\xD8\xA3\xBA\xB1\xB1\xBE\xA9 \xB1\xB1\xBE\xA9<br/>"
         "\xBF\xA8\xC0\xE0\xD0\xCD\xA3\xBA\xD2\xC6\xB6\xAF\xC8\xAB\xC7\xF2\xCD\xA8\xBF\xA8<br/></body></html>",
         u"<html><body>归属地：北京 北京<br/>卡类型：移动全球通卡<br/></body></html>"_qs},
        // 镕 and 堃 are GBK characters outside GB2312.
        {"/gb2312-label", 200, "text/html; charset=gb2312",
         "\xB9\xE9\xCA\xF4\xB5\xD8\xA3\xBA\xE9" "F\x88\xD2<br/>\xBF\xA8\xC0\xE0\xD0\xCD\xA3\xBA\xC1\xAA\xCD\xA8<br/>",
         u"归属地：镕堃<br/>卡类型：联通<br/>"_qs},
        {"/quoted-label", 200, "text/html;charset=\"gbk\"",
         "\xB9\xE9\xCA\xF4\xB5\xD8\xA3\xBA\xC9\xCF\xBA\xA3<br/>",
         u"归属地：上海<br/>"_qs},
        {"/meta-utf8", 200, "text/html",
         "<html><head><meta charset=\"utf-8\"></head><body>\xE5\xBD\x92\xE5\xB1\x9E\xE5\x9C\xB0\xEF\xBC\x9A"
         "\xE5\xB9\xBF\xE4\xB8\x9C<br/></body></html>",
         u"<html><head><meta charset=\"utf-8\"></head><body>归属地：广东<br/></body></html>"_qs},
        {"/meta-gbk", 200, "text/html",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
         "\xB9\xE9\xCA\xF4\xB5\xD8\xA3\xBA\xC9\xCF\xBA\xA3<br/>",
         u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">归属地：上海<br/>"_qs},
        {"/not-found", 404, "text/html; charset=utf-8",
         "\xE5\xBD\x92\xE5\xB1\x9E\xE5\x9C\xB0\xEF\xBC\x9A\xE6\x9C\xAA\xE7\x9F\xA5<br/>",
         u"归属地：未知<br/>"_qs},
        {"/server-error", 500, "text/html; charset=gbk", "\xD6\xD0", u"中"_qs},
        {"/empty", 200, "text/html", "", u""_qs},
    };
    return pages;
}

// Lets a handler hold its answer back until the test has seen the client give up.
class Gate {
public:
    void wait()
    {
        std::unique_lock lock(mutex_);
        // Bounded, so that a failing test cannot leave the server hanging.
        cv_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
    }
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// The routes of the page server; the gate holds the slow pages back.
httplib::Server& pageRoutes(httplib::Server& server, Gate& gate)
{
    for (const StaticPage& page : staticPages()) {
        server.Get(page.path, [&page](const httplib::Request&, httplib::Response& res) {
            res.status = page.status;
            res.set_content(page.body, page.contentType);
        });
    }
    server.Get(R"(/hop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1].str());
        if (n > 0) {
            // The body of a redirect must not end up in the result.
            res.set_content("\xE5\xBD\x92\xE5\xB1\x9E\xE5\x9C\xB0\xEF\xBC\x9A" "redirect<br/>",
                            "text/html; charset=utf-8");
            res.set_redirect("/hop/" + std::to_string(n - 1));
        } else {
            res.set_content("final", "text/plain; charset=utf-8");
        }
    });
    server.Get("/loop", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/loop");
    });
    server.Get("/to-ftp", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("ftp://" + req.get_header_value("Host") + "/hop/0");
    });
    // The same server under another name: another host to the client.
    server.Get("/to-localhost", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("http://localhost:" + std::to_string(req.local_port) + "/landed");
    });
    server.Get("/landed", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("final", "text/plain; charset=utf-8");
    });
    // The same host on another port: another origin, another server.
    server.Get("/to-other-port", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("http://127.0.0.1:" + std::to_string(req.local_port == 1 ? 2 : req.local_port - 1) + "/landed");
    });
    server.Get("/to-other-scheme", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("https://127.0.0.1:" + std::to_string(req.local_port) + "/landed");
    });
    server.Get("/to-this-host", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("http://" + req.get_header_value("Host") + "/hop/1");
    });
    server.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("file:///etc/hostname");
    });
    server.Get("/slow-head", [&gate](const httplib::Request&, httplib::Response& res) {
        gate.wait();
        res.set_content("late", "text/plain");
    });
    server.Get("/slow-body", [&gate](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&gate](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0)
                return sink.write("early ", 6);
            gate.wait();
            sink.done();
            return true;
        });
    });
    // ?n=<bytes>, sent with a Content-Length.
    server.Get("/big", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::string(std::stoul(req.get_param_value("n")), 'x'), "text/plain");
    });
    // ?n=<bytes>, sent in chunks, so the size is known only as it arrives.
    server.Get("/big-chunked", [](const httplib::Request& req, httplib::Response& res) {
        const std::size_t total = std::stoul(req.get_param_value("n"));
        res.set_chunked_content_provider("text/plain", [total](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= total) {
                sink.done();
                return true;
            }
            const std::string chunk(std::min<std::size_t>(64 * 1024, total - offset), 'x');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    server.Get("/sim_search138.asp", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("\xE5\xBD\x92\xE5\xB1\x9E\xE5\x9C\xB0\xEF\xBC\x9A" + req.get_param_value("mobile") + "<br/>",
                        "text/html; charset=utf-8");
    });
    // The client's port: a new connection has a new one.
    server.Get("/port", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::to_string(req.remote_port), "text/plain");
    });
    return server;
}

// The server's view of the test: its port, URLs on it, and the numbers it was asked.
class PageServer {
public:
    PageServer() : server_([this](httplib::Server& s) { pageRoutes(s, gate_); }) {}
    ~PageServer() { gate_.open(); } // lets a held handler end before the server stops

    int port() const { return server_.port(); }
    QString base() const { return QString::fromStdString(server_.baseUrl()); }
    QString url(const QString& path) const { return base() + path; }
    Gate& gate() { return gate_; }
    std::vector<LoggedRequest> requests() const { return server_.requests(); }
    std::vector<std::string> received() const
    {
        std::vector<std::string> numbers;
        for (const LoggedRequest& r : server_.requests())
            if (r.path == "/sim_search138.asp")
                numbers.push_back(r.param("mobile"));
        return numbers;
    }

private:
    Gate gate_;
    TestServer server_;
};

class PageFetch : public ::testing::Test {
protected:
    PageServer server;
};

} // namespace

TEST_F(PageFetch, DecodesEachPageByWhatItDeclaresWhateverItsStatus)
{
    for (const StaticPage& page : staticPages()) {
        const FetchResult r = fetchPage(server.url(page.path));
        EXPECT_TRUE(r.ok) << page.path << ": " << r.errorText.toStdString();
        EXPECT_EQ(r.status, page.status) << page.path;
        EXPECT_EQ(r.text, page.text) << page.path;
    }
}

TEST_F(PageFetch, FollowsRedirectsUpToTheLimitAndOnlyToTheSameHostWhenAsked)
{
    const struct {
        const char* path;
        long maxRedirects;
        bool otherHosts; // followRedirectsToOtherHosts
        QString text;
        FetchError error;
        long status;
    } cases[] = {
        {"/hop/0", 5, true, u"final"_qs, FetchError::None, 200},
        {"/hop/1", 5, true, u"final"_qs, FetchError::None, 200},
        {"/hop/5", 5, true, u"final"_qs, FetchError::None, 200},
        {"/hop/6", 5, true, u""_qs, FetchError::TooManyRedirects, 302},
        {"/hop/2", 2, true, u"final"_qs, FetchError::None, 200},
        {"/hop/1", 0, true, u""_qs, FetchError::TooManyRedirects, 302},
        {"/loop", 5, true, u""_qs, FetchError::TooManyRedirects, 302},
        {"/to-ftp", 5, true, u""_qs, FetchError::BadUrl, 302},
        {"/to-file", 5, true, u""_qs, FetchError::BadUrl, 302},
        {"/to-localhost", 5, true, u"final"_qs, FetchError::None, 200},
        {"/to-this-host", 5, true, u"final"_qs, FetchError::None, 200},
        // Same-host redirects only: each hop is checked before it is asked.
        {"/hop/0", 5, false, u"final"_qs, FetchError::None, 200},
        {"/hop/5", 5, false, u"final"_qs, FetchError::None, 200},
        {"/hop/6", 5, false, u""_qs, FetchError::TooManyRedirects, 302},
        {"/hop/2", 2, false, u"final"_qs, FetchError::None, 200},
        {"/hop/1", 0, false, u""_qs, FetchError::TooManyRedirects, 302},
        {"/loop", 5, false, u""_qs, FetchError::TooManyRedirects, 302},
        {"/to-ftp", 5, false, u""_qs, FetchError::BadUrl, 0},
        {"/to-file", 5, false, u""_qs, FetchError::OtherHost, 302},
        {"/to-localhost", 5, false, u""_qs, FetchError::OtherHost, 302},
        {"/to-other-port", 5, false, u""_qs, FetchError::OtherHost, 302},
        {"/to-other-scheme", 5, false, u""_qs, FetchError::OtherHost, 302},
        {"/to-this-host", 5, false, u"final"_qs, FetchError::None, 200},
    };
    for (const auto& c : cases) {
        FetchOptions options;
        options.maxRedirects = c.maxRedirects;
        options.followRedirectsToOtherHosts = c.otherHosts;
        const FetchResult r = fetchPage(server.url(c.path), options);
        const std::string where = std::string(c.path) + " limit " + std::to_string(c.maxRedirects) +
                                  (c.otherHosts ? " any host" : " same host");
        EXPECT_EQ(r.text, c.text) << where;
        EXPECT_EQ(r.error, c.error) << where << ": " << r.errorText.toStdString();
        EXPECT_EQ(r.ok, c.error == FetchError::None) << where;
        EXPECT_EQ(r.status, c.status) << where;
        EXPECT_EQ(r.errorText.isEmpty(), r.ok) << where;
    }
    // The other host was asked once: when redirects to it were allowed.
    const auto requests = server.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const LoggedRequest& r) { return r.path == "/landed"; }),
              1);
}

TEST_F(PageFetch, GivesUpOnASlowServerAtTheConfiguredTimeout)
{
    const teloria::testing::SilentServer silent; // takes the connection, never answers
    FetchOptions options;
    options.totalTimeoutMs = 200;
    // The server holds its answer until the gate opens, after every call.
    for (const QString& url : {server.url(u"/slow-head"_qs), server.url(u"/slow-body"_qs),
                               QString::fromStdString(silent.url("/sim_search138.asp?mobile=1"))}) {
        const FetchResult r = fetchPage(url, options);
        EXPECT_FALSE(r.ok) << url.toStdString();
        EXPECT_EQ(r.error, FetchError::Timeout) << url.toStdString();
        EXPECT_EQ(r.text, QString()) << url.toStdString();
    }
    server.gate().open();
}

// A canceller ends a fetch waiting on a server that holds its answer long
// before the time-out, and a fetch started after cancel() does not start.
TEST_F(PageFetch, ACancellerEndsAFetchInFlightAtOnce)
{
    FetchCanceller canceller;
    FetchOptions options;
    options.totalTimeoutMs = 60'000;
    options.canceller = &canceller;
    FetchResult result;
    std::thread fetcher([&] { result = fetchPage(server.url(u"/slow-head"_qs), options); });
    const auto asked = [&] {
        const auto requests = server.requests();
        return std::any_of(requests.begin(), requests.end(),
                           [](const LoggedRequest& r) { return r.path == "/slow-head"; });
    };
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!asked() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
    EXPECT_TRUE(asked());
    const auto before = std::chrono::steady_clock::now();
    canceller.cancel();
    fetcher.join();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, FetchError::Cancelled) << result.errorText.toStdString();
    EXPECT_LT(took, std::chrono::seconds(5)); // the time-out is 60 s

    const FetchResult later = fetchPage(server.url(u"/hop/0"_qs), options);
    EXPECT_EQ(later.error, FetchError::Cancelled);
    EXPECT_FALSE(later.ok);
}

TEST_F(PageFetch, ABodyOverTheLimitGivesEmptyText)
{
    const struct {
        const char* path;
        std::size_t bytes;
        std::size_t limit;
        bool fits;
    } cases[] = {
        {"/big", 4096, 4096, true},
        {"/big", 4097, 4096, false},   // refused from its Content-Length
        {"/big-chunked", 4096, 4096, true},
        {"/big-chunked", 4097, 4096, false},
        {"/big-chunked", 1 << 20, 4096, false},
        {"/big", (8u << 20) + 1, FetchOptions().maxBodyBytes, false},
        {"/big-chunked", (8u << 20) + 1, FetchOptions().maxBodyBytes, false},
    };
    for (const auto& c : cases) {
        FetchOptions options;
        options.maxBodyBytes = c.limit;
        const FetchResult r = fetchPage(server.url(QStringLiteral("%1?n=%2").arg(c.path).arg(c.bytes)), options);
        const auto where = std::string(c.path) + " " + std::to_string(c.bytes);
        EXPECT_EQ(r.ok, c.fits) << where;
        EXPECT_EQ(r.text.size(), c.fits ? qsizetype(c.bytes) : 0) << where;
        EXPECT_EQ(r.error, c.fits ? FetchError::None : FetchError::TooLarge) << where;
    }
}

TEST_F(PageFetch, TheServerReceivesTheNumberExactlyAsTyped)
{
    const std::vector<std::string> numbers = {
        "13800138000", " 138 0013 8000 ", "138\r\n0013", "13800138000\r", "\t138#1", "+86 138",
        "50%x", "一三八", "", "13800138000&mobile=13900139000", "a=b;c/d?e",
    };
    for (const std::string& number : numbers) {
        const QString typed = QString::fromStdString(number);
        const QString text = fetchPage(lookupUrl(server.base(), typed)).text;
        EXPECT_EQ(text, u"归属地："_qs + typed + u"<br/>"_qs) << number;
    }
    EXPECT_EQ(server.received(), numbers);
}

TEST_F(PageFetch, FailuresGiveEmptyTextAndNeverThrow)
{
    const RefusingPort refusing;

    const struct {
        QString url;
        FetchError error;
    } cases[] = {
        {QString::fromStdString(refusing.url("/sim_search138.asp?mobile=1")), FetchError::Connect},
        {u"http://teloria-no-such-host.invalid/sim_search138.asp?mobile=1"_qs, FetchError::Resolve},
        {u""_qs, FetchError::BadUrl},
        {u"http://"_qs, FetchError::BadUrl},
        {server.url(u"/sim_search138.asp?mobile=138 0013"_qs), FetchError::BadUrl},
        {server.url(u"/sim_search138.asp?mobile=138\r\nX-Injected: 1"_qs), FetchError::BadUrl},
        {u"file:///etc/hostname"_qs, FetchError::BadUrl},
        {QStringLiteral("ftp://127.0.0.1:%1/").arg(server.port()), FetchError::BadUrl},
    };
    FetchOptions options;
    options.connectTimeoutMs = 5000;
    for (const auto& c : cases) {
        FetchResult r;
        EXPECT_NO_THROW(r = fetchPage(c.url, options)) << c.url.toStdString();
        EXPECT_FALSE(r.ok) << c.url.toStdString();
        EXPECT_EQ(r.text, QString()) << c.url.toStdString();
        // Without a reachable name server the look-up of a missing host times out instead.
        const bool slowResolve = c.error == FetchError::Resolve && r.error == FetchError::Timeout;
        if (!slowResolve) {
            EXPECT_EQ(r.error, c.error) << c.url.toStdString() << ": " << r.errorText.toStdString();
        }
        EXPECT_FALSE(r.errorText.isEmpty()) << c.url.toStdString();
        EXPECT_EQ(FetchSession(options).get(c.url).text, QString()) << c.url.toStdString();
    }
    EXPECT_TRUE(server.received().empty()); // the malformed requests never left the client
}

TEST_F(PageFetch, TwoCallsNeverShareAConnectionButASessionKeepsOne)
{
    // The server sees the client's port: a fresh handle per call means a new
    // connection, hence a new port, each time.
    std::set<QString> fresh;
    for (int i = 0; i < 3; ++i)
        fresh.insert(fetchPage(server.url(u"/port"_qs)).text);
    EXPECT_EQ(fresh.size(), 3u);
    EXPECT_EQ(fresh.count(QString()), 0u);

    FetchSession session;
    std::set<QString> reused;
    for (int i = 0; i < 3; ++i)
        reused.insert(session.get(server.url(u"/port"_qs)).text);
    EXPECT_EQ(reused.size(), 1u);
    EXPECT_EQ(reused.count(QString()), 0u);
}

TEST_F(PageFetch, ASessionBehavesLikeTheFreshFetchAndSurvivesFailures)
{
    FetchOptions options;
    options.totalTimeoutMs = 1000; // the slow page below costs this much
    options.maxBodyBytes = 4096;
    FetchSession session(options);
    for (const StaticPage& page : staticPages()) {
        EXPECT_EQ(session.get(server.url(page.path)).text, page.text) << page.path;
    }
    EXPECT_EQ(session.get(server.url(u"/slow-head"_qs)).error, FetchError::Timeout);
    EXPECT_EQ(session.get(server.url(u"/big-chunked?n=5000"_qs)).error, FetchError::TooLarge);
    EXPECT_EQ(session.get(server.url(u"/loop"_qs)).error, FetchError::TooManyRedirects);
    EXPECT_EQ(session.get(server.url(u"/hop/3"_qs)).text, u"final"_qs);
    EXPECT_EQ(session.get(u"http://"_qs).error, FetchError::BadUrl);
    EXPECT_EQ(session.get(server.url(u"/gb2312-label"_qs)).text, staticPages()[1].text);
    server.gate().open();
}

TEST_F(PageFetch, SeveralThreadsFetchAtOnce)
{
    constexpr int kThreads = 4;
    constexpr int kCalls = 8;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            FetchSession session;
            for (int i = 0; i < kCalls; ++i) {
                const QString number = QStringLiteral("1380013%1%2").arg(t).arg(i, 3, 10, QChar('0'));
                const QString url = lookupUrl(server.base(), number);
                const QString expected = u"归属地："_qs + number + u"<br/>"_qs;
                // Alternate the fresh-handle fetch and the session.
                const QString text = i % 2 ? fetchPage(url).text : session.get(url).text;
                if (text != expected)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server.received().size(), std::size_t(kThreads * kCalls));
}

namespace {

// Every URL of the list through one MultiFetch; each index must be told exactly once.
std::vector<FetchResult> fetchTogether(MultiFetch& fetch, const QStringList& urls)
{
    std::vector<FetchResult> results(std::size_t(urls.size()));
    std::vector<int> told(std::size_t(urls.size()), 0);
    fetch.fetch(urls, [&](qsizetype index, FetchResult&& result) {
        ++told.at(std::size_t(index));
        results.at(std::size_t(index)) = std::move(result);
        return true;
    });
    EXPECT_EQ(told, std::vector<int>(std::size_t(urls.size()), 1));
    return results;
}

} // namespace

// Several transfers at once on one multi handle give, URL by URL, what the
// single fetch gives: decoding, redirects hop by hop with the origin checked,
// the limits, and every kind of failure.
TEST_F(PageFetch, MultiFetchAnswersLikeTheSingleFetch)
{
    const RefusingPort refusing;
    QStringList urls;
    for (const StaticPage& page : staticPages())
        urls.append(server.url(QString::fromUtf8(page.path)));
    for (const char* path : {"/hop/0", "/hop/2", "/hop/5", "/hop/6", "/loop", "/to-ftp", "/to-file", "/to-localhost",
                             "/to-other-port", "/to-other-scheme", "/to-this-host", "/big?n=4096", "/big?n=5000",
                             "/big-chunked?n=5000"})
        urls.append(server.url(QString::fromUtf8(path)));
    urls.append(u"http://"_qs);
    urls.append(u"ftp://127.0.0.1/"_qs);
    urls.append(QString::fromStdString(refusing.url("/sim_search138.asp?mobile=1")));

    const struct {
        long maxRedirects;
        bool otherHosts;
        int transfers;
    } cases[] = {{5, false, 3}, {2, false, 1}, {0, false, 8}, {5, true, 3}, {0, true, 2}};
    for (const auto& c : cases) {
        FetchOptions options;
        options.maxRedirects = c.maxRedirects;
        options.followRedirectsToOtherHosts = c.otherHosts;
        options.maxBodyBytes = 4096;
        MultiFetch fetch(c.transfers, options);
        const std::vector<FetchResult> together = fetchTogether(fetch, urls);
        EXPECT_EQ(fetch.peakInFlight(), c.transfers);
        for (qsizetype i = 0; i < urls.size(); ++i) {
            const FetchResult alone = fetchPage(urls[i], options);
            const FetchResult& r = together[std::size_t(i)];
            const std::string where = urls[i].toStdString() + " limit " + std::to_string(c.maxRedirects) +
                                      (c.otherHosts ? " any host" : " same host");
            EXPECT_EQ(r.ok, alone.ok) << where;
            EXPECT_EQ(r.status, alone.status) << where;
            EXPECT_EQ(r.error, alone.error) << where << ": " << r.errorText.toStdString();
            EXPECT_EQ(r.text, alone.text) << where;
            EXPECT_EQ(r.errorText.isEmpty(), r.ok) << where;
        }
    }
}

// A silent server costs one time-out for all the transfers in flight, not one each.
TEST_F(PageFetch, MultiFetchWaitsOutOneTimeOutForAllTransfersInFlight)
{
    const teloria::testing::SilentServer silent;
    FetchOptions options;
    options.totalTimeoutMs = 500;
    MultiFetch fetch(4, options);
    QStringList urls;
    for (int i = 0; i < 4; ++i)
        urls.append(QString::fromStdString(silent.url("/sim_search138.asp?mobile=" + std::to_string(i))));
    const auto before = std::chrono::steady_clock::now();
    for (const FetchResult& r : fetchTogether(fetch, urls))
        EXPECT_EQ(r.error, FetchError::Timeout) << r.errorText.toStdString();
    // One after another they would take 2 s.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    EXPECT_EQ(fetch.peakInFlight(), 4);
}

// cancel() from another thread ends every transfer in flight at once, and
// the URLs not yet asked are answered Cancelled without being asked.
TEST_F(PageFetch, MultiFetchEndsEveryTransferAtACancel)
{
    FetchCanceller canceller;
    FetchOptions options;
    options.totalTimeoutMs = 60'000;
    options.canceller = &canceller;
    MultiFetch fetch(3, options);
    QStringList urls(3, server.url(u"/slow-head"_qs));
    urls.append(server.url(u"/hop/0"_qs));
    std::vector<FetchResult> results;
    std::thread fetcher([&] { results = fetchTogether(fetch, urls); });
    const auto held = [&] { return server.requests().size() >= 3; };
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!held() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
    EXPECT_TRUE(held());
    canceller.cancel();
    fetcher.join();
    ASSERT_EQ(results.size(), 4u);
    for (const FetchResult& r : results)
        EXPECT_EQ(r.error, FetchError::Cancelled) << r.errorText.toStdString();
    EXPECT_EQ(server.requests().size(), 3u); // /hop/0 was never asked
}
