#include "PostgresConnection.h"

#include "Storage.h"

#include <libpq-fe.h>
#include <poll.h>

namespace cfb::service {
namespace {

const char* const IndexesOnly = "SET enable_seqscan = off; SET enable_bitmapscan = off";

} // namespace

PostgresConnection::PostgresConnection(const std::string& uri)
{
    // Later keywords override earlier ones: the URI may set its own connect_timeout, not the
    // encoding, which is what QString::toUtf8 sends.
    const char* const keywords[]
        = {"connect_timeout", "dbname", "client_encoding", "fallback_application_name", nullptr};
    const char* const values[] = {"5", uri.c_str(), "UTF8", "confabo-service", nullptr};
    connection_ = PQconnectdbParams(keywords, values, 1);
    if (!connection_)
        throw StorageError("out of memory for a database connection");
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string reason = PQerrorMessage(connection_);
        PQfinish(connection_);
        connection_ = nullptr;
        throw StorageError("cannot connect to the database: " + reason);
    }
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr); // notices are no failures
}

PostgresConnection::~PostgresConnection()
{
    PQfinish(connection_);
}

void PostgresConnection::ensureOpen()
{
    // A server that ended this session while it was idle (a restart) left its last words and the
    // end of the stream on the socket: read them, so the session is seen broken before a request
    // is sent on it and fails.
    for (int i = 0; i < 4 && PQstatus(connection_) == CONNECTION_OK; ++i) {
        pollfd socket{PQsocket(connection_), POLLIN, 0};
        if (poll(&socket, 1, 0) <= 0 || !PQconsumeInput(connection_))
            break;
    }
    if (mustReset_ || PQstatus(connection_) != CONNECTION_OK) {
        statements_.clear(); // a new session knows none of them
        configured_ = false;
        mustReset_ = false;
        PQreset(connection_);
        if (PQstatus(connection_) != CONNECTION_OK)
            fail("cannot reconnect to the database");
    }
    if (!configured_) {
        command("SET bytea_output = hex"); // what PostgresQuery decodes, whatever the server's default
        if (indexesOnly_)
            command(IndexesOnly);
        configured_ = true;
    }
}

void PostgresConnection::planThroughIndexes()
{
    if (indexesOnly_)
        return;
    command(IndexesOnly);
    indexesOnly_ = true;
}

void PostgresConnection::rollback()
{
    PQclear(PQexec(connection_, "ROLLBACK"));
}

void PostgresConnection::fail(const char* what, pg_result* result)
{
    std::string reason = std::string(what) + ": ";
    reason += result ? PQresultErrorMessage(result) : PQerrorMessage(connection_);
    while (!reason.empty() && reason.back() == '\n')
        reason.pop_back();
    PQclear(result);
    throw StorageError(reason);
}

const char* PostgresConnection::prepared(const char* sql)
{
    const auto found = statements_.find(sql);
    if (found != statements_.end())
        return found->second.c_str();
    std::string name = "s" + std::to_string(statements_.size());
    PGresult* result = PQprepare(connection_, name.c_str(), sql, 0, nullptr);
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
        fail("cannot prepare a statement", result);
    PQclear(result);
    return statements_.emplace(sql, std::move(name)).first->second.c_str();
}

pg_result* PostgresConnection::execute(
    const char* sql, int count, const char* const* values, const int* lengths, const int* formats)
{
    PGresult* result = PQexecPrepared(connection_, prepared(sql), count, values, lengths, formats, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        fail("statement failed", result);
    return result;
}

std::vector<pg_result*> PostgresConnection::executeTogether(std::span<const Run> runs)
{
    // Preparing waits for the server's answer, which pipeline mode does not allow: prepare first.
    std::vector<const char*> names;
    names.reserve(runs.size());
    for (const Run& run : runs)
        names.push_back(prepared(run.sql));
    if (!PQenterPipelineMode(connection_))
        fail("cannot enter pipeline mode");

    std::string error;
    size_t sent = 0;
    for (; sent < runs.size(); ++sent) {
        const Run& run = runs[sent];
        if (!PQsendQueryPrepared(connection_, names[sent], run.count, run.values, run.lengths, run.formats, 0))
            break;
    }
    if (sent < runs.size() || !PQpipelineSync(connection_))
        error = PQerrorMessage(connection_);

    // Each statement's result is followed by a null; the sync ends the pipeline. A statement that
    // failed aborts the transaction, and those after it come back aborted.
    std::vector<pg_result*> results;
    results.reserve(runs.size());
    bool synced = !error.empty(); // nothing to read when the pipeline was not sent whole
    for (size_t nulls = 0; !synced && nulls <= runs.size();) {
        PGresult* result = PQgetResult(connection_);
        if (!result) {
            ++nulls;
            continue;
        }
        switch (PQresultStatus(result)) {
        case PGRES_PIPELINE_SYNC:
            synced = true;
            PQclear(result);
            break;
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
            results.push_back(result);
            break;
        default:
            if (error.empty())
                error = PQresultErrorMessage(result);
            PQclear(result);
        }
    }
    if (error.empty() && (!synced || results.size() != runs.size()))
        error = "the pipeline ended early: " + std::string(PQerrorMessage(connection_));
    if (!PQexitPipelineMode(connection_))
        mustReset_ = true; // results still owed: the session cannot take another statement
    if (error.empty())
        return results;
    for (PGresult* result : results)
        PQclear(result);
    while (!error.empty() && error.back() == '\n')
        error.pop_back();
    throw StorageError("statements failed together: " + error);
}

void PostgresConnection::command(const char* sql)
{
    PGresult* result = PQexec(connection_, sql);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        fail("statement failed", result);
    PQclear(result);
}

} // namespace cfb::service
