#include "service/bundled_service.h"

#include "service/location_resolver.h"
#include "net/service_url.h"
#include "service/lookup_server.h"

#include <cstdio>
#include <mutex>

namespace teloria {
namespace {

class InProcessService final : public BundledService {
public:
    InProcessService(std::shared_ptr<const service::LocationResolver> resolver, const std::vector<data::LoadReport>& reports,
                     const service::ServerOptions& options = {})
        : server_(std::move(resolver), options)
        , reports_(reports)
    {
    }

    bool start(QString* error)
    {
        std::string why;
        if (server_.bind(kDefaultServiceHost, 0, &why) < 0 || !server_.serveInBackground(&why)) {
            if (error)
                *error = QStringLiteral("the bundled lookup service could not start: %1").arg(QString::fromStdString(why));
            return false;
        }
        return true;
    }

    QString baseUrl() const override
    {
        return QStringLiteral("http://%1:%2").arg(QLatin1String(kDefaultServiceHost)).arg(server_.port());
    }

    const std::vector<data::LoadReport>& dataReports() const override { return reports_; }

private:
    service::LookupServer server_; // its destructor stops it and waits for its thread
    std::vector<data::LoadReport> reports_;
};

struct LoadedData {
    std::vector<std::string> files; // the settings' files and those found in the data folders
    std::string program;
    data::LearnSettings learn;
    std::shared_ptr<const service::LocationResolver> resolver;
    std::vector<data::LoadReport> reports;
};

std::vector<std::string> filesOf(const data::DataSettings& settings)
{
    std::vector<std::string> files = settings.files;
    if (settings.discover) {
        const auto found = data::discoverDataFiles();
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

bool sameLearning(const data::LearnSettings& a, const data::LearnSettings& b)
{
    return a.upstream == b.upstream && a.timeout == b.timeout && a.rate == b.rate && a.learnedFile == b.learnedFile
        && a.noLearn == b.noLearn && a.refreshDays == b.refreshDays;
}

} // namespace

std::unique_ptr<BundledService> BundledService::start(QString* error)
{
    return start(data::DataSettings{}, error);
}

std::unique_ptr<BundledService> BundledService::start(const data::DataSettings& settings, QString* error)
{
    // The store is built once per process and settings; its answers are kept
    // per prefix for the life of the process.
    static std::mutex mutex;
    static LoadedData loaded;
    std::shared_ptr<const service::LocationResolver> resolver;
    std::vector<data::LoadReport> reports;
    {
        std::lock_guard lock(mutex);
        auto files = filesOf(settings);
        if (!loaded.resolver || loaded.files != files || loaded.program != settings.program
            || !sameLearning(loaded.learn, settings.learn)) {
            loaded.resolver.reset(); // the old store and its upstream asker go once no service uses them
            auto store = data::loadStore(data::DataSettings{files, false, settings.program, settings.learn});
            if (!settings.program.empty())
                for (const auto& report : store.reports)
                    std::fprintf(stderr, "%s: %s\n", settings.program.c_str(), data::reportLine(report).c_str());
            loaded = LoadedData{std::move(files), settings.program, settings.learn,
                                std::make_shared<const service::LocationResolver>(std::move(store.store),
                                                                                  std::move(store.learning)),
                                std::move(store.reports)};
        }
        resolver = loaded.resolver;
        reports = loaded.reports;
    }
    auto service = std::make_unique<InProcessService>(std::move(resolver), reports);
    if (!service->start(error))
        return nullptr;
    return service;
}

} // namespace teloria
