#pragma once
// A message sink for the window's benchmarks: closes each box at once and
// remembers when the end message of the latest run came (every second box).

#include "lookup/run_ports.h"

#include <chrono>

namespace bench {

class ClosingMessages : public teloria::MessageSink {
public:
    int shown = 0;
    std::chrono::steady_clock::time_point endShown{};
    void information(const QString&, const QString&) override
    {
        if (++shown % 2 == 0)
            endShown = std::chrono::steady_clock::now();
    }
    void warning(const QString& title, const QString& text) override { information(title, text); }
};

} // namespace bench
