#include "data/clock.h"

#include <ctime>

namespace teloria::data {

namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    std::int64_t unixSeconds() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline) override
    {
        cv.wait_until(lock, deadline);
    }
};

} // namespace

std::shared_ptr<Clock> Clock::system()
{
    return std::make_shared<SystemClock>();
}

} // namespace teloria::data
