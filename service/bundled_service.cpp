#include "service/bundled_service.h"

#include "data/data_service.h"
#include "net/service_url.h"
#include "service/location_resolver.h"
#include "service/lookup_server.h"

#include <cstdio>

namespace teloria {
namespace {

class InProcessService final : public BundledService {
public:
    InProcessService(std::shared_ptr<data::DataService> data, bool ownsData)
        : data_(std::move(data))
        , ownsData_(ownsData)
        , server_(std::make_shared<const service::LocationResolver>(data_->store(), data_->learning()))
    {
    }

    ~InProcessService() override
    {
        server_.stop(); // lookups waiting for the upstream get their local answer first
        if (ownsData_)
            data_->shutdown();
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

    const std::vector<data::LoadReport>& dataReports() const override { return data_->reports(); }

private:
    std::shared_ptr<data::DataService> data_;
    bool ownsData_;
    service::LookupServer server_; // its destructor stops it and waits for its threads
};

std::unique_ptr<BundledService> startOn(std::shared_ptr<data::DataService> data, bool ownsData, QString* error)
{
    auto service = std::make_unique<InProcessService>(std::move(data), ownsData);
    if (!service->start(error))
        return nullptr;
    return service;
}

} // namespace

std::unique_ptr<BundledService> BundledService::start(std::shared_ptr<data::DataService> data, QString* error)
{
    return startOn(std::move(data), false, error);
}

std::unique_ptr<BundledService> BundledService::start(const data::DataSettings& settings, QString* error)
{
    auto data = std::make_shared<data::DataService>(settings);
    if (!settings.program.empty())
        for (const auto& report : data->reports())
            std::fprintf(stderr, "%s: %s\n", settings.program.c_str(), data::reportLine(report).c_str());
    return startOn(std::move(data), true, error);
}

std::unique_ptr<BundledService> BundledService::start(QString* error)
{
    return start(data::DataSettings{}, error);
}

} // namespace teloria
