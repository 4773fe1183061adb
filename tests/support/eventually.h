#pragma once
// Waits for a state that another thread brings about and nothing signals to
// the test; false once the time is up.

#include <chrono>
#include <thread>

namespace teloria::testing {

template <typename Predicate>
bool eventually(Predicate done, std::chrono::seconds limit = std::chrono::seconds(30))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace teloria::testing
