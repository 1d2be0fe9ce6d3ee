#pragma once

#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace cfb::service {

// One SQLite connection with its prepared statements. Used by one thread at a time. Statements
// are prepared once per SQL text (the text's address is the key, so pass string literals) and
// reused for the life of the connection.
class SqliteConnection {
public:
    enum class Role { Writer, Reader, Checkpointer };

    SqliteConnection(const std::string& path, Role role);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    sqlite3* handle() const { return db_; }
    sqlite3_stmt* statement(const char* sql);
    void execute(const char* sql); // one-off statements (schema, pragmas, transactions)
    int changes() const;
    [[noreturn]] void fail(const char* what) const;

private:
    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

} // namespace cfb::service
