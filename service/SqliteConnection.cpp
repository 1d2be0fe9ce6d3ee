#include "SqliteConnection.h"

#include "Storage.h"

#include <sqlite3.h>

namespace cfb::service {

SqliteConnection::SqliteConnection(const std::string& path, Role role)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (role == Role::Writer ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StorageError("cannot open " + path + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    // Writes are serialised by the service, so waiting on a lock only happens when another process
    // holds the file; give that a bounded wait rather than failing at once.
    sqlite3_busy_timeout(db_, 5000);
    execute("PRAGMA foreign_keys = ON");
    if (role == Role::Writer) {
        execute("PRAGMA journal_mode = WAL");
        // In WAL mode NORMAL keeps every commit across a crash of the service; only a power cut
        // may lose the last commits.
        execute("PRAGMA synchronous = NORMAL");
    } else if (role == Role::Checkpointer) {
        // The sync level of the connection that checkpoints decides whether the log and the
        // database file are flushed around the copy.
        execute("PRAGMA synchronous = NORMAL");
    } else {
        execute("PRAGMA query_only = ON");
    }
}

SqliteConnection::~SqliteConnection()
{
    for (auto& [sql, statement] : statements_)
        sqlite3_finalize(statement);
    sqlite3_close(db_);
}

sqlite3_stmt* SqliteConnection::statement(const char* sql)
{
    auto it = statements_.find(sql);
    if (it != statements_.end())
        return it->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
        fail("prepare");
    statements_.emplace(sql, statement);
    return statement;
}

void SqliteConnection::execute(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw StorageError(std::string("sqlite: ") + message);
    }
}

int SqliteConnection::changes() const
{
    return sqlite3_changes(db_);
}

void SqliteConnection::fail(const char* what) const
{
    throw StorageError(std::string("sqlite ") + what + ": " + sqlite3_errmsg(db_));
}

} // namespace cfb::service
