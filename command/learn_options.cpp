#include "command/learn_options.h"

#include "net/service_url.h"

#include <cmath>

namespace teloria::command {
namespace {

// A plain decimal number ("2.5"), nothing before or after it.
std::optional<double> number(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || text.trimmed() != text)
        return std::nullopt;
    return value;
}

// The options only the program's own lookup acts on, by the name --help shows.
constexpr const char* kOwnLookupOptions[] = {"data",          "upstream", "upstream-timeout", "upstream-rate",
                                             "learned",       "no-learn", "refresh-days"};

} // namespace

bool readLearnSettings(const CommandLine& line, data::LearnSettings& settings, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    auto given = [&line](const char* name) {
        return line.takes(QLatin1String(name)) && line.isSet(QLatin1String(name));
    };
    if (given("upstream"))
        settings.upstream = line.value(QStringLiteral("upstream"));
    if (given("learned"))
        settings.learnedFile = line.value(QStringLiteral("learned")).toStdString();
    if (given("no-learn"))
        settings.noLearn = true;
    if (given("upstream-timeout")) {
        const QString text = line.value(QStringLiteral("upstream-timeout"));
        const auto seconds = number(text);
        if (!seconds || *seconds <= 0 || *seconds > 600)
            return fail(QStringLiteral("--upstream-timeout '%1' is not a number of seconds from 0 to 600").arg(text));
        settings.timeout = std::chrono::milliseconds(std::max<long long>(1, std::llround(*seconds * 1000)));
    }
    if (given("upstream-rate")) {
        const QString text = line.value(QStringLiteral("upstream-rate"));
        const auto rate = number(text);
        if (!rate || *rate <= 0 || *rate > 100'000)
            return fail(QStringLiteral("--upstream-rate '%1' is not a number of requests a second above 0").arg(text));
        settings.rate = *rate;
    }
    if (given("refresh-days")) {
        const QString text = line.value(QStringLiteral("refresh-days"));
        const auto days = number(text);
        if (!days || *days < 0 || *days > 100'000 || *days != std::floor(*days))
            return fail(QStringLiteral("--refresh-days '%1' is not a whole number of days").arg(text));
        settings.refreshDays = static_cast<int>(*days);
    }
    std::string why;
    if (!data::finishLearnSettings(settings, &why))
        return fail(QString::fromStdString(why));
    return true;
}

bool serviceNamed(const CommandLine& line)
{
    return (line.takes(QStringLiteral("service")) && line.isSet(QStringLiteral("service")))
        || qEnvironmentVariableIsSet("TELORIA_SERVICE");
}

std::optional<QString> refuseMalformedService(const CommandLine& line)
{
    if (!line.takes(QStringLiteral("service")) || !line.isSet(QStringLiteral("service")))
        return std::nullopt;
    QString why;
    if (parseServiceBase(line.value(QStringLiteral("service")), &why))
        return std::nullopt;
    return QStringLiteral("--service: %1").arg(why);
}

std::optional<QString> refuseOwnLookupOptions(const CommandLine& line, QString* note)
{
    if (!serviceNamed(line))
        return std::nullopt;
    for (const char* name : kOwnLookupOptions) {
        if (line.takes(QLatin1String(name)) && line.isSet(QLatin1String(name)))
            return QStringLiteral("--%1 is for the bundled service and the in-process lookup; a lookup service "
                                  "named with --service or TELORIA_SERVICE loads its own data and learns on its own")
                .arg(QLatin1String(name));
    }
    if (note && !qEnvironmentVariable(data::kUpstreamEnvironment).trimmed().isEmpty())
        *note = QStringLiteral("%1 is ignored: the lookup service named with --service or TELORIA_SERVICE asks "
                               "its own upstream")
                    .arg(QLatin1String(data::kUpstreamEnvironment));
    return std::nullopt;
}

} // namespace teloria::command
