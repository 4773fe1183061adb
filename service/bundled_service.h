#pragma once
// The bundled offline lookup service, run inside the window's or the batch
// command's own process on a free loopback port.

#include <QString>
#include <memory>

namespace teloria {

class BundledService {
public:
    // Starts the service on 127.0.0.1 with a free port; nullptr and a reason on failure.
    static std::unique_ptr<BundledService> start(QString* error = nullptr);
    virtual ~BundledService() = default; // stops the service
    virtual QString baseUrl() const = 0;  // "http://127.0.0.1:PORT"
};

} // namespace teloria
