#include "lookup_server.h"

#include "lookup_page.h"
#include "service_test_support.h"

#include <dirent.h>
#include <httplib.h>
#include <netinet/tcp.h>

#include <gtest/gtest.h>

#include <thread>

namespace teloria::service {
namespace {

using testing::RawConnection;
using testing::statusOf;

const std::shared_ptr<const LocationResolver>& sharedResolver()
{
    static const auto resolver = [] {
        auto store = std::make_shared<data::PrefixStore>();
        store->addPhoneDat(*PhoneDat::parse(testing::sampleDat().build()), "sample.dat");
        return std::make_shared<const LocationResolver>(store);
    }();
    return resolver;
}

class LookupServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        port_ = server_.bind("127.0.0.1", 0, &error);
        ASSERT_GT(port_, 0) << error;
        ASSERT_TRUE(server_.serveInBackground(&error)) << error;
    }

    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(30, 0);
        return c;
    }

    std::string lookupTarget(const std::string& encodedNumber) const
    {
        return std::string(kLookupRoute) + "?mobile=" + encodedNumber;
    }

    LookupServer server_{sharedResolver()};
    int port_ = 0;
};

struct QueryCase {
    const char* encodedNumber; // as it stands in the URL
    int status;
    const char* location;      // "" with status 400: no markers at all
    const char* cardType;
};

void PrintTo(const QueryCase& c, std::ostream* os) { *os << "'" << c.encodedNumber << "'"; }

const QueryCase kQueries[] = {
    {"13800148000", 200, "北京", "中国移动"},
    {"13800138000", 200, "测试 样例", "中国联通"}, // from the loaded phone.dat
    {"%2B86%20138-0014-8000", 200, "北京", "中国移动"},
    {"0086%20138%200014%208000", 200, "北京", "中国移动"},
    {"8613800148000", 200, "北京", "中国移动"},
    {"%20%2013800148000%20", 200, "北京", "中国移动"},
    {"19200001234", 200, "未知", "中国广电"},
    {"19999990000", 200, "甲省 乙市", "中国电信"},
    {"15412345678", 200, "未知", "未知"},
    {"17112345678", 200, "未知", "中国联通虚拟运营商"},
    {"010-12345678", 200, "北京", "固定电话"},
    {"0755%2012345678", 200, "广东 深圳", "固定电话"},
    {"", 400, "", ""},
    {"abc", 400, "", ""},
    {"1380013800", 400, "", ""},
    {"138001380000", 400, "", ""},
    {"%E5%8C%97%E4%BA%AC", 400, "", ""},
    {"%zz", 400, "", ""},
    {"13800138000%00", 400, "", ""},
};

class LookupQueryTest : public LookupServerTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(LookupQueryTest, AnswersTheFieldsAsTheLookupRunCutsThem)
{
    const QueryCase& q = GetParam();
    auto c = client();
    const auto res = c.Get(lookupTarget(q.encodedNumber));
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, q.status);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=GBK");
    const auto fields = testing::fieldsOf(res->body);
    EXPECT_EQ(fields.hasMarkers, q.status == 200);
    EXPECT_EQ(fields.location.toStdString(), q.location);
    EXPECT_EQ(fields.cardType.toStdString(), q.cardType);
}

INSTANTIATE_TEST_SUITE_P(Cases, LookupQueryTest, ::testing::ValuesIn(kQueries));

TEST_F(LookupServerTest, PageIsGbkEncoded)
{
    auto c = client();
    const auto res = c.Get(lookupTarget("13800148000"));
    ASSERT_TRUE(res);
    // 归属地：北京<br/> and 卡类型：中国移动<br/> in GBK bytes
    EXPECT_NE(res->body.find("\xB9\xE9\xCA\xF4\xB5\xD8\xA3\xBA\xB1\xB1\xBE\xA9<br/>"), std::string::npos);
    EXPECT_NE(res->body.find("\xBF\xA8\xC0\xE0\xD0\xCD\xA3\xBA\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF<br/>"), std::string::npos);
    EXPECT_NE(res->body.find("13800148000"), std::string::npos);

    const auto unknown = c.Get(lookupTarget("19200001234"));
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->body.find("\xB9\xE9\xCA\xF4\xB5\xD8\xA3\xBA\xCE\xB4\xD6\xAA<br/>"), std::string::npos); // 未知
}

struct RouteCase {
    const char* method;
    const char* target;
    int status;
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.method << ' ' << c.target; }

class RouteTest : public LookupServerTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(RouteTest, OtherPathsAndMethodsAreRefused)
{
    const RouteCase& r = GetParam();
    RawConnection conn(port_);
    ASSERT_TRUE(conn.connected());
    conn.send(std::string(r.method) + " " + r.target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::string response = conn.readAll();
    EXPECT_EQ(statusOf(response), r.status) << response.substr(0, 200);
    if (r.status == 405) {
        EXPECT_NE(response.find("Allow: GET, HEAD"), std::string::npos);
    }
    if (std::string_view(r.method) == "HEAD") {
        EXPECT_TRUE(response.ends_with("\r\n\r\n")) << "HEAD answers carry no body";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RouteTest, ::testing::Values(
    RouteCase{"GET", "/sim_search138.asp?mobile=13800138000", 200},
    RouteCase{"HEAD", "/sim_search138.asp?mobile=13800138000", 200},
    RouteCase{"GET", "/", 404},
    RouteCase{"GET", "/sim_search138.aspx?mobile=13800138000", 404},
    RouteCase{"GET", "/sim_search138Xasp?mobile=13800138000", 404},
    RouteCase{"GET", "/SIM_SEARCH138.ASP?mobile=13800138000", 404},
    RouteCase{"GET", "/sim_search138.asp/x?mobile=13800138000", 404},
    RouteCase{"POST", "/elsewhere", 404},
    RouteCase{"GET", "/sim_search138.asp", 400},                 // no mobile key
    RouteCase{"GET", "/sim_search138.asp?number=13800138000", 400},
    RouteCase{"POST", "/sim_search138.asp?mobile=13800138000", 405},
    RouteCase{"PUT", "/sim_search138.asp?mobile=13800138000", 405},
    RouteCase{"DELETE", "/sim_search138.asp?mobile=13800138000", 405},
    RouteCase{"OPTIONS", "/sim_search138.asp?mobile=13800138000", 405},
    RouteCase{"PATCH", "/sim_search138.asp?mobile=13800138000", 405}
));

struct RawCase {
    const char* name;
    std::string request;
    int status;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

class MalformedRequestTest : public LookupServerTest, public ::testing::WithParamInterface<RawCase> {};

TEST_P(MalformedRequestTest, GetsAnErrorAndTheServerGoesOn)
{
    {
        RawConnection conn(port_);
        ASSERT_TRUE(conn.connected());
        conn.send(GetParam().request);
        const std::string response = conn.readResponse().value_or("");
        EXPECT_EQ(statusOf(response), GetParam().status) << response.substr(0, 200);
        EXPECT_EQ(testing::fieldsOf(response).hasMarkers, false);
    }
    auto c = client();
    const auto after = c.Get(lookupTarget("13800148000"));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

const std::string kMiB(1u << 20, '1');

INSTANTIATE_TEST_SUITE_P(Cases, MalformedRequestTest, ::testing::Values(
    RawCase{"Garbage", "HELLO\r\n\r\n", 400},
    RawCase{"NoVersion", "GET /sim_search138.asp?mobile=13800138000\r\n\r\n", 400},
    RawCase{"UnknownMethod", "BREW /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nHost: x\r\n\r\n", 400},
    RawCase{"BinaryBytes", std::string("\x00\xFF\xFE\x01\r\n\r\n", 8), 400},
    RawCase{"LongHeaderLine", "GET /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nX-Pad: " + std::string(20000, 'a') + "\r\n\r\n", 400},
    RawCase{"MiBHeader", "GET /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nX-Pad: " + kMiB + "\r\n\r\n", 400},
    RawCase{"MiBQuery", "GET /sim_search138.asp?mobile=" + kMiB + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
    RawCase{"LongQueryUnderTheLineLimit", "GET /sim_search138.asp?mobile=" + std::string(4000, '1') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
    RawCase{"LongNumber", "GET /sim_search138.asp?mobile=" + std::string(100, '1') + " HTTP/1.1\r\nHost: x\r\n\r\n", 400},
    RawCase{"BodyOverTheLimit", "POST /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'x'), 413},
    RawCase{"MiBPost", "POST /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n" + kMiB, 413},
    RawCase{"SmallPost", "POST /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab", 405}
));

// A client that closes its sending side gets its connection closed, with no
// hang and no stray bytes: the server treats a peer's FIN as the end of the
// connection (before writing it checks that the peer is still there), so
// even a whole request sent before the FIN is not answered.
TEST_F(LookupServerTest, HalfClosedConnectionsAreClosed)
{
    const std::string request = "GET /sim_search138.asp?mobile=13800148000 HTTP/1.1\r\nHost: x\r\n\r\n";
    for (const std::string& sent : {std::string(), std::string("GET /sim_sea"), request.substr(0, request.size() - 2),
                                    request, request + request}) {
        RawConnection conn(port_);
        conn.send(sent);
        conn.shutdownWrite();
        const std::string response = conn.readAll();
        // Nothing, or (should the check ever pass) only whole, right answers.
        for (std::size_t at = 0; at < response.size();) {
            EXPECT_EQ(statusOf(response.substr(at)), 200) << "'" << sent << "'";
            const auto body = response.find("\r\n\r\n", at);
            ASSERT_NE(body, std::string::npos);
            const auto length = std::stoul(response.substr(response.find("Content-Length: ", at) + 16));
            EXPECT_EQ(testing::fieldsOf(response.substr(body + 4, length)).location.toStdString(), "北京");
            at = body + 4 + length;
        }
    }
    // After an answer on a keep-alive connection, a half-close ends it.
    RawConnection conn(port_);
    conn.send(request);
    const auto first = conn.readResponse();
    ASSERT_TRUE(first);
    EXPECT_EQ(statusOf(*first), 200);
    conn.shutdownWrite();
    EXPECT_EQ(conn.readAll(), "");

    auto c = client();
    const auto after = c.Get(lookupTarget("13800148000"));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

// 8 clients on keep-alive connections, 500 requests each, every answer checked.
TEST_F(LookupServerTest, ConcurrentClientsGetTheirOwnAnswers)
{
    constexpr int kClients = 8;
    constexpr int kRequests = 500;
    std::vector<std::vector<std::string>> failures(kClients);
    std::vector<std::thread> threads;
    for (int t = 0; t < kClients; ++t) {
        threads.emplace_back([this, t, &failures] {
            httplib::Client c("127.0.0.1", port_);
            c.set_keep_alive(true);
            c.set_read_timeout(30, 0);
            for (int i = 0; i < kRequests; ++i) {
                const QueryCase& q = kQueries[(t * 7 + i) % std::size(kQueries)];
                const auto res = c.Get(lookupTarget(q.encodedNumber));
                if (!res) {
                    failures[t].push_back(std::string(q.encodedNumber) + ": " + httplib::to_string(res.error()));
                    continue;
                }
                const auto fields = testing::fieldsOf(res->body);
                if (res->status != q.status || fields.location.toStdString() != q.location
                    || fields.cardType.toStdString() != q.cardType)
                    failures[t].push_back(std::string(q.encodedNumber) + ": status " + std::to_string(res->status) + " "
                                          + fields.location.toStdString() + "/" + fields.cardType.toStdString());
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kClients; ++t)
        EXPECT_EQ(failures[t].size(), 0u) << "client " << t << ", first: " << (failures[t].empty() ? "" : failures[t].front());
}

// Without TCP_NODELAY a keep-alive client waits out the delayed ACK on every answer.
TEST_F(LookupServerTest, AcceptedSocketsHaveNoDelay)
{
    RawConnection conn(port_);
    conn.send("GET /sim_search138.asp?mobile=13800148000 HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(conn.readResponse());
    sockaddr_in mine{};
    socklen_t len = sizeof mine;
    ASSERT_EQ(getsockname(conn.fd(), reinterpret_cast<sockaddr*>(&mine), &len), 0);

    // The server's end of this connection is a socket of this very process.
    int serverSide = -1;
    DIR* fds = opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (dirent* e = readdir(fds)) {
        const int fd = std::atoi(e->d_name);
        sockaddr_in local{}, peer{};
        socklen_t l1 = sizeof local, l2 = sizeof peer;
        if (fd <= 2 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &l1) != 0
            || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &l2) != 0 || local.sin_family != AF_INET)
            continue;
        if (ntohs(local.sin_port) == port_ && peer.sin_port == mine.sin_port)
            serverSide = fd;
    }
    closedir(fds);
    ASSERT_GE(serverSide, 0);
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(getsockopt(serverSide, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
    EXPECT_NE(noDelay, 0);
}

TEST(LookupServer, BindingAPortInUseFails)
{
    LookupServer first(sharedResolver());
    const int port = first.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    LookupServer second(sharedResolver());
    std::string error;
    EXPECT_EQ(second.bind("127.0.0.1", port, &error), -1);
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << error;
}

} // namespace
} // namespace teloria::service
