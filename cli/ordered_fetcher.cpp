#include "cli/ordered_fetcher.h"

namespace teloria::cli {

OrderedFetcher::OrderedFetcher(int jobs, FetchOptions options, KeepAsking keepAsking)
    : fetch_(jobs, std::move(options)), keepAsking_(std::move(keepAsking))
{
}

std::vector<std::optional<FetchResult>> OrderedFetcher::fetchAll(const QStringList& urls)
{
    std::vector<std::optional<FetchResult>> results(static_cast<std::size_t>(urls.size()));
    if (gaveUp_)
        return results;
    fetch_.fetch(urls, [this, &results](qsizetype index, FetchResult&& result) {
        if (keepAsking_ && !keepAsking_(result))
            gaveUp_ = true;
        results[static_cast<std::size_t>(index)] = std::move(result);
        return !gaveUp_;
    });
    return results;
}

} // namespace teloria::cli
