#pragma once
// The settings of learning from an online lookup service, shared by
// teloria-lookupd and the bundled service of the window and teloria-batch
// (their options are read by command/learn_options.h), and TELORIA_UPSTREAM
// when --upstream is not given.

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

// After the command line: TELORIA_UPSTREAM when no --upstream was given, and
// the URL checked. False with *error for a malformed URL or settings that
// contradict each other.
bool finishLearnSettings(LearnSettings& settings, std::string* error);

} // namespace teloria::data
