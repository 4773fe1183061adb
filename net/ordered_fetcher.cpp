#include "net/ordered_fetcher.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace teloria {

namespace {

int lanesFor(int jobs)
{
    constexpr int kJobsPerLane = 16;
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::clamp(jobs / kJobsPerLane, 1, cores);
}

} // namespace

OrderedFetcher::OrderedFetcher(int jobs, FetchOptions options, KeepAsking keepAsking, int lanes)
    : keepAsking_(std::move(keepAsking))
{
    jobs = std::max(jobs, 1);
    lanes = std::clamp(lanes > 0 ? lanes : lanesFor(jobs), 1, jobs);
    for (int lane = 0; lane < lanes; ++lane) // the jobs shared out, the first lanes taking what is left over
        lanes_.push_back(std::make_unique<MultiFetch>(jobs / lanes + (lane < jobs % lanes ? 1 : 0), options));
}

int OrderedFetcher::peakInFlight() const
{
    int peak = 0;
    for (const auto& lane : lanes_)
        peak += lane->peakInFlight();
    return peak;
}

std::vector<std::optional<FetchResult>> OrderedFetcher::fetchAll(const QStringList& urls)
{
    std::vector<std::optional<FetchResult>> results(static_cast<std::size_t>(urls.size()));
    if (gaveUp_ || urls.isEmpty())
        return results;
    // Each lane takes a run of the block; a block smaller than the lanes leaves some idle.
    const auto lanes = std::min<qsizetype>(static_cast<qsizetype>(lanes_.size()), urls.size());
    const auto askRun = [&](qsizetype lane) {
        const qsizetype from = urls.size() * lane / lanes;
        const qsizetype to = urls.size() * (lane + 1) / lanes;
        lanes_[static_cast<std::size_t>(lane)]->fetch(
            urls.mid(from, to - from), [this, &results, from](qsizetype index, FetchResult&& result) {
                if (keepAsking_) {
                    std::lock_guard lock(keepAskingMutex_);
                    if (!keepAsking_(result))
                        gaveUp_ = true;
                }
                results[static_cast<std::size_t>(from + index)] = std::move(result);
                return !gaveUp_;
            });
    };
    std::vector<std::thread> others;
    std::vector<qsizetype> here{0}; // lanes asked on this thread, one after another
    for (qsizetype lane = 1; lane < lanes; ++lane) {
        try {
            others.emplace_back(askRun, lane);
        } catch (const std::system_error&) { // no thread to be had: slower, not lost
            here.push_back(lane);
        }
    }
    for (const qsizetype lane : here)
        askRun(lane);
    for (std::thread& other : others)
        other.join();
    return results;
}

} // namespace teloria
