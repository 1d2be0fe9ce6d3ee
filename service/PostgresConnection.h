#pragma once

#include <span>
#include <string>
#include <unordered_map>
#include <vector>

struct pg_conn;
struct pg_result;

namespace cfb::service {

// One libpq connection with its prepared statements, used by one thread at a time. Statements
// are prepared on first use per SQL text (the text's address is the key, so pass string literals
// or static strings). A connection found broken (the server restarted or went away) is reset
// before its next use; the statements are prepared again afterwards.
class PostgresConnection {
public:
    explicit PostgresConnection(const std::string& uri);
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    // Call before each use: reconnects when the connection broke since its last use (also while
    // it was idle) and makes the session's settings; throws StorageError when the server cannot
    // be reached.
    void ensureOpen();
    // Runs a prepared statement; the result is the caller's to PQclear. Throws StorageError when
    // the statement fails.
    pg_result* execute(const char* sql, int count, const char* const* values, const int* lengths, const int* formats);
    // A prepared statement's run, for executeTogether.
    struct Run {
        const char* sql;
        int count;
        const char* const* values;
        const int* lengths;
        const int* formats;
    };
    // Runs the statements in one round trip (libpq's pipeline mode) as one transaction; a result
    // per statement, each the caller's to PQclear. Throws StorageError when any of them failed,
    // and then none of them is made.
    std::vector<pg_result*> executeTogether(std::span<const Run> runs);
    void command(const char* sql); // one-off statements without parameters (schema, transactions)
    // From now on, and again after a reconnect, plans without sequential and bitmap scans: every
    // statement then reaches its rows through an index, in the order of its key, even in a table
    // small enough to read whole. Statements prepared after the call are planned so.
    void planThroughIndexes();
    void rollback(); // ends a transaction that failed; quiet, as the connection may be gone
    [[noreturn]] void fail(const char* what, pg_result* result = nullptr);

private:
    const char* prepared(const char* sql);

    pg_conn* connection_ = nullptr;
    bool configured_ = false; // the session settings are made
    bool indexesOnly_ = false; // planThroughIndexes was called
    bool mustReset_ = false; // left in a state no statement can follow (a pipeline cut short)
    std::unordered_map<const char*, std::string> statements_;
};

} // namespace cfb::service
