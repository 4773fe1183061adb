#pragma once
// Which lookup service a window or batch run uses: --service URL if given,
// else TELORIA_SERVICE from the environment, else the bundled one, started
// by the function the program passes in.

#include <QString>
#include <functional>
#include <memory>

namespace teloria {

// A bundled service that has been started, or why it could not start.
struct StartedService {
    QString baseUrl;               // "http://127.0.0.1:PORT"; empty on failure
    QString error;                 // why it could not start
    std::shared_ptr<void> running; // the service; it stops when the last owner lets go
};
using StartService = std::function<StartedService()>;

struct ServiceChoice {
    QString baseUrl;               // empty when error is set
    QString error;                 // a malformed setting, or the bundled service failed
    bool badSetting = false;       // the error is a malformed --service or TELORIA_SERVICE
    std::shared_ptr<void> bundled; // set when the bundled one was started: keep it while the run needs it
};

ServiceChoice chooseService(const QString& commandLineUrl /* empty when not given */,
                            const StartService& startBundled);

} // namespace teloria
