// Which service a run uses, with a stand-in for the bundled service's start.
#include "lookup/service_choice.h"

#include <gtest/gtest.h>

#include <optional>

namespace teloria {
namespace {

// Keeps TELORIA_SERVICE as it was before the test.
class ServiceChoiceTest : public ::testing::Test {
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
    bool bundledStarts;      // what the stand-in start does when asked
    const char* baseUrl;     // "" when an error is expected
    const char* errorPart;   // part of the message
    bool badSetting;
    bool bundledAsked;
};

void PrintTo(const ChoiceCase& c, std::ostream* os)
{
    *os << "--service '" << c.commandLine << "', TELORIA_SERVICE " << (c.environment ? c.environment : "unset");
}

class ChoicePrecedenceTest : public ServiceChoiceTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ChoicePrecedenceTest, CommandLineThenEnvironmentThenTheBundledService)
{
    const ChoiceCase& c = GetParam();
    if (c.environment)
        qputenv("TELORIA_SERVICE", c.environment);
    int asked = 0;
    const ServiceChoice choice = chooseService(QString::fromUtf8(c.commandLine), [&] {
        ++asked;
        StartedService started;
        if (c.bundledStarts) {
            started.baseUrl = QStringLiteral("http://127.0.0.1:4321");
            started.running = std::make_shared<int>(1);
        } else {
            started.error = QStringLiteral("the bundled lookup service could not start: no port");
        }
        return started;
    });
    EXPECT_EQ(asked, c.bundledAsked ? 1 : 0);
    EXPECT_EQ(choice.bundled != nullptr, c.bundledAsked && c.bundledStarts);
    EXPECT_EQ(choice.baseUrl.toStdString(), c.baseUrl);
    EXPECT_TRUE(choice.error.toStdString().find(c.errorPart) != std::string::npos) << choice.error.toStdString();
    EXPECT_EQ(choice.error.isEmpty(), *c.baseUrl != '\0');
    EXPECT_EQ(choice.badSetting, c.badSetting);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChoicePrecedenceTest, ::testing::Values(
    ChoiceCase{"http://lookup.example:8138/", nullptr, true, "http://lookup.example:8138", "", false, false},
    ChoiceCase{"http://lookup.example:8138", "http://other.example", true, "http://lookup.example:8138", "", false, false},
    ChoiceCase{"", "https://other.example/", true, "https://other.example", "", false, false},
    ChoiceCase{"ftp://lookup.example", "http://other.example", true, "", "--service", true, false},
    ChoiceCase{"not a url", nullptr, true, "", "--service", true, false},
    ChoiceCase{"http://lookup.example/sim_search138.asp", nullptr, true, "", "--service", true, false},
    ChoiceCase{"", "lookup.example:8138", true, "", "TELORIA_SERVICE", true, false},
    ChoiceCase{"", "http://x.example/?q=1", true, "", "TELORIA_SERVICE", true, false},
    ChoiceCase{"", "", true, "", "TELORIA_SERVICE: the service URL is empty", true, false},
    ChoiceCase{"", nullptr, true, "http://127.0.0.1:4321", "", false, true},
    ChoiceCase{"", nullptr, false, "", "could not start: no port", false, true}
));

} // namespace
} // namespace teloria
