#include "PostgresQuery.h"

#include "PostgresConnection.h"
#include "Storage.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <utility>

namespace cfb::service {

PostgresQuery::PostgresQuery(PostgresConnection& connection, const char* sql)
    : connection_(connection)
    , sql_(sql)
{
}

PostgresQuery::PostgresQuery(PostgresQuery&& other) noexcept
    : connection_(other.connection_)
    , sql_(other.sql_)
    , values_(std::move(other.values_))
    , formats_(std::move(other.formats_))
    , result_(std::exchange(other.result_, nullptr))
    , row_(other.row_)
{
}

PostgresQuery::~PostgresQuery()
{
    PQclear(result_);
}

QByteArray& PostgresQuery::slot(int index, int format)
{
    if (size_t(index) > values_.size()) {
        values_.resize(size_t(index));
        formats_.resize(size_t(index));
    }
    formats_[size_t(index) - 1] = format;
    return values_[size_t(index) - 1];
}

PostgresQuery& PostgresQuery::bind(int index, int64_t value)
{
    slot(index, 0) = QByteArray::number(qlonglong(value));
    return *this;
}

PostgresQuery& PostgresQuery::bind(int index, const QString& value)
{
    slot(index, 0) = value.toUtf8();
    return *this;
}

PostgresQuery& PostgresQuery::bindUtf8(int index, const QByteArray& value)
{
    slot(index, 0) = value;
    return *this;
}

PostgresQuery& PostgresQuery::bindBytes(int index, QByteArrayView value)
{
    slot(index, 1) = value.toByteArray();
    return *this;
}

void PostgresQuery::collectValues()
{
    pointers_.resize(values_.size());
    lengths_.resize(values_.size());
    for (size_t i = 0; i < values_.size(); ++i) {
        pointers_[i] = values_[i].constData(); // never null: an empty QByteArray gives ""
        lengths_[i] = int(values_[i].size());
    }
}

void PostgresQuery::execute()
{
    collectValues();
    result_ = connection_.execute(sql_, int(values_.size()), pointers_.data(), lengths_.data(), formats_.data());
}

std::vector<int64_t> PostgresQuery::runTogether(PostgresConnection& connection, std::span<PostgresQuery> queries)
{
    std::vector<PostgresConnection::Run> runs;
    runs.reserve(queries.size());
    for (PostgresQuery& query : queries) {
        query.collectValues();
        runs.push_back({query.sql_, int(query.values_.size()), query.pointers_.data(), query.lengths_.data(),
            query.formats_.data()});
    }
    const std::vector<pg_result*> results = connection.executeTogether(runs);
    std::vector<int64_t> changed;
    changed.reserve(queries.size());
    for (size_t i = 0; i < queries.size(); ++i) {
        PQclear(queries[i].result_);
        queries[i].result_ = results[i];
        changed.push_back(std::strtoll(PQcmdTuples(results[i]), nullptr, 10));
    }
    return changed;
}

bool PostgresQuery::next()
{
    if (!result_)
        execute();
    return ++row_ < PQntuples(result_);
}

int64_t PostgresQuery::run()
{
    execute();
    return std::strtoll(PQcmdTuples(result_), nullptr, 10);
}

bool PostgresQuery::isNull(int column) const
{
    return PQgetisnull(result_, row_, column);
}

int64_t PostgresQuery::integer(int column) const
{
    return std::strtoll(PQgetvalue(result_, row_, column), nullptr, 10);
}

QString PostgresQuery::text(int column) const
{
    return QString::fromUtf8(PQgetvalue(result_, row_, column), PQgetlength(result_, row_, column));
}

QByteArray PostgresQuery::bytes(int column) const
{
    if (PQgetisnull(result_, row_, column))
        return {};
    // bytea arrives in its text form, "\x" and two hex digits a byte.
    const char* value = PQgetvalue(result_, row_, column);
    const int length = PQgetlength(result_, row_, column);
    if (length < 2 || value[0] != '\\' || value[1] != 'x')
        throw StorageError("bytea column not in hex form");
    return QByteArray::fromHex(QByteArray::fromRawData(value + 2, length - 2));
}

} // namespace cfb::service
