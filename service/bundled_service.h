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

// Which lookup service a window or batch run uses: --service URL if given,
// else TELORIA_SERVICE from the environment, else the bundled one started here.
struct ServiceChoice {
    QString baseUrl;                          // empty when error is set
    QString error;                            // a malformed setting, or the bundled service failed
    bool badSetting = false;                  // the error is a malformed --service or TELORIA_SERVICE
    std::unique_ptr<BundledService> bundled;  // set when the bundled one was started
};
ServiceChoice chooseService(const QString& commandLineUrl /* empty when not given */);

} // namespace teloria
