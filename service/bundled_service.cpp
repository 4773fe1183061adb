#include "bundled_service.h"

#include "location_resolver.h"
#include "lookup/service_url.h"
#include "lookup_server.h"

namespace teloria {
namespace {

class InProcessService final : public BundledService {
public:
    explicit InProcessService(std::shared_ptr<const service::LocationResolver> resolver)
        : server_(std::move(resolver))
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

private:
    service::LookupServer server_; // its destructor stops it and waits for its thread
};

} // namespace

std::unique_ptr<BundledService> BundledService::start(QString* error)
{
    // The built-in data only; its answers are kept per prefix for the life of the process.
    static const auto resolver = std::make_shared<const service::LocationResolver>();
    auto service = std::make_unique<InProcessService>(resolver);
    if (!service->start(error))
        return nullptr;
    return service;
}

} // namespace teloria
