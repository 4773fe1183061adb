#include "data/learned_store.h"

#include "data/place_names.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QFileInfo>

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <system_error>

namespace teloria::data {

namespace fs = std::filesystem;

namespace {

constexpr int kBusyTimeoutMs = 10'000;

// The table as this program writes it; a file holding a learned table with
// other columns is not ours to guess at.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS learned ("
    " prefix TEXT PRIMARY KEY NOT NULL,"
    " location TEXT NOT NULL,"
    " card_type TEXT NOT NULL,"
    " upstream TEXT NOT NULL,"
    " asked_at INTEGER NOT NULL"
    ") WITHOUT ROWID";
constexpr char kSelectAll[] =
    "SELECT prefix, location, card_type, upstream, asked_at FROM learned ORDER BY prefix";
constexpr char kUpsert[] =
    "INSERT INTO learned (prefix, location, card_type, upstream, asked_at) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (prefix) DO UPDATE SET location = ?2, card_type = ?3, upstream = ?4, asked_at = ?5";
constexpr char kDelete[] = "DELETE FROM learned WHERE prefix = ?1";

// Finalises a statement whatever way the scope is left.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

bool isPrefix(std::string_view text)
{
    if (text.size() != 7 || text[0] != '1')
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string columnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
}

// Faults that mean the file itself is not a usable database; a busy or
// read-only one is not damaged.
bool isDamage(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_ERROR:   // e.g. a learned table of another shape
    case SQLITE_CANTOPEN:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
        return true;
    default:
        return false;
    }
}

std::string timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
}

bool parentWritable(const fs::path& path)
{
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return QFileInfo(QString::fromStdString(parent.string())).isWritable();
}

} // namespace

std::optional<std::string> cleanLearnedText(std::string_view text)
{
    // White space (ASCII, the no-break and the ideographic space) dropped around, one ASCII space within.
    std::string out;
    bool pendingSpace = false;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t width = 0;
        if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')
            width = 1;
        else if (text.substr(i).starts_with("\u00a0"))
            width = 2;
        else if (text.substr(i).starts_with("\u3000"))
            width = 3;
        if (width > 0) {
            pendingSpace = !out.empty();
            i += width;
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += text[i++];
    }
    if (out.empty() || out.size() > kMaxLearnedTextBytes || !isSafeText(out))
        return std::nullopt;
    // Beyond what any text may hold: what a cell of the result file or a broken page would show.
    for (std::string_view refused : {std::string_view(","), std::string_view("\""), std::string_view("："),
                                     std::string_view("\xEF\xBF\xBD")})
        if (out.find(refused) != std::string::npos)
            return std::nullopt;
    return out;
}

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

LearnedStore::LearnedStore(fs::path path, WarningSink warn) : path_(std::move(path)), warn_(std::move(warn))
{
    if (path_.empty()) {
        this->warn("learned answers: no place to keep them (neither XDG_DATA_HOME nor HOME is set); nothing is learned");
        return;
    }
    std::error_code ec;
    if (path_.has_parent_path())
        fs::create_directories(path_.parent_path(), ec);
    if (ec) {
        readOnlyFallback("its folder cannot be made: " + ec.message());
        return;
    }
    if (!openFresh()) {
        if (fs::exists(path_, ec) && parentWritable(path_)) {
            moveAside("it cannot be opened");
            if (openFresh() && prepareSchema())
                writable_ = true;
            else
                readOnlyFallback("a new database cannot be made there");
        } else {
            readOnlyFallback("it cannot be opened for writing");
        }
        return;
    }
    if (sqlite3_db_readonly(db_, "main") == 1) {
        readOnlyFallback("the file is read-only");
        return;
    }
    if (prepareSchema()) {
        writable_ = true;
        return;
    }
    // prepareSchema has warned for a busy or read-only database and left it open for reading.
    if (db_)
        return;
    moveAside("it is not a sound database");
    if (openFresh() && prepareSchema())
        writable_ = true;
    else
        readOnlyFallback("a new database cannot be made there");
}

LearnedStore::~LearnedStore()
{
    close();
}

bool LearnedStore::openFresh()
{
    close();
    const int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return true;
}

// WAL mode, the table, and a quick integrity check. False with db_ closed
// when the file is damaged; false with db_ open when it is merely busy or
// read-only (warned here).
bool LearnedStore::prepareSchema()
{
    auto step = [this](const char* sql, std::string* firstText) {
        Statement s;
        int rc = sqlite3_prepare_v2(db_, sql, -1, &s.stmt, nullptr);
        if (rc != SQLITE_OK)
            return rc;
        while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW)
            if (firstText && firstText->empty())
                *firstText = columnText(s.stmt, 0);
        return rc == SQLITE_DONE ? SQLITE_OK : rc;
    };
    std::string mode;
    std::string check;
    int rc = step("PRAGMA journal_mode = WAL", &mode);
    if (rc == SQLITE_OK)
        rc = step("PRAGMA synchronous = NORMAL", nullptr);
    if (rc == SQLITE_OK)
        rc = step(kSchema, nullptr);
    if (rc == SQLITE_OK)
        rc = step("PRAGMA quick_check", &check);
    if (rc == SQLITE_OK && check != "ok")
        rc = SQLITE_CORRUPT;
    if (rc == SQLITE_OK) {
        Statement s;
        rc = sqlite3_prepare_v2(db_, kSelectAll, -1, &s.stmt, nullptr);
    }
    if (rc == SQLITE_OK && mode != "wal")
        rc = SQLITE_CANTOPEN; // WAL needs shared memory beside the file; without it two processes cannot share
    if (rc == SQLITE_OK)
        return true;
    if (isDamage(rc)) {
        close();
        return false;
    }
    // Busy past the time-out, read-only, or out of space: keep reading, stop learning.
    writable_ = false;
    warn("learned answers: " + path_.string() + " cannot be written (" + sqlite3_errstr(rc)
         + "); nothing new is learned");
    warnedWrite_ = true;
    return false;
}

void LearnedStore::close()
{
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

void LearnedStore::moveAside(const std::string& reason)
{
    close();
    const std::string base = path_.string() + ".corrupt-" + timestamp();
    fs::path target = base;
    std::error_code ec;
    for (int n = 2; fs::exists(target, ec) && n < 100; ++n)
        target = base + "-" + std::to_string(n);
    fs::rename(path_, target, ec);
    if (ec) {
        warn("learned answers: " + path_.string() + " is damaged (" + reason + ") and cannot be moved aside: "
             + ec.message());
        return;
    }
    // A write-ahead log belongs to the file it was written for; a new database must not replay it.
    std::error_code ignored;
    fs::rename(path_.string() + "-wal", target.string() + "-wal", ignored);
    fs::remove(path_.string() + "-shm", ignored);
    fs::remove(path_.string() + "-journal", ignored);
    movedAside_ = target;
    warn("learned answers: " + path_.string() + " is damaged (" + reason + "); moved aside to "
         + target.string() + ", starting a new one");
}

void LearnedStore::readOnlyFallback(const std::string& reason)
{
    close();
    writable_ = false;
    warnedWrite_ = true;
    warn("learned answers: cannot write " + path_.string() + " (" + reason + "); nothing new is learned");
    std::error_code ec;
    if (!fs::is_regular_file(path_, ec))
        return;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        close();
    else
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
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
    if (sqlite3_prepare_v2(db_, kSelectAll, -1, &s.stmt, nullptr) != SQLITE_OK)
        return entries;
    while (sqlite3_step(s.stmt) == SQLITE_ROW) {
        LearnedEntry e;
        e.prefix = columnText(s.stmt, 0);
        auto location = cleanLearnedText(columnText(s.stmt, 1));
        const std::string card = columnText(s.stmt, 2);
        auto cardType = card.empty() ? std::optional<std::string>(std::string()) : cleanLearnedText(card);
        // A row edited by hand into something this program would not have written is passed over.
        if (!isPrefix(e.prefix) || !location || !cardType)
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
    if (!db_ || !writable_ || !isPrefix(entry.prefix))
        return false;
    Statement s;
    int rc = sqlite3_prepare_v2(db_, kUpsert, -1, &s.stmt, nullptr);
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

int LearnedStore::forget(const std::vector<std::string>& prefixes)
{
    std::lock_guard lock(mutex_);
    if (!db_ || !writable_)
        return 0;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 0;
    int removed = 0;
    Statement s;
    bool ok = sqlite3_prepare_v2(db_, kDelete, -1, &s.stmt, nullptr) == SQLITE_OK;
    for (const std::string& prefix : prefixes) {
        if (!ok)
            break;
        sqlite3_reset(s.stmt);
        sqlite3_bind_text(s.stmt, 1, prefix.data(), int(prefix.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(s.stmt) == SQLITE_DONE;
        removed += sqlite3_changes(db_);
    }
    if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return removed;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return 0;
}

} // namespace teloria::data
