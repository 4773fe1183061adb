#include "data/learned_database.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <system_error>

namespace teloria::data {

namespace fs = std::filesystem;

namespace {

// The layout this program writes, stamped in the file's user_version. 0 is a
// file from before the stamp, with the same table.
constexpr int kSchemaVersion = 1;
constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS learned ("
    " prefix TEXT PRIMARY KEY NOT NULL,"
    " location TEXT NOT NULL,"
    " card_type TEXT NOT NULL,"
    " upstream TEXT NOT NULL,"
    " asked_at INTEGER NOT NULL"
    ") WITHOUT ROWID";
const std::vector<std::string> kColumns = {"prefix", "location", "card_type", "upstream", "asked_at"};

// Only these say that the file itself is not a usable database.
bool isDamage(int rc)
{
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

void closeDb(sqlite3*& db)
{
    if (db)
        sqlite3_close_v2(db);
    db = nullptr;
}

// Runs sql to its end; each row's first column goes to onRow.
template <typename OnRow>
int runSql(sqlite3* db, const char* sql, OnRow onRow)
{
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            onRow(text ? std::string(text) : std::string(), sqlite3_column_int64(stmt, 0));
        }
        if (rc == SQLITE_DONE)
            rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc;
}

int runSql(sqlite3* db, const char* sql)
{
    return runSql(db, sql, [](const std::string&, std::int64_t) {});
}

enum class Kind { Ours, Empty, Foreign, Damaged, Unreadable };

struct Inspection {
    Kind kind = Kind::Unreadable;
    std::string reason;
    int version = 0;
};

// What the file holds, read without changing it.
Inspection inspect(sqlite3* db)
{
    Inspection result;
    std::vector<std::string> tables;
    int rc = runSql(db, "SELECT name FROM sqlite_master WHERE type = 'table'",
                    [&tables](const std::string& name, std::int64_t) { tables.push_back(name); });
    std::int64_t version = 0;
    if (rc == SQLITE_OK)
        rc = runSql(db, "PRAGMA user_version", [&version](const std::string&, std::int64_t v) { version = v; });
    if (rc != SQLITE_OK) {
        result.kind = isDamage(rc) ? Kind::Damaged : Kind::Unreadable;
        result.reason = sqlite3_errstr(rc);
        return result;
    }
    result.version = static_cast<int>(version);
    if (version > kSchemaVersion) {
        result.kind = Kind::Foreign;
        result.reason = "its layout " + std::to_string(version) + " is newer than this program's "
                        + std::to_string(kSchemaVersion);
        return result;
    }
    if (tables.empty()) {
        result.kind = Kind::Empty;
        return result;
    }
    if (std::find(tables.begin(), tables.end(), "learned") == tables.end()) {
        std::string names;
        for (const std::string& t : tables)
            names += (names.empty() ? "" : ", ") + t.substr(0, 32);
        result.kind = Kind::Foreign;
        result.reason = "it holds no learned table (tables: " + names + ")";
        return result;
    }
    std::vector<std::string> columns;
    rc = runSql(db, "SELECT name FROM pragma_table_info('learned')",
                [&columns](const std::string& name, std::int64_t) { columns.push_back(name); });
    if (rc != SQLITE_OK) {
        result.kind = isDamage(rc) ? Kind::Damaged : Kind::Unreadable;
        result.reason = sqlite3_errstr(rc);
        return result;
    }
    if (columns != kColumns) {
        result.kind = Kind::Foreign;
        result.reason = "its learned table has other columns than prefix, location, card_type, upstream, asked_at";
        return result;
    }
    result.kind = Kind::Ours;
    return result;
}

bool parentWritable(const fs::path& path)
{
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return QFileInfo(QString::fromStdString(parent.string())).isWritable();
}

std::string timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
}

// Opens for reading only. A WAL file needs a shared-memory file beside it;
// where none can be made (a read-only or full folder) the file is read as
// immutable, as it is on disk.
sqlite3* openForReading(const fs::path& path, std::chrono::milliseconds busyTimeout, int* rcOut)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, static_cast<int>(busyTimeout.count()));
        rc = runSql(db, "SELECT count(*) FROM sqlite_master");
    }
    if (rc == SQLITE_OK || isDamage(rc)) {
        *rcOut = rc;
        return db;
    }
    closeDb(db);
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    const QByteArray uri =
        QUrl::fromLocalFile(QString::fromStdString(absolute.string())).toEncoded() + "?immutable=1";
    rc = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (rc == SQLITE_OK)
        rc = runSql(db, "SELECT count(*) FROM sqlite_master");
    *rcOut = rc;
    if (rc != SQLITE_OK && !isDamage(rc))
        closeDb(db);
    return db;
}

class Opener {
public:
    Opener(const fs::path& path, std::chrono::milliseconds busyTimeout) : path_(path), busyTimeout_(busyTimeout) {}

    OpenedLearnedDatabase readOnly()
    {
        std::error_code ec;
        if (!fs::exists(path_, ec))
            return std::move(result_);
        read(std::string());
        return std::move(result_);
    }

    OpenedLearnedDatabase readWrite()
    {
        std::error_code ec;
        if (path_.has_parent_path())
            fs::create_directories(path_.parent_path(), ec);
        if (ec) {
            read("its folder cannot be made: " + ec.message());
            return std::move(result_);
        }
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc == SQLITE_OK)
            sqlite3_busy_timeout(db, static_cast<int>(busyTimeout_.count()));
        Inspection found;
        if (rc == SQLITE_OK)
            found = inspect(db);
        else
            found = {isDamage(rc) ? Kind::Damaged : Kind::Unreadable, sqlite3_errstr(rc), 0};
        if (found.kind == Kind::Damaged) {
            closeDb(db);
            if (!moveAside(found.reason)) {
                read(std::string());
                return std::move(result_);
            }
            rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
            if (rc == SQLITE_OK)
                sqlite3_busy_timeout(db, static_cast<int>(busyTimeout_.count()));
            found = rc == SQLITE_OK ? inspect(db) : Inspection{Kind::Unreadable, sqlite3_errstr(rc), 0};
        }
        if (found.kind == Kind::Foreign) {
            closeDb(db);
            refuse(found.reason);
            return std::move(result_);
        }
        if (found.kind == Kind::Unreadable || sqlite3_db_readonly(db, "main") == 1) {
            closeDb(db);
            read(found.kind == Kind::Unreadable ? found.reason : "the file is read-only");
            return std::move(result_);
        }
        rc = setUp(db, found);
        if (rc == SQLITE_OK) {
            result_.db = db;
            result_.writable = true;
            return std::move(result_);
        }
        closeDb(db);
        if (isDamage(rc) && result_.movedAside.empty() && moveAside(sqlite3_errstr(rc)))
            return readWrite();
        // Busy past the time-out, read-only, out of space: keep reading, stop learning.
        read(sqlite3_errstr(rc));
        return std::move(result_);
    }

private:
    // WAL mode, the table, a quick integrity check, and the write lock taken once.
    int setUp(sqlite3* db, const Inspection& found)
    {
        std::string mode;
        std::string check;
        int rc = runSql(db, "PRAGMA journal_mode = WAL", [&mode](const std::string& m, std::int64_t) { mode = m; });
        if (rc == SQLITE_OK)
            rc = runSql(db, "PRAGMA synchronous = NORMAL");
        if (rc == SQLITE_OK && found.kind == Kind::Empty) {
            rc = runSql(db, kCreateTable);
            if (rc == SQLITE_OK)
                rc = runSql(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
        }
        if (rc == SQLITE_OK)
            rc = runSql(db, "PRAGMA quick_check", [&check](const std::string& c, std::int64_t) {
                if (check.empty())
                    check = c;
            });
        if (rc == SQLITE_OK && check != "ok")
            rc = SQLITE_CORRUPT;
        if (rc == SQLITE_OK && mode != "wal")
            rc = SQLITE_CANTOPEN; // WAL needs shared memory beside the file; without it two processes cannot share
        // Writing needs the write lock; a shared-memory file that is only readable refuses it.
        if (rc == SQLITE_OK)
            rc = runSql(db, "BEGIN IMMEDIATE");
        if (rc == SQLITE_OK)
            rc = runSql(db, "COMMIT");
        return rc;
    }

    // Learns nothing; serves what the file holds, if it is ours.
    void read(const std::string& whyNotWritten)
    {
        if (!whyNotWritten.empty())
            warn("learned answers: cannot write " + path_.string() + " (" + whyNotWritten + "); nothing new is learned");
        std::error_code ec;
        const fs::file_status status = fs::status(path_, ec);
        if (!fs::exists(status))
            return;
        if (!fs::is_regular_file(status)) {
            refuse("it is not a regular file");
            return;
        }
        int rc = SQLITE_OK;
        sqlite3* db = openForReading(path_, busyTimeout_, &rc);
        if (!db) {
            warn("learned answers: cannot read " + path_.string() + " (" + sqlite3_errstr(rc) + ")");
            return;
        }
        const Inspection found = inspect(db);
        if (found.kind == Kind::Ours) {
            result_.db = db;
            return;
        }
        closeDb(db);
        if (found.kind == Kind::Foreign)
            refuse(found.reason);
        else if (found.kind != Kind::Empty)
            warn("learned answers: cannot read " + path_.string() + " (" + found.reason + ")");
    }

    void refuse(const std::string& reason)
    {
        result_.refusal = reason;
        warn("learned answers: " + path_.string() + " is not a learned-answer database this program can use ("
             + reason + "); it is left as it is and nothing is learned");
    }

    bool moveAside(const std::string& reason)
    {
        if (!parentWritable(path_)) {
            warn("learned answers: " + path_.string() + " is damaged (" + reason + ") and its folder cannot be written");
            return false;
        }
        const std::string base = path_.string() + ".corrupt-" + timestamp();
        fs::path target = base;
        std::error_code ec;
        for (int n = 2; fs::exists(target, ec) && n < 100; ++n)
            target = base + "-" + std::to_string(n);
        fs::rename(path_, target, ec);
        if (ec) {
            warn("learned answers: " + path_.string() + " is damaged (" + reason + ") and cannot be moved aside: "
                 + ec.message());
            return false;
        }
        // A write-ahead log belongs to the file it was written for; a new database must not replay it.
        std::error_code ignored;
        fs::rename(path_.string() + "-wal", target.string() + "-wal", ignored);
        fs::remove(path_.string() + "-shm", ignored);
        fs::remove(path_.string() + "-journal", ignored);
        result_.movedAside = target;
        warn("learned answers: " + path_.string() + " is damaged (" + reason + "); moved aside to " + target.string()
             + ", starting a new one");
        return true;
    }

    void warn(std::string line) { result_.warnings.push_back(std::move(line)); }

    const fs::path& path_;
    const std::chrono::milliseconds busyTimeout_;
    OpenedLearnedDatabase result_;
};

} // namespace

OpenedLearnedDatabase openLearnedDatabase(const fs::path& path, LearnedAccess access,
                                          std::chrono::milliseconds busyTimeout)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    Opener opener(path, busyTimeout);
    if (fs::exists(status) && !fs::is_regular_file(status))
        return opener.readOnly(); // refused with its reason, never renamed
    return access == LearnedAccess::ReadOnly ? opener.readOnly() : opener.readWrite();
}

} // namespace teloria::data
