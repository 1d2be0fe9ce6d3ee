#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

struct sqlite3_stmt;

namespace cfb::service {

class SqliteConnection;

// A cached statement borrowed for one use: bind, step through the rows, read columns. The
// statement is reset and its bindings cleared when the query ends.
class SqliteQuery {
public:
    SqliteQuery(SqliteConnection& connection, const char* sql);
    ~SqliteQuery();
    SqliteQuery(const SqliteQuery&) = delete;
    SqliteQuery& operator=(const SqliteQuery&) = delete;

    SqliteQuery& bind(int index, int64_t value);
    SqliteQuery& bind(int index, const QString& value);
    SqliteQuery& bindBlob(int index, QByteArrayView value);

    bool next(); // true while a row is there
    void run(); // runs a statement that returns no rows

    int64_t integer(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;

private:
    SqliteConnection& connection_;
    sqlite3_stmt* statement_;
};

} // namespace cfb::service
