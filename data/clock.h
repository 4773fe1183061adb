#pragma once
// The time the upstream asker runs on: the system's, or one a test moves by
// hand. Whoever waits on it holds a share of it, so it outlives every wait.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace teloria::data {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;          // monotonic: rate limit, retry pause
    virtual std::int64_t unixSeconds() const = 0; // wall time: when an answer was asked
    // Waits on cv (lock held) until this clock reaches deadline or cv is notified.
    virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline) = 0;

    static std::shared_ptr<Clock> system(); // steady_clock and the system's wall clock
};

} // namespace teloria::data
