#pragma once
// The data a program answers from: the prefix store with every data file
// loaded, and the learning (learned answers, the upstream asker with its
// threads). Each program's main owns one and shuts it down before it cleans
// up libcurl; whoever else holds a share of the store or the learning holds
// a stopped asker from then on, never a thread still inside libcurl.

#include "data/data_files.h"

#include <memory>
#include <vector>

namespace teloria::data {

class Clock;
class Learning;
class PrefixStore;

class DataService {
public:
    // Loads the files of settings (a report per file, refused ones too) and
    // starts the learning it asks for; the learning waits on clock (null: the
    // system's).
    explicit DataService(const DataSettings& settings, std::shared_ptr<Clock> clock = nullptr);
    ~DataService(); // shutdown()
    DataService(const DataService&) = delete;
    DataService& operator=(const DataService&) = delete;

    const std::shared_ptr<PrefixStore>& store() const { return loaded_.store; }
    const std::shared_ptr<Learning>& learning() const { return loaded_.learning; } // may be null
    const std::vector<LoadReport>& reports() const { return loaded_.reports; }

    // Stops the upstream asker: its requests in flight are aborted, lookups
    // waiting for it are told at once (they take the local answer), and its
    // threads have ended when this returns. Lookups go on, from local data and
    // what was learned. Idempotent; never from one of the asker's callbacks.
    void shutdown();

private:
    LoadedStore loaded_;
};

} // namespace teloria::data
