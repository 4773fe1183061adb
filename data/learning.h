#pragma once
// Learned answers in the prefix store. At start the learned-answer database's
// rows go into the store, above phone.dat files and below override files;
// with an upstream, a lookup of a mobile prefix that local data give no
// location or no operator for asks the upstream first (waiting at most its
// time-out), and an answer older than refresh-days is asked again behind the
// old one. A prefix that needs neither costs one array read more.

#include "data/learn_settings.h"
#include "data/learned_store.h"
#include "data/prefix7.h"
#include "data/upstream_asker.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace teloria::data {

class PrefixStore;

class Learning {
public:
    // Nothing when there is nothing to do: no upstream, and --no-learn or no
    // database file yet. Warnings (a damaged or read-only database, a failed
    // write later) go to warn, which must outlive the result.
    static std::unique_ptr<Learning> start(const LearnSettings& settings, PrefixStore& store, WarningSink warn,
                                           std::shared_ptr<Clock> clock = Clock::system());
    ~Learning();

    // Stops the upstream asker (UpstreamAsker::stop): from then on every
    // lookup is answered from local data at once. Idempotent.
    void stop();

    // Before a lookup of a 7-digit mobile prefix: waits for the upstream when
    // it has to be asked. Thread-safe.
    void prepare(Prefix7 prefix);
    // The same without waiting: false when the lookup can be answered now;
    // otherwise done is called once, on another thread, when the upstream's
    // answer is in the store or the time-out has passed (or the learning
    // stops). Thread-safe.
    bool askAsync(Prefix7 prefix, std::function<void()> done);

    std::size_t loadedCount() const { return loaded_; }
    // When the newest of the answers read at start was asked (Unix seconds); 0 when none.
    std::int64_t newestAskedAt() const { return newest_; }
    // The database read at start; empty with --no-learn.
    const std::filesystem::path& databasePath() const { return databasePath_; }
    UpstreamAsker* asker() { return asker_.get(); }

    // The upstream's answer in the one spelling; nothing when it names no place.
    static std::optional<LearnedEntry> normalise(LearnedEntry entry);

private:
    explicit Learning(PrefixStore& store);
    bool takeStale(Prefix7 prefix);
    bool needsAsking(Prefix7 prefix); // and starts a refresh of an old learned answer

    PrefixStore& store_;
    std::unique_ptr<LearnedStore> database_;
    std::unique_ptr<UpstreamAsker> asker_;
    std::unique_ptr<std::atomic<std::uint64_t>[]> stale_; // one bit per prefix: learned long ago, not yet asked again
    std::size_t loaded_ = 0;
    std::int64_t newest_ = 0;
    std::filesystem::path databasePath_;
};

} // namespace teloria::data
