#include "PostgresQuery.h"

#include "PostgresConnection.h"
#include "Storage.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace cfb::service {

PostgresQuery::PostgresQuery(PostgresConnection& connection, const char* sql)
    : connection_(connection)
    , sql_(sql)
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

PostgresQuery& PostgresQuery::bindBytes(int index, QByteArrayView value)
{
    slot(index, 1) = value.toByteArray();
    return *this;
}

void PostgresQuery::execute()
{
    std::vector<const char*> values(values_.size());
    std::vector<int> lengths(values_.size());
    for (size_t i = 0; i < values_.size(); ++i) {
        values[i] = values_[i].constData(); // never null: an empty QByteArray gives ""
        lengths[i] = int(values_[i].size());
    }
    result_ = connection_.execute(sql_, int(values.size()), values.data(), lengths.data(), formats_.data());
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
