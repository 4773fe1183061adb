#include "data/learning.h"

#include <algorithm>

#include "data/place_names.h"
#include "data/prefix_store.h"

#include <filesystem>

namespace teloria::data {

namespace {

constexpr std::size_t kStaleWords = (Prefix7::kLast - Prefix7::kFirst) / 64 + 1;

} // namespace

Learning::Learning(PrefixStore& store) : store_(store) {}

Learning::~Learning() = default;

std::optional<LearnedEntry> Learning::normalise(LearnedEntry entry)
{
    const std::string_view location = entry.location;
    const auto space = location.find(' ');
    const Place place = space == std::string_view::npos
        ? placeFromDescription(location)
        : placeFromFields(location.substr(0, space), location.substr(space + 1));
    std::string text = place.text();
    if (text.empty() || !isSafeText(text))
        return std::nullopt;
    entry.location = std::move(text);
    entry.cardType = canonicalCardType(entry.cardType);
    if (!isSafeText(entry.cardType))
        entry.cardType.clear();
    return entry;
}

std::unique_ptr<Learning> Learning::start(const LearnSettings& settings, PrefixStore& store, WarningSink warn,
                                          std::shared_ptr<Clock> clock)
{
    if (!clock)
        clock = Clock::system();
    const bool asking = !settings.upstream.isEmpty();
    const std::filesystem::path file =
        settings.learnedFile.empty() ? LearnedStore::defaultPath() : settings.learnedFile;
    std::error_code ec;
    const bool reading = !settings.noLearn && (asking || (!file.empty() && std::filesystem::exists(file, ec)));
    if (!asking && !reading)
        return nullptr;

    std::unique_ptr<Learning> learning(new Learning(store));
    learning->stale_ = std::make_unique<std::atomic<std::uint64_t>[]>(kStaleWords);
    if (reading) {
        // Without an upstream nothing is written: the file is only looked at.
        LearnedStore::Options access;
        access.access = asking ? LearnedAccess::ReadWrite : LearnedAccess::ReadOnly;
        learning->database_ = std::make_unique<LearnedStore>(file, warn, access);
        const std::int64_t oldest = clock->unixSeconds() - std::int64_t(settings.refreshDays) * 86'400;
        for (const LearnedEntry& e : learning->database_->loadAll()) {
            const auto prefix = Prefix7::fromText(e.prefix); // loadAll() passes over any other row
            if (!prefix || !store.learn(*prefix, e.location, e.cardType))
                continue;
            ++learning->loaded_;
            learning->newest_ = std::max(learning->newest_, e.askedAt);
            if (e.askedAt < oldest) {
                const std::uint32_t bit = prefix->value() - Prefix7::kFirst;
                learning->stale_[bit / 64].fetch_or(std::uint64_t{1} << (bit % 64), std::memory_order_relaxed);
            }
        }
        learning->databasePath_ = file;
    }
    if (asking) {
        UpstreamOptions options;
        options.baseUrl = settings.upstream;
        options.timeout = settings.timeout;
        options.rate = settings.rate;
        options.refreshDays = settings.refreshDays;
        PrefixStore* target = &store;
        learning->asker_ = std::make_unique<UpstreamAsker>(
            options, learning->database_.get(), clock, &Learning::normalise, [target](const LearnedEntry& e) {
                if (const auto prefix = Prefix7::fromText(e.prefix))
                    target->learn(*prefix, e.location, e.cardType);
            });
    }
    return learning;
}

void Learning::stop()
{
    if (asker_)
        asker_->stop();
}

bool Learning::takeStale(Prefix7 prefix)
{
    const std::uint32_t bit = prefix.value() - Prefix7::kFirst;
    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    std::atomic<std::uint64_t>& word = stale_[bit / 64];
    return (word.load(std::memory_order_relaxed) & mask) && (word.fetch_and(~mask) & mask);
}

bool Learning::needsAsking(Prefix7 prefix)
{
    if (!asker_)
        return false;
    const Answer& answer = store_.mobile(prefix);
    if (answer.tier == Tier::Override)
        return false;
    if (answer.tier == Tier::Learned && takeStale(prefix))
        asker_->askAsync(prefix.text(), {}); // the old answer stays until the new one is learned
    return !(answer.hasLocation() && answer.hasCardType());
}

void Learning::prepare(Prefix7 prefix)
{
    if (needsAsking(prefix))
        asker_->ask(prefix.text());
}

bool Learning::askAsync(Prefix7 prefix, std::function<void()> done)
{
    return needsAsking(prefix) && asker_->askAsync(prefix.text(), std::move(done));
}

} // namespace teloria::data
