#include "lookup/service_choice.h"

#include "net/service_url.h"

namespace teloria {

ServiceChoice chooseService(const QString& commandLineUrl, const StartService& startBundled)
{
    ServiceChoice choice;
    auto useSetting = [&choice](const QString& value, const QString& where) {
        QString why;
        if (const auto base = parseServiceBase(value, &why))
            choice.baseUrl = *base;
        else {
            choice.error = QStringLiteral("%1: %2").arg(where, why);
            choice.badSetting = true;
        }
    };
    if (!commandLineUrl.isEmpty()) {
        useSetting(commandLineUrl, QStringLiteral("--service"));
        return choice;
    }
    // Set but empty counts as a setting, so a typo like TELORIA_SERVICE= is reported.
    if (qEnvironmentVariableIsSet("TELORIA_SERVICE")) {
        useSetting(qEnvironmentVariable("TELORIA_SERVICE"), QStringLiteral("TELORIA_SERVICE"));
        return choice;
    }
    StartedService started = startBundled ? startBundled() : StartedService{{}, QStringLiteral("no bundled lookup service"), {}};
    if (started.running && !started.baseUrl.isEmpty()) {
        choice.baseUrl = started.baseUrl;
        choice.bundled = std::move(started.running);
    } else {
        choice.error = started.error.isEmpty() ? QStringLiteral("the bundled lookup service could not start")
                                               : started.error;
    }
    return choice;
}

} // namespace teloria
