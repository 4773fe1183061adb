#pragma once
// Where a walk of teloria-data learn stands, kept beside the learned answers
// in learned.sqlite (a table of its own), so that a walk stopped by Ctrl-C, a
// crash or a reboot resumes where it stopped. One row per walk, keyed by the
// segments it covers ("190-199,162"): the first prefix not yet asked.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct sqlite3;

namespace teloria::data {

class LearnProgress {
public:
    // Opens the database at path (made by LearnedStore beforehand); check ok().
    explicit LearnProgress(const std::filesystem::path& path);
    ~LearnProgress();
    LearnProgress(const LearnProgress&) = delete;
    LearnProgress& operator=(const LearnProgress&) = delete;

    bool ok() const { return db_ != nullptr; }
    const std::string& error() const { return error_; }

    // The first prefix the walk has not asked about; nothing when it never ran.
    std::optional<std::uint32_t> next(const std::string& walk);
    // Every prefix below next has been asked about. False when nothing was written.
    bool save(const std::string& walk, std::uint32_t next, std::int64_t unixSeconds);

private:
    sqlite3* db_ = nullptr;
    std::string error_;
};

} // namespace teloria::data
