#include "data/learn_walk.h"

#include "data/learn_progress.h"
#include "data/learning.h"
#include "data/prefix_store.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace teloria::data {

namespace {

constexpr int kFirstSegment = Prefix7::kFirst / 10'000; // 130
constexpr int kLastSegment = Prefix7::kLast / 10'000;   // 199

std::optional<int> segmentOf(std::string_view text)
{
    if (text.size() != 3 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int s = (text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
    if (s < kFirstSegment || s > kLastSegment)
        return std::nullopt;
    return s;
}

} // namespace

std::optional<std::vector<SegmentRange>> parseSegments(std::string_view text, std::string* error)
{
    std::vector<SegmentRange> ranges;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view part = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        const auto dash = part.find('-');
        const auto first = segmentOf(part.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : segmentOf(part.substr(dash + 1));
        if (!first || !last || *last < *first) {
            *error = "'" + std::string(part) + "' is not a segment (130-199) or a range of them (190-199)";
            return std::nullopt;
        }
        ranges.push_back({*first, *last});
    }
    if (ranges.empty()) {
        *error = "no segment given";
        return std::nullopt;
    }
    std::sort(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return ranges;
}

std::string walkName(const std::vector<SegmentRange>& segments)
{
    if (segments.empty())
        return "all";
    std::string name;
    for (const SegmentRange& r : segments) {
        if (!name.empty())
            name += ',';
        name += std::to_string(r.first);
        if (r.last != r.first)
            name += '-' + std::to_string(r.last);
    }
    return name;
}

std::vector<Prefix7> walkPrefixes(const PrefixStore& store, const std::vector<SegmentRange>& segments)
{
    std::vector<Prefix7> prefixes;
    for (int s = kFirstSegment; s <= kLastSegment; ++s) {
        const auto segment = Prefix7::ofSegment(static_cast<std::uint32_t>(s));
        if (!segments.empty()) {
            if (std::none_of(segments.begin(), segments.end(), [s](const auto& r) { return s >= r.first && s <= r.last; }))
                continue;
        } else {
            // Every held segment: one some source knows anything about.
            bool held = false;
            for (auto p = segment.begin(); p != segment.end() && !held; ++p)
                held = store.mobile(*p).hasCardType() || store.mobile(*p).hasLocation();
            if (!held)
                continue;
        }
        for (const Prefix7 p : segment)
            if (store.needsUpstream(p))
                prefixes.push_back(p);
    }
    return prefixes;
}

std::optional<WalkStatus> runLearnWalk(const WalkOptions& options, const PrefixStore& store, const std::shared_ptr<Clock>& clock,
                                       const std::function<void(const WalkStatus&)>& progress,
                                       const std::atomic<bool>& stop, std::string* error)
{
    const std::vector<Prefix7> prefixes = walkPrefixes(store, options.segments);
    const std::string walk = walkName(options.segments);
    const std::filesystem::path file =
        options.learn.learnedFile.empty() ? LearnedStore::defaultPath() : options.learn.learnedFile;
    if (file.empty()) {
        *error = "no place for the learned answers: neither XDG_DATA_HOME nor HOME is set";
        return std::nullopt;
    }
    std::string warning;
    LearnedStore database(file, [&warning](const std::string& line) {
        if (warning.empty())
            warning = line;
    });
    if (!database.writable()) {
        *error = warning.empty() ? file.string() + " cannot be written" : warning;
        return std::nullopt;
    }
    LearnProgress place(database.path());
    if (!place.ok()) {
        *error = file.string() + ": " + place.error();
        return std::nullopt;
    }

    WalkStatus status;
    status.total = prefixes.size();
    const std::uint32_t resumeAt = place.next(walk).value_or(0);
    std::size_t next = static_cast<std::size_t>(std::ranges::lower_bound(prefixes, resumeAt, {}, &Prefix7::value)
                                                - prefixes.begin());
    status.done = next;

    // Answers may come back out of order: the walk's place is the first prefix
    // whose answer is not in yet.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<bool> window; // prefixes[next - window.size() + i] answered?
    std::size_t windowStart = next;
    const Clock::TimePoint start = clock->now();
    // After the state its callbacks touch, so that it goes first.
    UpstreamOptions upstream;
    upstream.baseUrl = options.learn.upstream;
    upstream.timeout = options.learn.timeout;
    upstream.rate = options.learn.rate;
    upstream.refreshDays = options.learn.refreshDays;
    UpstreamAsker asker(upstream, &database, clock, &Learning::normalise);

    auto settle = [&](std::unique_lock<std::mutex>&) {
        std::size_t moved = 0;
        while (!window.empty() && window.front()) {
            window.pop_front();
            ++windowStart;
            ++moved;
        }
        return moved;
    };
    // The place is written at most once a second of the walk's clock, and at the end: a crash asks
    // again at most what that second asked.
    Clock::TimePoint lastSaved = start;
    auto publish = [&](bool last) {
        const std::uint32_t at = windowStart < prefixes.size() ? prefixes[windowStart].value() : Prefix7::kLast + 1;
        if (last || clock->now() - lastSaved >= std::chrono::seconds(1)) {
            place.save(walk, at, clock->unixSeconds());
            lastSaved = clock->now();
        }
        status.done = windowStart;
        status.learned = static_cast<std::size_t>(asker.stats().learned);
        status.seconds = std::chrono::duration<double>(clock->now() - start).count();
        if (progress)
            progress(status);
    };

    // An upstream that answers none of the first requests of a sitting is down
    // or not one: the walk stops and keeps its place, rather than pass over
    // prefixes it never learned.
    constexpr std::uint64_t kFailedBeforeStopping = 10;
    bool upstreamDown = false;
    std::unique_lock lock(mutex);
    for (;;) {
        const bool full = window.size() >= static_cast<std::size_t>(kMaxUpstreamInFlight);
        const bool more = next < prefixes.size() && !stop.load() && !upstreamDown
                          && (options.max == 0 || status.sitting < options.max);
        if (!more && window.empty())
            break;
        if (more && !full) {
            const std::size_t slot = window.size();
            window.push_back(false);
            const std::string prefix = prefixes[next++].text();
            lock.unlock();
            const bool asked = asker.askAsync(prefix, [&, slot, base = windowStart] {
                std::lock_guard guard(mutex);
                const std::size_t at = base + slot - windowStart;
                if (at < window.size())
                    window[at] = true;
                changed.notify_all();
            });
            lock.lock();
            if (asked) {
                ++status.sitting;
            } else { // known already or resting: nothing to wait for
                window.back() = true;
            }
        } else {
            // Ctrl-C sets stop from a signal handler, which cannot notify: look again now and then.
            changed.wait_for(lock, std::chrono::milliseconds(200));
        }
        if (settle(lock) > 0) {
            lock.unlock();
            const UpstreamAsker::Stats seen = asker.stats();
            upstreamDown = seen.learned == 0 && seen.failed >= kFailedBeforeStopping;
            publish(false);
            lock.lock();
        }
    }
    lock.unlock();
    const UpstreamAsker::Stats seen = asker.stats();
    if (status.sitting > 0 && seen.learned == 0 && seen.failed >= std::min<std::uint64_t>(status.sitting, kFailedBeforeStopping)) {
        // Nothing learned, every answer failed: the place stays where the sitting found it.
        windowStart = static_cast<std::size_t>(std::ranges::lower_bound(prefixes, resumeAt, {}, &Prefix7::value)
                                               - prefixes.begin());
        status.upstreamFailed = true;
    }
    publish(true);
    status.finished = status.done == status.total;
    return status;
}

} // namespace teloria::data
