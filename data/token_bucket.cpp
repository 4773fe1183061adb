#include "data/token_bucket.h"

#include <algorithm>

namespace teloria::data {

TokenBucket::TokenBucket(double ratePerSecond, double burst)
    : interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / std::max(ratePerSecond, 1e-3))))
    , depth_(interval_ * (static_cast<long>(std::max(burst, 1.0)) - 1))
{
    if (interval_ <= Clock::duration::zero())
        interval_ = Clock::duration(1);
}

bool TokenBucket::tryTake(Clock::TimePoint now)
{
    lastSeen_ = std::max(lastSeen_, now);
    const Clock::TimePoint full = full_.value_or(now);
    if (now < full - depth_)
        return false;
    full_ = std::max(full, now) + interval_;
    return true;
}

Clock::TimePoint TokenBucket::nextToken() const
{
    if (!full_)
        return lastSeen_;
    return std::max(*full_ - depth_, lastSeen_);
}

} // namespace teloria::data
