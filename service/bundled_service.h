#pragma once
// The bundled offline lookup service, run inside the window's or the batch
// command's own process on a free loopback port.

#include "data/data_files.h"

#include <QString>
#include <memory>
#include <vector>

namespace teloria {

namespace data {
class DataService;
}

class BundledService {
public:
    // Starts the service on 127.0.0.1 with a free port, answering from data,
    // which the caller owns and shuts down; nullptr and a reason on failure.
    static std::unique_ptr<BundledService> start(std::shared_ptr<data::DataService> data, QString* error = nullptr);
    // The same on data of its own, loaded from settings (--data, and the data
    // folders unless settings.discover is false) and shut down with the
    // service. Each file's report line goes to standard error, after
    // "settings.program: ", when a program is named.
    static std::unique_ptr<BundledService> start(const data::DataSettings& settings, QString* error = nullptr);
    static std::unique_ptr<BundledService> start(QString* error = nullptr); // default settings
    virtual ~BundledService() = default; // stops the service
    virtual QString baseUrl() const = 0;  // "http://127.0.0.1:PORT"
    // What became of each data file; refused ones have loaded == false.
    virtual const std::vector<data::LoadReport>& dataReports() const = 0;
};

} // namespace teloria
