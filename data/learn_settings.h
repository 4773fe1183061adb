#pragma once
// The settings of learning from an online lookup service, shared by
// teloria-lookupd and the bundled service of the window and teloria-batch:
//   --upstream URL --upstream-timeout S --upstream-rate N
//   --learned FILE --no-learn --refresh-days N
// and TELORIA_UPSTREAM when --upstream is not given.

#include <QString>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace teloria::data {

inline constexpr char kUpstreamEnvironment[] = "TELORIA_UPSTREAM";

struct LearnSettings {
    QString upstream;                         // base URL; empty: ask no one
    std::chrono::milliseconds timeout{10'000};
    double rate = 2.0;                        // requests a second
    std::filesystem::path learnedFile;        // empty: LearnedStore::defaultPath()
    bool noLearn = false;                     // keep nothing on disk, read nothing from it
    int refreshDays = 180;
};

enum class OptionResult { NotMine, Taken, Bad };

// Reads the learning option at args[i], if it is one, with its value;
// afterwards i is on the option's last argument. Bad: *error says why.
OptionResult takeLearnOption(const std::vector<std::string>& args, std::size_t& i, LearnSettings& settings,
                             std::string* error);

// After the command line: TELORIA_UPSTREAM when no --upstream was given, and
// the URL checked. False with *error for a malformed URL or settings that
// contradict each other.
bool finishLearnSettings(LearnSettings& settings, std::string* error);

// The options' lines for --help, two spaces in, wrapped at 78 columns.
extern const char kLearnOptionsHelp[];

} // namespace teloria::data
