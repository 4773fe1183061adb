// The learning options as the programs read them, through the command layer.
#include "command/learn_options.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace teloria::data;
using teloria::command::CommandLine;
using namespace std::chrono_literals;

TEST(LearnOptions, ReadsTheOptionsAndRefusesBadValues)
{
    struct Case {
        std::vector<std::string> args;
        const char* env;   // TELORIA_UPSTREAM; nullptr: unset
        const char* error; // part of the message; nullptr: accepted
        std::function<void(const LearnSettings&)> check;
    };
    const std::vector<Case> cases = {
        {{}, nullptr, nullptr, [](const LearnSettings& s) {
             EXPECT_TRUE(s.upstream.isEmpty());
             EXPECT_EQ(s.timeout, 10s);
             EXPECT_EQ(s.rate, 2.0);
             EXPECT_EQ(s.refreshDays, 180);
             EXPECT_FALSE(s.noLearn);
             EXPECT_TRUE(s.learnedFile.empty());
         }},
        {{"--upstream", "http://up.example:8080/", "--upstream-timeout", "2.5", "--upstream-rate", "1000",
          "--learned", "/tmp/l.sqlite", "--refresh-days", "30"},
         nullptr, nullptr, [](const LearnSettings& s) {
             EXPECT_EQ(s.upstream.toStdString(), "http://up.example:8080");
             EXPECT_EQ(s.timeout, 2500ms);
             EXPECT_EQ(s.rate, 1000.0);
             EXPECT_EQ(s.learnedFile, "/tmp/l.sqlite");
             EXPECT_EQ(s.refreshDays, 30);
         }},
        {{}, "http://env.example", nullptr,
         [](const LearnSettings& s) { EXPECT_EQ(s.upstream.toStdString(), "http://env.example"); }},
        {{"--upstream", "http://flag.example"}, "http://env.example", nullptr,
         [](const LearnSettings& s) { EXPECT_EQ(s.upstream.toStdString(), "http://flag.example"); }},
        {{"--no-learn"}, nullptr, nullptr, [](const LearnSettings& s) { EXPECT_TRUE(s.noLearn); }},
        {{"--upstream"}, nullptr, "--upstream needs a URL", {}},
        {{"--upstream", "ftp://x"}, nullptr, "--upstream:", {}},
        {{"--upstream", "http://x/sim_search138.asp?mobile="}, nullptr, "--upstream:", {}},
        {{}, "not a url", "TELORIA_UPSTREAM:", {}},
        {{"--upstream-timeout", "0"}, nullptr, "--upstream-timeout", {}},
        {{"--upstream-timeout", "ten"}, nullptr, "--upstream-timeout", {}},
        {{"--upstream-timeout", "nan"}, nullptr, "--upstream-timeout", {}},
        {{"--upstream-rate", "-1"}, nullptr, "--upstream-rate", {}},
        {{"--upstream-rate", "2x"}, nullptr, "--upstream-rate", {}},
        {{"--refresh-days", "1.5"}, nullptr, "--refresh-days", {}},
        {{"--learned", ""}, nullptr, "--learned needs a file name", {}},
        {{"--upstream-timeout", "1e400"}, nullptr, "--upstream-timeout", {}},
        {{"--refresh-days", " 30"}, nullptr, "--refresh-days", {}},
        {{"--no-learn", "--learned", "x.sqlite"}, nullptr, "contradict", {}},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined + (c.env ? c.env : ""));
        c.env ? ::setenv(kUpstreamEnvironment, c.env, 1) : ::unsetenv(kUpstreamEnvironment);
        LearnSettings settings;
        QString error;
        CommandLine line(QStringLiteral("test"), {});
        line.add(teloria::command::Shared::Learning);
        QStringList arguments{QStringLiteral("test")};
        for (const std::string& a : c.args)
            arguments << QString::fromStdString(a);
        const teloria::command::Streams streams{[](const QString&) {}, [&error](const QString& t) { error += t; }};
        const bool ok = !line.parse(arguments, streams) && teloria::command::readLearnSettings(line, settings, &error);
        if (c.error) {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
        } else {
            ASSERT_TRUE(ok) << error.toStdString();
            c.check(settings);
        }
    }
    ::unsetenv(kUpstreamEnvironment);
}
