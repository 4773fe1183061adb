// teloria-data learn: the walk over the prefixes local data do not know,
// with a progress bar on a terminal and Ctrl-C stopping it cleanly.
#include "cli/data_subcommands.h"

#include "data/learn_walk.h"

#include <csignal>
#include <iostream>
#include <cstdio>
#include <ostream>
#include <unistd.h>

namespace teloria::cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

std::string clockText(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// "[########------------]  700/2000  35%  2.0/s  10:50 left"
std::string barLine(const data::WalkStatus& s)
{
    constexpr int kWidth = 30;
    const double part = s.total ? double(s.done) / double(s.total) : 1.0;
    const int filled = static_cast<int>(part * kWidth);
    const double rate = s.seconds > 0 ? double(s.sitting) / s.seconds : 0.0;
    const double left = rate > 0 ? double(s.total - s.done) / rate : 0.0;
    char buf[160];
    std::snprintf(buf, sizeof buf, "[%s%s] %zu/%zu %3.0f%% %.1f/s %s left", std::string(filled, '#').c_str(),
                  std::string(kWidth - filled, '-').c_str(), s.done, s.total, part * 100, rate,
                  rate > 0 ? clockText(left).c_str() : "--:--");
    return buf;
}

} // namespace

int runLearn(const DataArguments& args, DataContext& context)
{
    const data::DataSettings& settings = context.settings;
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    const auto& usage = context.usage;
    data::WalkOptions options;
    options.learn = settings.learn;
    if (!args.empty())
        return usage("learn takes options only, not '" + args.front() + "'");
    if (context.isSet("segments")) {
        std::string why;
        const auto ranges = data::parseSegments(context.value("segments"), &why);
        if (!ranges)
            return usage("--segments: " + why);
        options.segments = *ranges;
    }
    if (context.isSet("rate")) {
        const std::string text = context.value("rate");
        char* end = nullptr;
        const double rate = std::strtod(text.c_str(), &end);
        if (*end != '\0' || !(rate > 0) || rate > 1000)
            return usage("--rate takes requests a second, more than 0 and at most 1000, not '" + text + "'");
        options.learn.rate = rate;
    }
    if (context.isSet("max")) {
        const std::string text = context.value("max");
        char* end = nullptr;
        const long long max = std::strtoll(text.c_str(), &end, 10);
        if (*end != '\0' || max < 1)
            return usage("--max takes a whole number of requests, 1 or more, not '" + text + "'");
        options.max = static_cast<std::size_t>(max);
    }
    if (context.isSet("upstream"))
        options.learn.upstream = QString::fromStdString(context.value("upstream"));
    if (std::string why; !data::finishLearnSettings(options.learn, &why))
        return usage(why);
    if (options.learn.upstream.isEmpty())
        return usage("learn needs --upstream URL (or TELORIA_UPSTREAM)");
    if (options.learn.noLearn)
        return usage("learn keeps what it learns: --no-learn does not go with it");

    // The walk's prefixes come from the data files and built-in data alone, so
    // that they stay the same from one sitting to the next; what was learned
    // already is not asked again (the asker knows it).
    data::DataSettings local = settings;
    local.learn = options.learn;
    local.learn.upstream.clear();
    local.learn.noLearn = true;
    local.program.clear();
    const data::LoadedStore loaded = data::loadStore(local);

    const bool terminal = ::isatty(STDERR_FILENO) == 1 && &err == &std::cerr;
    interrupted.store(false);
    struct sigaction action = {}, previous = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
    std::string why;
    const auto status = data::runLearnWalk(
        options, *loaded.store, data::Clock::system(),
        [&](const data::WalkStatus& s) {
            if (terminal)
                err << '\r' << barLine(s) << "\x1b[K" << std::flush;
        },
        interrupted, &why);
    sigaction(SIGINT, &previous, nullptr);
    if (terminal)
        err << '\n';
    if (!status) {
        err << "teloria-data: " << why << '\n';
        return 1;
    }
    if (status->upstreamFailed) {
        err << "teloria-data: the upstream answered none of " << status->sitting
            << " requests; nothing learned, the walk stays where it was\n";
        return 1;
    }
    out << "asked " << status->sitting << " prefixes in " << clockText(status->seconds) << ", learned "
        << status->learned << "; " << status->done << " of " << status->total << " prefixes of the walk done\n";
    if (!status->finished)
        out << (interrupted.load() ? "stopped; " : "") << status->total - status->done
            << " left: teloria-data learn with the same --segments goes on from here\n";
    return 0;
}

} // namespace teloria::cli
