#include "lookup/service_url.h"

#include <gtest/gtest.h>

using teloria::lookupUrl;
using teloria::parseServiceBase;

TEST(LookupUrl, AppendsTheNumberAsTypedEncodingOnlyWhatCannotStandRaw)
{
    const QString base = "http://127.0.0.1:8138";
    EXPECT_EQ(lookupUrl(base, "13800138000"), "http://127.0.0.1:8138/sim_search138.asp?mobile=13800138000");
    EXPECT_EQ(lookupUrl(base, ""), "http://127.0.0.1:8138/sim_search138.asp?mobile=");
    EXPECT_EQ(lookupUrl(base, " 138 0013-8000\t"),
              "http://127.0.0.1:8138/sim_search138.asp?mobile=%20138%200013-8000%09");
    EXPECT_EQ(lookupUrl(base, "138\r\nHost: evil"),
              "http://127.0.0.1:8138/sim_search138.asp?mobile=138%0D%0AHost:%20evil");
    EXPECT_EQ(lookupUrl(base, "+86#1%&\x7f"),
              "http://127.0.0.1:8138/sim_search138.asp?mobile=%2B86%231%25%26%7F");
    EXPECT_EQ(lookupUrl(base, u"一"_qs), "http://127.0.0.1:8138/sim_search138.asp?mobile=%E4%B8%80");
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
