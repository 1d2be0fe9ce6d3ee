#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

struct pg_result;

namespace cfb::service {

class PostgresConnection;

// One run of a prepared statement: bind the parameters ($1 is index 1), then step through the
// rows and read their columns. Text travels as UTF-8, bytea parameters go in binary.
class PostgresQuery {
public:
    PostgresQuery(PostgresConnection& connection, const char* sql);
    ~PostgresQuery();
    PostgresQuery(const PostgresQuery&) = delete;
    PostgresQuery& operator=(const PostgresQuery&) = delete;

    PostgresQuery& bind(int index, int64_t value);
    PostgresQuery& bind(int index, const QString& value);
    PostgresQuery& bindBytes(int index, QByteArrayView value);

    bool next(); // runs the statement on the first call; true while a row is there
    int64_t run(); // runs a statement and returns the number of rows it changed

    bool isNull(int column) const;
    int64_t integer(int column) const;
    QString text(int column) const;
    QByteArray bytes(int column) const; // a bytea column; empty when NULL

private:
    void execute();
    QByteArray& slot(int index, int format);

    PostgresConnection& connection_;
    const char* sql_;
    std::vector<QByteArray> values_;
    std::vector<int> formats_;
    pg_result* result_ = nullptr;
    int row_ = -1;
};

} // namespace cfb::service
