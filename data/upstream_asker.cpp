#include "data/upstream_asker.h"

#include "text/field_extract.h"
#include "net/page_fetch.h"
#include "net/service_url.h"
#include "data/prefix7.h"
#include "data/prefix_store.h"

#include <QUrl>

#include <algorithm>
#include <cassert>
#include <ctime>

namespace teloria::data {

QString UpstreamAsker::requestUrl(const QString& base, const std::string& prefix)
{
    return lookupUrl(base, QString::fromStdString(prefix) + QStringLiteral("0000"));
}

UpstreamAsker::UpstreamAsker(UpstreamOptions options, LearnedStore* store, std::shared_ptr<Clock> clock,
                             Normaliser normalise, LearnedHook onLearned)
    : options_(std::move(options))
    , host_(QUrl(options_.baseUrl).host().toStdString())
    , store_(store)
    , clock_(clock ? std::move(clock) : Clock::system())
    , normalise_(std::move(normalise))
    , onLearned_(std::move(onLearned))
    , bucket_(options_.rate)
{
    if (store_)
        for (LearnedEntry& entry : store_->loadAll())
            learned_.emplace(entry.prefix, std::move(entry));
    for (int i = 0; i < kMaxUpstreamInFlight; ++i)
        workers_.emplace_back([this] { work(); });
    workers_.emplace_back([this] { expireWaiters(); });
}

UpstreamAsker::~UpstreamAsker()
{
    stop();
}

void UpstreamAsker::stop()
{
    std::lock_guard stopLock(stopMutex_);
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && workers_.empty())
            return;
        stopping_ = true;
        for (auto& [key, waiter] : waiters_)
            calls.push_back(std::move(waiter.done));
        stats_.waiting -= waiters_.size();
        waiters_.clear();
    }
    canceller_.cancel();
    workCv_.notify_all();
    doneCv_.notify_all();
    waiterCv_.notify_all();
    for (const auto& call : calls)
        call();
    for (std::thread& worker : workers_)
        worker.join();
    std::lock_guard lock(mutex_);
    workers_.clear();
}

void UpstreamAsker::wake()
{
    std::lock_guard lock(mutex_);
    workCv_.notify_all();
    doneCv_.notify_all();
    waiterCv_.notify_all();
}

UpstreamAsker::Stats UpstreamAsker::stats() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

bool UpstreamAsker::fresh(const LearnedEntry& entry) const
{
    // Compared as a point in time, not an age: asked_at comes from a file and may be anything.
    const std::int64_t oldest = clock_->unixSeconds() - std::int64_t(options_.refreshDays) * 86'400;
    return entry.askedAt >= oldest;
}

bool UpstreamAsker::resting([[maybe_unused]] const std::unique_lock<std::mutex>& held, const std::string& prefix)
{
    assert(held.owns_lock() && held.mutex() == &mutex_);
    const auto it = restingUntil_.find(prefix);
    if (it == restingUntil_.end())
        return false;
    if (clock_->now() < it->second)
        return true;
    restingUntil_.erase(it);
    return false;
}

std::shared_ptr<UpstreamAsker::Flight> UpstreamAsker::enqueue([[maybe_unused]] const std::unique_lock<std::mutex>& held,
                                                             const std::string& prefix)
{
    assert(held.owns_lock() && held.mutex() == &mutex_);
    if (const auto it = flights_.find(prefix); it != flights_.end())
        return it->second;
    if (queue_.size() >= options_.maxQueued)
        return nullptr;
    auto flight = std::make_shared<Flight>();
    flight->prefix = prefix;
    flights_.emplace(prefix, flight);
    queue_.push_back(flight);
    workCv_.notify_one();
    return flight;
}

std::optional<LearnedEntry> UpstreamAsker::known(const std::string& prefix) const
{
    std::lock_guard lock(mutex_);
    const auto it = learned_.find(prefix);
    if (it == learned_.end())
        return std::nullopt;
    return it->second;
}

std::optional<LearnedEntry> UpstreamAsker::ask(const std::string& prefix)
{
    if (!Prefix7::fromText(prefix))
        return std::nullopt;
    std::unique_lock lock(mutex_);
    if (stopping_)
        return std::nullopt;
    if (const auto it = learned_.find(prefix); it != learned_.end()) {
        // An old answer is served while a new one is fetched.
        if (!fresh(it->second) && !resting(lock, prefix))
            enqueue(lock, prefix);
        return it->second;
    }
    if (resting(lock, prefix))
        return std::nullopt;
    const std::shared_ptr<Flight> flight = enqueue(lock, prefix);
    if (!flight)
        return std::nullopt;
    ++stats_.waiting;
    const Clock::TimePoint deadline = clock_->now() + options_.timeout;
    while (!flight->done && !stopping_ && clock_->now() < deadline)
        clock_->waitUntil(lock, doneCv_, deadline);
    --stats_.waiting;
    return flight->done ? flight->answer : std::nullopt;
}

bool UpstreamAsker::askAsync(const std::string& prefix, std::function<void()> done)
{
    if (!Prefix7::fromText(prefix))
        return false;
    std::unique_lock lock(mutex_);
    if (stopping_)
        return false;
    if (const auto it = learned_.find(prefix); it != learned_.end()) {
        if (!fresh(it->second) && !resting(lock, prefix))
            enqueue(lock, prefix);
        return false;
    }
    if (resting(lock, prefix))
        return false;
    const std::shared_ptr<Flight> flight = enqueue(lock, prefix);
    if (!flight)
        return false;
    if (!done)
        return true;
    const WaiterKey key{clock_->now() + options_.timeout, nextWaiter_++};
    const bool soonest = waiters_.empty() || key < waiters_.begin()->first;
    waiters_.emplace(key, Waiter{flight, std::move(done)});
    flight->waiters.push_back(key);
    ++stats_.waiting;
    if (soonest)
        waiterCv_.notify_one();
    return true;
}

std::vector<std::function<void()>> UpstreamAsker::takeWaiters([[maybe_unused]] const std::unique_lock<std::mutex>& held, Flight& flight)
{
    assert(held.owns_lock() && held.mutex() == &mutex_);
    std::vector<std::function<void()>> calls;
    for (const WaiterKey& key : flight.waiters) {
        auto node = waiters_.extract(key);
        if (node.empty())
            continue;
        calls.push_back(std::move(node.mapped().done));
        --stats_.waiting;
    }
    flight.waiters.clear();
    return calls;
}

// Clients waiting without a thread whose time-out passes get the local answer.
void UpstreamAsker::expireWaiters()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (waiters_.empty()) {
            waiterCv_.wait(lock);
            continue;
        }
        const auto now = clock_->now();
        const auto soonest = waiters_.begin()->first.first; // a copy: the waiter may go while this waits
        if (soonest > now) {
            clock_->waitUntil(lock, waiterCv_, soonest);
            continue;
        }
        std::vector<std::function<void()>> calls;
        while (!waiters_.empty() && waiters_.begin()->first.first <= now) {
            auto node = waiters_.extract(waiters_.begin());
            std::vector<WaiterKey>& keys = node.mapped().flight->waiters;
            std::erase(keys, node.key());
            calls.push_back(std::move(node.mapped().done));
            --stats_.waiting;
        }
        lock.unlock();
        for (const auto& call : calls)
            call();
        lock.lock();
    }
}

void UpstreamAsker::work()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            workCv_.wait(lock);
            continue;
        }
        if (!bucket_.tryTake(clock_->now())) {
            clock_->waitUntil(lock, workCv_, bucket_.nextToken());
            continue;
        }
        std::shared_ptr<Flight> flight = queue_.front();
        queue_.pop_front();
        ++stats_.requests;
        lock.unlock();

        std::optional<LearnedEntry> answer = fetch(flight->prefix);
        if (canceller_.cancelled())
            answer.reset(); // stopped: nothing more is kept or told
        if (answer && store_)
            store_->upsert(*answer); // a failed write warns once; the answer still serves this process
        if (answer && onLearned_)
            onLearned_(*answer);

        lock.lock();
        if (answer) {
            ++stats_.learned;
            learned_[flight->prefix] = *answer;
        } else {
            ++stats_.failed;
            restingUntil_[flight->prefix] = clock_->now() + options_.retryAfterFailure;
        }
        flight->answer = std::move(answer);
        flight->done = true;
        flights_.erase(flight->prefix);
        doneCv_.notify_all();
        const std::vector<std::function<void()>> calls = takeWaiters(lock, *flight);
        if (!calls.empty()) {
            lock.unlock();
            for (const auto& call : calls)
                call();
            lock.lock();
        }
    }
}

std::optional<LearnedEntry> UpstreamAsker::fetch(const std::string& prefix) const
{
    FetchOptions fetchOptions;
    fetchOptions.connectTimeoutMs = static_cast<long>(options_.timeout.count());
    fetchOptions.totalTimeoutMs = static_cast<long>(options_.timeout.count());
    fetchOptions.maxBodyBytes = options_.maxBodyBytes;
    // The prefix goes to the configured host only: a redirect elsewhere is a failed answer.
    fetchOptions.followRedirectsToOtherHosts = false;
    fetchOptions.canceller = &canceller_;
    const FetchResult page = fetchPage(requestUrl(options_.baseUrl, prefix), fetchOptions);
    if (!page.ok || page.status != 200)
        return std::nullopt;

    const QString locationText = extractField(page.text, kLocationMarker);
    const QString cardText = extractField(page.text, kCardTypeMarker);
    std::optional<std::string> location = cleanLearnedText(locationText.toStdString());
    if (!location || *location == kUnknown)
        return std::nullopt;
    std::string cardType;
    if (!cardText.trimmed().isEmpty()) {
        std::optional<std::string> card = cleanLearnedText(cardText.toStdString());
        if (!card)
            return std::nullopt; // markup where the card type should be: not a page to trust
        if (*card != kUnknown)
            cardType = std::move(*card);
    }

    LearnedEntry entry;
    entry.prefix = prefix;
    entry.location = std::move(*location);
    entry.cardType = std::move(cardType);
    entry.upstream = host_;
    entry.askedAt = clock_->unixSeconds();
    if (normalise_)
        return normalise_(std::move(entry));
    return entry;
}

} // namespace teloria::data
