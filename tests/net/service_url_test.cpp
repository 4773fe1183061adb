#include "net/service_url.h"

#include <gtest/gtest.h>

using teloria::lookupUrl;
using teloria::parseServiceBase;

TEST(LookupUrl, AppendsTheNumberEncodingEveryByteOutsideTheUnreservedSet)
{
    const QString base = "http://127.0.0.1:8138";
    const QString path = "http://127.0.0.1:8138/sim_search138.asp?mobile=";
    const struct {
        QString typed;
        const char* sent;
    } cases[] = {
        {"13800138000", "13800138000"},
        {"", ""},
        {"AZaz09-._~", "AZaz09-._~"},
        {" 138 0013-8000\t", "%20138%200013-8000%09"},
        {"138\r\nHost: evil", "138%0D%0AHost%3A%20evil"},
        {"+86#1%&\x7f", "%2B86%231%25%26%7F"},
        // The service must not read a second parameter out of one number.
        {"13800138000&mobile=13900139000", "13800138000%26mobile%3D13900139000"},
        {"1=2;3/4?5@6!7$8'9(0)*,[]", "1%3D2%3B3%2F4%3F5%406%217%248%279%280%29%2A%2C%5B%5D"},
        {u"一"_qs, "%E4%B8%80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lookupUrl(base, c.typed), path + QString::fromLatin1(c.sent)) << c.typed.toStdString();
}

TEST(ServiceBase, AcceptsHttpServersAndRejectsTheRest)
{
    EXPECT_EQ(parseServiceBase("http://127.0.0.1:8138"), "http://127.0.0.1:8138");
    EXPECT_EQ(parseServiceBase(" http://localhost:9/ "), "http://localhost:9");
    EXPECT_EQ(parseServiceBase("https://example.test"), "https://example.test");
    for (const char* bad : {"", "127.0.0.1:8138", "ftp://x", "http://", "http://h/x",
                            "http://h/?q=1", "http://u@h", "not a url"}) {
        QString why;
        EXPECT_FALSE(parseServiceBase(bad, &why).has_value()) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}
