#pragma once
// The bundled offline lookup service, run inside the window's or the batch
// command's own process on a free loopback port.

#include "data/data_files.h"

#include <QString>
#include <memory>
#include <vector>

namespace teloria {

class BundledService {
public:
    // Starts the service on 127.0.0.1 with a free port; nullptr and a reason on failure.
    // Its data: the files of data (--data, and the data folders unless
    // data.discover is false). A process loads the same settings once; each
    // file's report line goes to standard error then, after "data.program: ".
    static std::unique_ptr<BundledService> start(QString* error = nullptr);
    static std::unique_ptr<BundledService> start(const data::DataSettings& data, QString* error = nullptr);
    virtual ~BundledService() = default; // stops the service
    virtual QString baseUrl() const = 0;  // "http://127.0.0.1:PORT"
    // What became of each data file; refused ones have loaded == false.
    virtual const std::vector<data::LoadReport>& dataReports() const = 0;
};

} // namespace teloria
