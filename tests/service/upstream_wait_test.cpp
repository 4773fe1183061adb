// Lookups that wait for the upstream hold no server thread: the HTTP server
// with learning, against a fake online lookup service on loopback.
#include "data/fake_upstream.h"

#include "service/lookup_page.h"
#include "service/lookup_server.h"
#include "service/service_test_support.h"

#include "data/data_files.h"
#include "support/eventually.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace teloria::service {
namespace {

using teloria::testing::eventually;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;
using teloria::testing::SilentServer;
using testing::fieldsOf;
using testing::RawConnection;

constexpr std::size_t kWaiting = 40;


// A service on two server threads that learns from upstream (nothing on disk).
struct Service {
    data::LoadedStore loaded;
    std::shared_ptr<const LocationResolver> resolver;
    std::unique_ptr<LookupServer> server;
    int port = 0;

    Service(const std::string& upstream, std::chrono::milliseconds timeout)
        : loaded(data::loadStore(data::DataSettings{{}, false, "", settings(upstream, timeout)}))
        , resolver(std::make_shared<const LocationResolver>(loaded.store, loaded.learning))
        , server(std::make_unique<LookupServer>(resolver, ServerOptions{.threads = 2}))
    {
        port = server->bind("127.0.0.1", 0);
        server->serveInBackground();
    }

    static data::LearnSettings settings(const std::string& upstream, std::chrono::milliseconds timeout)
    {
        data::LearnSettings s;
        s.upstream = QString::fromStdString(upstream);
        s.timeout = timeout;
        s.rate = 1e6;
        s.noLearn = true;
        return s;
    }

    std::size_t waiting() const { return loaded.learning->asker()->stats().waiting; }
    std::string localPage(const std::string& number) const
    {
        return answerPage(number, resolver->known(*data::cleanNumber(number)));
    }
};

std::unique_ptr<RawConnection> sendLookup(int port, const std::string& number)
{
    auto c = std::make_unique<RawConnection>(port);
    c->send("GET /sim_search138.asp?mobile=" + number + " HTTP/1.1\r\nHost: x\r\n\r\n");
    return c;
}

std::string bodyOf(const std::optional<std::string>& response)
{
    if (!response)
        return {};
    return response->substr(response->find("\r\n\r\n") + 4);
}

// Numbers on prefixes local data give no location for, one prefix each.
std::vector<std::string> unknownNumbers()
{
    data::PrefixStore builtIn;
    std::vector<std::string> numbers;
    for (std::uint32_t p = 1990000; numbers.size() < kWaiting; p += 7)
        if (builtIn.needsUpstream(p))
            numbers.push_back(std::to_string(p) + "1234");
    return numbers;
}

// One lookup per unknown number, returned once the server holds all of them suspended.
std::vector<std::unique_ptr<RawConnection>> suspendedLookups(Service& service)
{
    std::vector<std::unique_ptr<RawConnection>> waiting;
    for (const std::string& number : unknownNumbers())
        waiting.push_back(sendLookup(service.port, number));
    EXPECT_TRUE(eventually([&] { return service.waiting() == kWaiting; }));
    return waiting;
}

Reply held(const std::string&)
{
    return {.body = teloria::testing::gbkPage(QStringLiteral("广东省深圳市"), QStringLiteral("移动")), .gated = true};
}

} // namespace

// 40 lookups wait for an upstream that holds its answers, on a server of two
// threads: a known prefix is still answered at once, and the 40 get the
// upstream's answer once it is released.
TEST(UpstreamWait, WaitingLookupsLeaveTheServerFree)
{
    FakeUpstream upstream(held);
    Service service(upstream.baseUrl(), std::chrono::seconds(30));
    const auto waiting = suspendedLookups(service);
    ASSERT_EQ(service.waiting(), kWaiting);

    auto known = sendLookup(service.port, "13800138000");
    EXPECT_EQ(bodyOf(known->readResponse()), service.localPage("13800138000"));
    EXPECT_EQ(service.waiting(), kWaiting) << "the known prefix waited for the upstream";
    for (const auto& c : waiting)
        EXPECT_TRUE(c->isOpenAndQuiet());

    upstream.openGate();
    for (const auto& c : waiting) {
        const testing::Fields fields = fieldsOf(bodyOf(c->readResponse()));
        EXPECT_EQ(fields.location, QStringLiteral("广东 深圳"));
        EXPECT_EQ(fields.cardType, QStringLiteral("中国移动"));
    }
}

// An upstream that never answers: after the time-out every waiting lookup
// gets the local answer.
TEST(UpstreamWait, SilentUpstreamGivesTheLocalAnswerAfterTheTimeOut)
{
    SilentServer upstream;
    Service service(upstream.baseUrl(), std::chrono::milliseconds(200));
    const std::vector<std::string> numbers = unknownNumbers();
    std::vector<std::unique_ptr<RawConnection>> waiting;
    for (const std::string& number : numbers)
        waiting.push_back(sendLookup(service.port, number));
    for (std::size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(bodyOf(waiting[i]->readResponse()), service.localPage(numbers[i])) << numbers[i];
}

// stop() with lookups suspended returns while the upstream still holds its
// answers, each of them answered from local data first; the callbacks that
// come after the server has gone are harmless.
TEST(UpstreamWait, StopDoesNotWaitForTheUpstream)
{
    FakeUpstream upstream(held);
    Service service(upstream.baseUrl(), std::chrono::seconds(30));
    const auto waiting = suspendedLookups(service);
    ASSERT_EQ(service.waiting(), kWaiting);

    service.server->stop();
    EXPECT_EQ(service.waiting(), kWaiting) << "stop() waited for the upstream";
    const std::vector<std::string> numbers = unknownNumbers();
    for (std::size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(bodyOf(waiting[i]->readResponse()), service.localPage(numbers[i])) << numbers[i] << " closed unanswered";
    service.server.reset();
    upstream.openGate();
    ASSERT_TRUE(eventually([&] { return service.waiting() == 0; }));
}

} // namespace teloria::service
