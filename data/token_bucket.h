#pragma once
// The upstream's rate limit.

#include "data/clock.h"

#include <optional>

namespace teloria::data {

// Tokens flow in at `rate` a second up to `burst`; a request takes one. Kept
// as the time the bucket is next full (whole nanoseconds, so no rounding
// drifts), not as a count.
class TokenBucket {
public:
    explicit TokenBucket(double ratePerSecond, double burst = 1.0);
    bool tryTake(Clock::TimePoint now);
    Clock::TimePoint nextToken() const; // when tryTake will next succeed, given no other taker

private:
    Clock::duration interval_;
    Clock::duration depth_; // (burst - 1) intervals
    std::optional<Clock::TimePoint> full_;
    Clock::TimePoint lastSeen_{};
};

} // namespace teloria::data
