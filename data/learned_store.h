#pragma once
// Answers learned from an online lookup service, kept on disk in SQLite so the
// next run needs no network. One row per 7-digit prefix. Several processes
// (two services, the window and a batch run) may share one file: it is in WAL
// mode, every write is its own transaction and a busy database is waited for.
// A process killed at any moment leaves a database that opens.

#include "platform/result.h"
#include "data/learned_database.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace teloria::data {

struct LearnedEntry {
    std::string prefix;    // seven ASCII digits
    std::string location;  // UTF-8, already cleaned
    std::string cardType;  // UTF-8, already cleaned; may be empty
    std::string upstream;  // the host that answered
    std::int64_t askedAt = 0; // seconds since the Unix epoch

    bool operator==(const LearnedEntry&) const = default;
};

inline constexpr std::size_t kMaxLearnedTextBytes = 96;

// Text that came from outside (an upstream page, a database row), made fit to
// stand in a cell, a file or a log line: surrounding white space dropped, runs
// of it made one ASCII space. Nothing when the data layer's isSafeText
// refuses it (markup, field markers, control characters, broken UTF-8), when
// it holds a comma, a quote, a full-width colon or an undecodable character
// (U+FFFD), or when it is empty or longer than kMaxLearnedTextBytes.
std::optional<std::string> cleanLearnedText(std::string_view utf8);

// One line of text for the user (stderr in the programs); never holds
// anything the upstream sent.
using WarningSink = std::function<void(const std::string&)>;

struct LearnedStoreOptions {
    LearnedAccess access = LearnedAccess::ReadWrite;
    std::chrono::milliseconds busyTimeout{10'000}; // another process writing
};

class LearnedStore {
public:
    // $XDG_DATA_HOME/teloria/learned.sqlite, $XDG_DATA_HOME defaulting to
    // ~/.local/share; empty when neither it nor HOME is set.
    static std::filesystem::path defaultPath();

    using Options = LearnedStoreOptions;

    // Opens the database at path; for writing, creates it and its folder
    // when missing. A damaged file (SQLite finds it corrupt or not a
    // database) is renamed aside as "<name>.corrupt-YYYYMMDD-HHMMSS" with a
    // warning, and a fresh one is started. A file that is not ours (a folder,
    // other tables, a newer layout) is left untouched, with its reason in
    // refusal() and a warning. A location that cannot be written gives one
    // warning; the store then serves what it could read and learns nothing.
    explicit LearnedStore(std::filesystem::path path, WarningSink warn = {}, Options options = {});
    ~LearnedStore();
    LearnedStore(const LearnedStore&) = delete;
    LearnedStore& operator=(const LearnedStore&) = delete;

    const std::filesystem::path& path() const { return path_; }
    bool writable() const { return writable_; }
    // Where a corrupt file went; empty when none was moved.
    const std::filesystem::path& movedAside() const { return movedAside_; }
    // Why the file was left alone as not ours; empty when it is ours or missing.
    const std::string& refusal() const { return refusal_; }

    // Every row, in prefix order. Thread-safe, as are the others.
    std::vector<LearnedEntry> loadAll();
    // Inserts or replaces the prefix's row. False when nothing was written.
    bool upsert(const LearnedEntry& entry);
    // Removes the prefixes' rows in one transaction; the number of rows
    // removed, or why nothing was: Busy (another writer past the time-out),
    // Refused (a database only looked at), Io.
    Result<int> forget(const std::vector<std::string>& prefixes);

private:
    void warn(const std::string& message);

    std::filesystem::path path_;
    std::filesystem::path movedAside_;
    std::string refusal_;
    WarningSink warn_;
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    bool writable_ = false;
    bool warnedWrite_ = false;
};

} // namespace teloria::data
