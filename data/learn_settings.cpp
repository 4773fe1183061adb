#include "data/learn_settings.h"

#include "net/service_url.h"

#include <cstdlib>

namespace teloria::data {

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
