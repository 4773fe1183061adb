#include "data/learn_progress.h"

#include <sqlite3.h>

namespace teloria::data {

namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS learn_walk ("
    " walk TEXT PRIMARY KEY NOT NULL,"
    " next_prefix INTEGER NOT NULL,"
    " updated_at INTEGER NOT NULL"
    ") WITHOUT ROWID";

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

} // namespace

LearnProgress::LearnProgress(const std::filesystem::path& path)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        error_ = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return;
    }
    sqlite3_busy_timeout(db_, 10'000);
    char* message = nullptr;
    if (sqlite3_exec(db_, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
        error_ = message ? message : "cannot make the progress table";
        sqlite3_free(message);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

LearnProgress::~LearnProgress()
{
    sqlite3_close_v2(db_);
}

std::optional<std::uint32_t> LearnProgress::next(const std::string& walk)
{
    if (!db_)
        return std::nullopt;
    Statement s;
    if (sqlite3_prepare_v2(db_, "SELECT next_prefix FROM learn_walk WHERE walk = ?1", -1, &s.stmt, nullptr) != SQLITE_OK)
        return std::nullopt;
    sqlite3_bind_text(s.stmt, 1, walk.data(), static_cast<int>(walk.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(s.stmt) != SQLITE_ROW)
        return std::nullopt;
    const sqlite3_int64 next = sqlite3_column_int64(s.stmt, 0);
    if (next < 0 || next > 2'000'000)
        return std::nullopt;
    return static_cast<std::uint32_t>(next);
}

bool LearnProgress::save(const std::string& walk, std::uint32_t next, std::int64_t unixSeconds)
{
    if (!db_)
        return false;
    Statement s;
    if (sqlite3_prepare_v2(db_,
                           "INSERT INTO learn_walk (walk, next_prefix, updated_at) VALUES (?1, ?2, ?3)"
                           " ON CONFLICT (walk) DO UPDATE SET next_prefix = ?2, updated_at = ?3",
                           -1, &s.stmt, nullptr)
        != SQLITE_OK)
        return false;
    sqlite3_bind_text(s.stmt, 1, walk.data(), static_cast<int>(walk.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.stmt, 2, next);
    sqlite3_bind_int64(s.stmt, 3, unixSeconds);
    return sqlite3_step(s.stmt) == SQLITE_DONE;
}

} // namespace teloria::data
