#include "bundled_service.h"

#include "service_test_support.h"

#include <httplib.h>

#include <gtest/gtest.h>

namespace teloria {
namespace {

// Keeps TELORIA_SERVICE as it was before the test.
class ChooseServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hadValue_ = qEnvironmentVariableIsSet("TELORIA_SERVICE");
        saved_ = qgetenv("TELORIA_SERVICE");
        qunsetenv("TELORIA_SERVICE");
    }
    void TearDown() override
    {
        if (hadValue_)
            qputenv("TELORIA_SERVICE", saved_);
        else
            qunsetenv("TELORIA_SERVICE");
    }

private:
    bool hadValue_ = false;
    QByteArray saved_;
};

struct ChoiceCase {
    const char* commandLine; // "" when not given
    const char* environment; // nullptr when unset
    const char* baseUrl;     // "" when an error is expected
    const char* errorPart;   // part of the message
};

void PrintTo(const ChoiceCase& c, std::ostream* os)
{
    *os << "--service '" << c.commandLine << "', TELORIA_SERVICE " << (c.environment ? c.environment : "unset");
}

class ChoicePrecedenceTest : public ChooseServiceTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ChoicePrecedenceTest, CommandLineThenEnvironment)
{
    const ChoiceCase& c = GetParam();
    if (c.environment)
        qputenv("TELORIA_SERVICE", c.environment);
    const ServiceChoice choice = chooseService(QString::fromUtf8(c.commandLine));
    EXPECT_EQ(choice.bundled, nullptr) << "a given setting starts no bundled service";
    EXPECT_EQ(choice.baseUrl.toStdString(), c.baseUrl);
    EXPECT_TRUE(choice.error.toStdString().find(c.errorPart) != std::string::npos) << choice.error.toStdString();
    EXPECT_EQ(choice.error.isEmpty(), *c.baseUrl != '\0');
    EXPECT_EQ(choice.badSetting, !choice.error.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ChoicePrecedenceTest, ::testing::Values(
    ChoiceCase{"http://lookup.example:8138/", nullptr, "http://lookup.example:8138", ""},
    ChoiceCase{"http://lookup.example:8138", "http://other.example", "http://lookup.example:8138", ""},
    ChoiceCase{"", "https://other.example/", "https://other.example", ""},
    ChoiceCase{"ftp://lookup.example", "http://other.example", "", "--service"},
    ChoiceCase{"not a url", nullptr, "", "--service"},
    ChoiceCase{"http://lookup.example/sim_search138.asp", nullptr, "", "--service"},
    ChoiceCase{"", "lookup.example:8138", "", "TELORIA_SERVICE"},
    ChoiceCase{"", "http://x.example/?q=1", "", "TELORIA_SERVICE"},
    ChoiceCase{"", "", "", "TELORIA_SERVICE: the service URL is empty"}
));

TEST_F(ChooseServiceTest, WithoutASettingTheBundledServiceAnswers)
{
    ServiceChoice choice = chooseService(QString());
    ASSERT_TRUE(choice.error.isEmpty()) << choice.error.toStdString();
    ASSERT_NE(choice.bundled, nullptr);
    EXPECT_EQ(choice.baseUrl, choice.bundled->baseUrl());
    ASSERT_TRUE(choice.baseUrl.startsWith(QLatin1String("http://127.0.0.1:")));
    const int port = choice.baseUrl.section(u':', 2).toInt();
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
    QString error;
    auto second = BundledService::start(&error);
    ASSERT_NE(second, nullptr) << error.toStdString();
    EXPECT_NE(second->baseUrl(), choice.baseUrl);

    // Destroying it stops it: the port no longer takes connections.
    choice.bundled.reset();
    service::testing::RawConnection after(port);
    EXPECT_FALSE(after.connected());
}

} // namespace
} // namespace teloria
