#pragma once
// Opening the learned-answer database: a file this program may write, one it
// may only read, and one that is not its own at all. Only a file SQLite calls
// corrupt or not a database is damage, moved aside and started afresh; a
// folder, another program's tables or a newer layout is left untouched with
// its reason. Reading alone never changes the file: no journal mode, no
// table, and a file whose folder cannot take SQLite's shared-memory file is
// read as immutable.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;

namespace teloria::data {

enum class LearnedAccess {
    ReadWrite, // learning: the database is made when missing
    ReadOnly,  // looking: nothing is made or changed
};

struct OpenedLearnedDatabase {
    sqlite3* db = nullptr; // the caller closes it; null when nothing can be read
    bool writable = false;
    std::filesystem::path movedAside;  // where a damaged file went
    std::string refusal;               // why a file that is not ours was left alone
    std::vector<std::string> warnings; // lines for the user, in order
};

OpenedLearnedDatabase openLearnedDatabase(const std::filesystem::path& path, LearnedAccess access,
                                          std::chrono::milliseconds busyTimeout);

// The row statements on the table as this program writes it.
inline constexpr char kLearnedSelectAll[] =
    "SELECT prefix, location, card_type, upstream, asked_at FROM learned ORDER BY prefix";
inline constexpr char kLearnedUpsert[] =
    "INSERT INTO learned (prefix, location, card_type, upstream, asked_at) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (prefix) DO UPDATE SET location = ?2, card_type = ?3, upstream = ?4, asked_at = ?5";
inline constexpr char kLearnedDelete[] = "DELETE FROM learned WHERE prefix = ?1";

} // namespace teloria::data
