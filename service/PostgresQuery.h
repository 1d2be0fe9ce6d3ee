#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <span>
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
    PostgresQuery(PostgresQuery&& other) noexcept;
    PostgresQuery(const PostgresQuery&) = delete;
    PostgresQuery& operator=(const PostgresQuery&) = delete;

    // Runs the queries, all bound and all on one connection, in one round trip as one
    // transaction; the number of rows each changed. Throws StorageError when any of them failed,
    // and then none of them is made.
    static std::vector<int64_t> runTogether(PostgresConnection& connection, std::span<PostgresQuery> queries);

    PostgresQuery& bind(int index, int64_t value);
    PostgresQuery& bind(int index, const QString& value);
    PostgresQuery& bindUtf8(int index, const QByteArray& value); // text already in UTF-8, e.g. an array literal
    PostgresQuery& bindBytes(int index, QByteArrayView value);

    bool next(); // runs the statement on the first call; true while a row is there
    int64_t run(); // runs a statement and returns the number of rows it changed

    bool isNull(int column) const;
    int64_t integer(int column) const;
    QString text(int column) const;
    QByteArray bytes(int column) const; // a bytea column; empty when NULL

private:
    void execute();
    void collectValues(); // the pointers and lengths libpq takes, into pointers_ and lengths_
    QByteArray& slot(int index, int format);

    PostgresConnection& connection_;
    const char* sql_;
    std::vector<QByteArray> values_;
    std::vector<int> formats_;
    std::vector<const char*> pointers_;
    std::vector<int> lengths_;
    pg_result* result_ = nullptr;
    int row_ = -1;
};

} // namespace cfb::service
