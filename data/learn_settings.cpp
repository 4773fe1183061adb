#include "data/learn_settings.h"

#include "net/service_url.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace teloria::data {

const char kLearnOptionsHelp[] = R"(  --upstream URL      ask this online lookup service (the same API:
                      /sim_search138.asp?mobile=) about prefixes local data
                      does not know; only the 7-digit prefix followed by
                      "0000" is sent (default: TELORIA_UPSTREAM, else none)
  --upstream-timeout S  how long a lookup waits for the upstream, in seconds
                      (default 10)
  --upstream-rate N   at most N upstream requests a second (default 2); never
                      more than 2 at once
  --learned FILE      where learned answers are kept (default
                      $XDG_DATA_HOME/teloria/learned.sqlite)
  --no-learn          keep no learned answers on disk and read none
  --refresh-days N    ask again about answers older than N days (default 180)
)";

namespace {

bool parseNumber(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

} // namespace

OptionResult takeLearnOption(const std::vector<std::string>& args, std::size_t& i, LearnSettings& settings,
                             std::string* error)
{
    const std::string& name = args[i];
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return OptionResult::Bad;
    };
    if (name == "--no-learn") {
        settings.noLearn = true;
        return OptionResult::Taken;
    }
    if (name != "--upstream" && name != "--upstream-timeout" && name != "--upstream-rate" && name != "--learned"
        && name != "--refresh-days")
        return OptionResult::NotMine;
    if (i + 1 >= args.size() || args[i + 1].empty())
        return fail(name + " needs a value");
    const std::string& value = args[++i];
    double number = 0;
    if (name == "--upstream") {
        settings.upstream = QString::fromStdString(value);
    } else if (name == "--learned") {
        settings.learnedFile = value;
    } else if (name == "--upstream-timeout") {
        if (!parseNumber(value, number) || number <= 0 || number > 600)
            return fail("--upstream-timeout '" + value + "' is not a number of seconds from 0 to 600");
        settings.timeout = std::chrono::milliseconds(std::max<long long>(1, std::llround(number * 1000)));
    } else if (name == "--upstream-rate") {
        if (!parseNumber(value, number) || number <= 0 || number > 100'000)
            return fail("--upstream-rate '" + value + "' is not a number of requests a second above 0");
        settings.rate = number;
    } else {
        if (!parseNumber(value, number) || number < 0 || number > 100'000 || number != std::floor(number))
            return fail("--refresh-days '" + value + "' is not a whole number of days");
        settings.refreshDays = static_cast<int>(number);
    }
    return OptionResult::Taken;
}

bool finishLearnSettings(LearnSettings& settings, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    bool fromEnvironment = false;
    if (settings.upstream.isEmpty()) {
        const char* env = std::getenv(kUpstreamEnvironment);
        settings.upstream = QString::fromUtf8(env ? env : "").trimmed();
        fromEnvironment = !settings.upstream.isEmpty();
    }
    if (!settings.upstream.isEmpty()) {
        QString why;
        const auto base = parseServiceBase(settings.upstream, &why);
        if (!base)
            return fail(std::string(fromEnvironment ? kUpstreamEnvironment : "--upstream") + ": " + why.toStdString());
        settings.upstream = *base;
    }
    if (settings.noLearn && !settings.learnedFile.empty())
        return fail("--no-learn and --learned contradict each other");
    return true;
}

} // namespace teloria::data
