#include "SqliteQuery.h"

#include "SqliteConnection.h"

#include <sqlite3.h>

namespace cfb::service {

SqliteQuery::SqliteQuery(SqliteConnection& connection, const char* sql)
    : connection_(connection)
    , statement_(connection.statement(sql))
{
}

SqliteQuery::~SqliteQuery()
{
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

SqliteQuery& SqliteQuery::bind(int index, int64_t value)
{
    if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK)
        connection_.fail("bind");
    return *this;
}

SqliteQuery& SqliteQuery::bind(int index, const QString& value)
{
    if (sqlite3_bind_text16(statement_, index, value.utf16(), int(value.size() * 2), SQLITE_TRANSIENT) != SQLITE_OK)
        connection_.fail("bind");
    return *this;
}

SqliteQuery& SqliteQuery::bindBlob(int index, QByteArrayView value)
{
    // A zero-length blob still binds as a blob, not as NULL.
    if (sqlite3_bind_blob64(
            statement_, index, value.data() ? value.data() : "", sqlite3_uint64(value.size()), SQLITE_TRANSIENT)
        != SQLITE_OK)
        connection_.fail("bind");
    return *this;
}

bool SqliteQuery::next()
{
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    connection_.fail("step");
}

void SqliteQuery::run()
{
    while (next()) { }
}

int64_t SqliteQuery::integer(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

QString SqliteQuery::text(int column) const
{
    const void* data = sqlite3_column_text16(statement_, column);
    const int bytes = sqlite3_column_bytes16(statement_, column);
    return data ? QString(static_cast<const QChar*>(data), bytes / 2) : QString();
}

QByteArray SqliteQuery::blob(int column) const
{
    const void* data = sqlite3_column_blob(statement_, column);
    const int bytes = sqlite3_column_bytes(statement_, column);
    return data ? QByteArray(static_cast<const char*>(data), bytes) : QByteArray();
}

} // namespace cfb::service
