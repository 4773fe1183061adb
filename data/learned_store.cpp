#include "data/learned_store.h"

#include "data/prefix7.h"

#include <sqlite3.h>

#include <cstdlib>
#include <iostream>

namespace teloria::data {

namespace fs = std::filesystem;

namespace {

// Finalises a statement whatever way the scope is left.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

std::string columnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
}

} // namespace

fs::path LearnedStore::defaultPath()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (xdg && *xdg && fs::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            return {};
        base = fs::path(home) / ".local" / "share";
    }
    return base / "teloria" / "learned.sqlite";
}

LearnedStore::LearnedStore(fs::path path, WarningSink warn, Options options)
    : path_(std::move(path)), warn_(std::move(warn))
{
    if (path_.empty()) {
        this->warn("learned answers: no place to keep them (neither XDG_DATA_HOME nor HOME is set); nothing is learned");
        return;
    }
    OpenedLearnedDatabase opened = openLearnedDatabase(path_, options.access, options.busyTimeout);
    db_ = opened.db;
    writable_ = opened.writable;
    movedAside_ = std::move(opened.movedAside);
    refusal_ = std::move(opened.refusal);
    warnedWrite_ = !writable_;
    for (const std::string& line : opened.warnings)
        this->warn(line);
}

LearnedStore::~LearnedStore()
{
    if (db_)
        sqlite3_close_v2(db_);
}

void LearnedStore::warn(const std::string& message)
{
    if (warn_)
        warn_(message);
    else
        std::cerr << "warning: " << message << '\n';
}

std::vector<LearnedEntry> LearnedStore::loadAll()
{
    std::lock_guard lock(mutex_);
    std::vector<LearnedEntry> entries;
    if (!db_)
        return entries;
    Statement s;
    if (sqlite3_prepare_v2(db_, kLearnedSelectAll, -1, &s.stmt, nullptr) != SQLITE_OK)
        return entries;
    while (sqlite3_step(s.stmt) == SQLITE_ROW) {
        LearnedEntry e;
        e.prefix = columnText(s.stmt, 0);
        auto location = cleanLearnedText(columnText(s.stmt, 1));
        const std::string card = columnText(s.stmt, 2);
        auto cardType = card.empty() ? std::optional<std::string>(std::string()) : cleanLearnedText(card);
        // A row edited by hand into something this program would not have written is passed over.
        if (!Prefix7::fromText(e.prefix) || !location || !cardType)
            continue;
        e.location = std::move(*location);
        e.cardType = std::move(*cardType);
        e.upstream = cleanLearnedText(columnText(s.stmt, 3)).value_or(std::string());
        e.askedAt = sqlite3_column_int64(s.stmt, 4);
        entries.push_back(std::move(e));
    }
    return entries;
}

bool LearnedStore::upsert(const LearnedEntry& entry)
{
    std::lock_guard lock(mutex_);
    if (!db_ || !writable_ || !Prefix7::fromText(entry.prefix))
        return false;
    Statement s;
    int rc = sqlite3_prepare_v2(db_, kLearnedUpsert, -1, &s.stmt, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(s.stmt, 1, entry.prefix.data(), int(entry.prefix.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s.stmt, 2, entry.location.data(), int(entry.location.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s.stmt, 3, entry.cardType.data(), int(entry.cardType.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s.stmt, 4, entry.upstream.data(), int(entry.upstream.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s.stmt, 5, entry.askedAt);
        rc = sqlite3_step(s.stmt);
    }
    if (rc == SQLITE_DONE)
        return true;
    if (!warnedWrite_) {
        warnedWrite_ = true;
        warn("learned answers: writing " + path_.string() + " failed (" + sqlite3_errstr(rc)
             + "); answers are kept in memory only");
    }
    return false;
}

Result<int> LearnedStore::forget(const std::vector<std::string>& prefixes)
{
    std::lock_guard lock(mutex_);
    auto fail = [](int rc) {
        const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
        return Error{busy ? ErrorKind::Busy : ErrorKind::Io, sqlite3_errstr(rc)};
    };
    if (!db_ || !writable_)
        return Error{ErrorKind::Refused, "the database cannot be written"};
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc); // "database is locked" past the busy time-out
    int removed = 0;
    Statement s;
    rc = sqlite3_prepare_v2(db_, kLearnedDelete, -1, &s.stmt, nullptr);
    for (const std::string& prefix : prefixes) {
        if (rc != SQLITE_OK)
            break;
        sqlite3_reset(s.stmt);
        sqlite3_bind_text(s.stmt, 1, prefix.data(), int(prefix.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(s.stmt);
        if (rc == SQLITE_DONE) {
            rc = SQLITE_OK;
            removed += sqlite3_changes(db_);
        }
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return removed;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(rc);
}

} // namespace teloria::data
