#include "service/bundled_service.h"

#include "service/service_test_support.h"

#include <httplib.h>

#include <gtest/gtest.h>

namespace teloria {
namespace {

TEST(BundledServiceTest, StartsOnAFreeLoopbackPortAndAnswers)
{
    QString error;
    std::unique_ptr<BundledService> first = BundledService::start(&error);
    ASSERT_NE(first, nullptr) << error.toStdString();
    const QString baseUrl = first->baseUrl();
    ASSERT_TRUE(baseUrl.startsWith(QLatin1String("http://127.0.0.1:")));
    const int port = baseUrl.section(u':', 2).toInt();
    ASSERT_GT(port, 0);

    {
        httplib::Client c("127.0.0.1", port);
        const auto res = c.Get("/sim_search138.asp?mobile=13800138000");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        const auto fields = service::testing::fieldsOf(res->body);
        EXPECT_EQ(fields.location.toStdString(), "北京");
        EXPECT_EQ(fields.cardType.toStdString(), "中国移动");
    }

    // Two bundled services live side by side on their own ports.
    auto second = BundledService::start(&error);
    ASSERT_NE(second, nullptr) << error.toStdString();
    EXPECT_NE(second->baseUrl(), baseUrl);

    // Destroying it stops it: the port no longer takes connections.
    first.reset();
    service::testing::RawConnection after(port);
    EXPECT_FALSE(after.connected());
}

} // namespace
} // namespace teloria
