#pragma once
// teloria-data learn's walk: every 7-digit prefix of the chosen segments
// that local data lack a location or an operator for, asked of the upstream
// once each through the one asker (its rate, at most two in flight, only the
// prefix and 0000 sent), the answers kept in learned.sqlite and the walk's
// place beside them, so that a stopped walk resumes where it stopped.

#include "data/learn_settings.h"
#include "data/prefix7.h"
#include "data/upstream_asker.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace teloria::data {

class PrefixStore;

struct SegmentRange {
    int first = 0; // 3-digit segments, 130..199
    int last = 0;
};

// "190-199,162" -> the ranges; nothing and *error for anything else.
std::optional<std::vector<SegmentRange>> parseSegments(std::string_view text, std::string* error);
// The walk's name in the progress table: its ranges in order ("162,190-199"), "all" for none.
std::string walkName(const std::vector<SegmentRange>& segments);

// The prefixes to ask about, ascending: in the given segments (none: every
// segment the store holds anything for), those local data lack a location
// or an operator for.
std::vector<Prefix7> walkPrefixes(const PrefixStore& store, const std::vector<SegmentRange>& segments);

struct WalkOptions {
    LearnSettings learn;                // upstream, rate, time-out, learned file
    std::vector<SegmentRange> segments; // none: every held segment
    std::size_t max = 0;                // requests in this sitting; 0: no bound
};

struct WalkStatus {
    std::size_t total = 0;    // prefixes of the walk
    std::size_t done = 0;     // of them asked about, this sitting and before
    std::size_t sitting = 0;  // requests sent in this sitting
    std::size_t learned = 0;  // answers kept in this sitting
    double seconds = 0;       // this sitting, on the walk's clock
    bool finished = false;    // every prefix asked about
    // Every request of the sitting failed (the first ten at most were sent):
    // the walk's place was kept where the sitting found it.
    bool upstreamFailed = false;
};

// Walks, calling progress after every answer; ends when every prefix has
// been asked about, max requests were sent, or stop turns true (in-flight
// requests are waited for and counted). Nothing and *error when the learned
// file cannot be written.
std::optional<WalkStatus> runLearnWalk(const WalkOptions& options, const PrefixStore& store, const std::shared_ptr<Clock>& clock,
                                       const std::function<void(const WalkStatus&)>& progress,
                                       const std::atomic<bool>& stop, std::string* error);

} // namespace teloria::data
