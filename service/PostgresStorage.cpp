#include "PostgresStorage.h"

#include "StoredValues.h"

#include "PostgresConnection.h"
#include "PostgresQuery.h"

#include <array>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace cfb::service {

using StoredValues::int16Of;
using StoredValues::keyOf;

namespace {

// Schema steps in order; confabo_schema holds how many are applied.
const char* const Migrations[] = {
    R"sql(
    CREATE TABLE users (
        id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,  -- ids are never reused
        handle text NOT NULL,
        handle_key text NOT NULL UNIQUE,                      -- case-folded handle
        password_hash text NOT NULL CHECK (password_hash LIKE '$argon2id$%'),
        email text NOT NULL DEFAULT '',
        email_key text NOT NULL DEFAULT '',                   -- case-folded e-mail address
        mouth_top smallint NOT NULL DEFAULT 0,
        mouth_left smallint NOT NULL DEFAULT 0,
        status integer NOT NULL DEFAULT 0,
        ip text NOT NULL DEFAULT '',
        bound_address text NOT NULL DEFAULT '',               -- address allowed to change this account
        sign_ins bigint NOT NULL DEFAULT 0
    );
    CREATE INDEX users_email_key ON users (email_key, id);
    CREATE INDEX users_available ON users (id) WHERE status = 1;
    CREATE TABLE avatars (
        user_id integer PRIMARY KEY REFERENCES users (id) ON DELETE CASCADE,
        picture bytea NOT NULL
    );
    CREATE TABLE buddies (
        id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,  -- a stale id never names a newer relation
        owner_id integer NOT NULL REFERENCES users (id) ON DELETE CASCADE,
        buddy_user_id integer NOT NULL REFERENCES users (id) ON DELETE CASCADE,
        UNIQUE (owner_id, buddy_user_id)
    );
    CREATE INDEX buddies_buddy_user_id ON buddies (buddy_user_id);
    CREATE TABLE blocks (
        owner_id integer NOT NULL REFERENCES users (id) ON DELETE CASCADE,
        blocked_user_id integer NOT NULL REFERENCES users (id) ON DELETE CASCADE,
        PRIMARY KEY (owner_id, blocked_user_id)
    );
    CREATE INDEX blocks_blocked_user_id ON blocks (blocked_user_id);
    )sql",
    // The machine's own address, handed to buddies signed in from the same public address.
    "ALTER TABLE users ADD COLUMN local_ip text NOT NULL DEFAULT ''",
    // The X25519 key buddies encrypt to, as the last sign-in gave it; empty when it gave none.
    "ALTER TABLE users ADD COLUMN public_key bytea NOT NULL DEFAULT '' CHECK (octet_length(public_key) IN (0, 32))",
    // Lines waiting for a recipient, sealed by the sender's client: the service cannot read them.
    R"sql(
    CREATE TABLE mail (
        id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,  -- what the recipient acknowledges
        recipient_id integer NOT NULL REFERENCES users (id) ON DELETE CASCADE,
        sender_id integer NOT NULL REFERENCES users (id) ON DELETE CASCADE,
        mail_id bytea NOT NULL,                              -- the sender's id for the line
        sealed bytea NOT NULL,
        size integer NOT NULL,
        stored_at bigint NOT NULL,                           -- seconds since 1970
        UNIQUE (recipient_id, sender_id, mail_id)
    );
    CREATE INDEX mail_stored_at ON mail (stored_at);
    CREATE INDEX mail_sender_id ON mail (sender_id);
    )sql",
    // Where a signed-in user's TURN relay takes datagrams for them, and when they last said so.
    R"sql(
    CREATE TABLE relays (
        user_id integer PRIMARY KEY REFERENCES users (id) ON DELETE CASCADE,
        address text NOT NULL,
        said_at bigint NOT NULL                -- seconds since 1970
    );
    CREATE INDEX relays_said_at ON relays (said_at);
    )sql",
    // The IPv6 address of the last sign-in, handed to buddies beside ip; empty without one.
    "ALTER TABLE users ADD COLUMN ip6 text NOT NULL DEFAULT ''",
};
static_assert(std::size(Migrations) == PostgresStorage::SchemaVersion);

// Any number from this program's own range; service processes starting together migrate one
// after the other under this advisory lock.
const char* const MigrationLock = "SELECT pg_advisory_xact_lock(4372016581)";

// Lines for one recipient are stored one after the other (in every service process), so two
// senders at once cannot both squeeze under the recipient's limits. A lock of its own rather
// than the recipient's row: two users writing to each other would otherwise each hold their own
// row (locked as the caller's) and wait for the other's.
const char* const MailboxLock = "SELECT pg_advisory_xact_lock(437201, $1)";

// The rule every change made on a user's behalf follows: the account is signed in from the
// address the request comes from, and an account never signed in (empty address) matches no one.
// Every statement with the clause binds the request's address as $2, and the user id as $1.
const std::string BoundAddress = "bound_address = $2 AND bound_address <> ''";
const std::string BoundCaller = "id = $1 AND " + BoundAddress;

// A PostgreSQL array literal, built an element at a time.
class ArrayLiteral {
public:
    void add(int64_t number) { separate().append(QByteArray::number(qlonglong(number))); }
    void add(const QString& text)
    {
        separate().append('"');
        for (const char c : text.toUtf8()) {
            if (c == '"' || c == '\\')
                literal_.append('\\');
            literal_.append(c);
        }
        literal_.append('"');
    }
    QByteArray finish() { return literal_ + '}'; }

private:
    QByteArray& separate() { return literal_.append(literal_.size() > 1 ? "," : ""); }
    QByteArray literal_ = "{";
};

std::optional<int32_t> userIdByHandle(PostgresConnection& connection, const QString& handle)
{
    PostgresQuery query(connection, "SELECT id FROM users WHERE handle_key = $1");
    query.bind(1, keyOf(handle));
    if (!query.next())
        return std::nullopt;
    return int32_t(query.integer(0));
}

} // namespace

// A transaction on this thread's connection; rolls back unless committed.
class PostgresStorage::Transaction {
public:
    explicit Transaction(PostgresConnection& connection)
        : connection_(connection)
    {
        connection_.command("BEGIN");
    }
    ~Transaction()
    {
        if (!done_)
            connection_.rollback();
    }
    void commit()
    {
        done_ = true;
        connection_.command("COMMIT");
    }

private:
    PostgresConnection& connection_;
    bool done_ = false;
};

bool PostgresStorage::handles(const std::string& database)
{
    return database.starts_with("postgresql://") || database.starts_with("postgres://");
}

PostgresStorage::PostgresStorage(const std::string& uri)
    : uri_(uri)
{
    migrate();
}

PostgresStorage::~PostgresStorage() = default;

PostgresConnection& PostgresStorage::connection()
{
    PostgresConnection* own = nullptr;
    {
        std::lock_guard lock(connectionsMutex_);
        const auto found = connections_.find(std::this_thread::get_id());
        if (found != connections_.end())
            own = found->second.get();
    }
    if (!own) {
        auto made = std::make_unique<PostgresConnection>(uri_); // throws when the server is away
        own = made.get();
        std::lock_guard lock(connectionsMutex_);
        connections_[std::this_thread::get_id()] = std::move(made);
    }
    own->ensureOpen();
    return *own;
}

void PostgresStorage::migrate()
{
    PostgresConnection& db = connection();
    Transaction transaction(db);
    db.command(MigrationLock);
    db.command("CREATE TABLE IF NOT EXISTS confabo_schema (version integer NOT NULL)");
    int64_t version = 0;
    {
        PostgresQuery query(db, "SELECT max(version) FROM confabo_schema");
        if (query.next())
            version = query.integer(0); // NULL reads as 0
    }
    if (version > SchemaVersion)
        throw StorageError("the database was made by a newer service (schema " + std::to_string(version) + ")");
    for (int64_t step = version; step < SchemaVersion; ++step)
        db.command(Migrations[step]);
    db.command("DELETE FROM confabo_schema");
    PostgresQuery(db, "INSERT INTO confabo_schema (version) VALUES ($1)").bind(1, SchemaVersion).run();
    transaction.commit();
}

std::optional<UserRecord> PostgresStorage::userByHandle(const QString& handle)
{
    PostgresQuery query(connection(),
        "SELECT id, handle, email, password_hash, status, ip, mouth_top, mouth_left FROM users WHERE handle_key = $1");
    query.bind(1, keyOf(handle));
    if (!query.next())
        return std::nullopt;
    UserRecord user;
    user.id = int32_t(query.integer(0));
    user.handle = query.text(1);
    user.email = query.text(2);
    user.passwordHash = query.text(3).toUtf8();
    user.status = int32_t(query.integer(4));
    user.ip = query.text(5);
    user.mouthTop = int16Of(query.integer(6));
    user.mouthLeft = int16Of(query.integer(7));
    return user;
}

std::optional<UserPresence> PostgresStorage::presence(int32_t userId)
{
    PostgresQuery query(connection(),
        "SELECT status, ip, mouth_top, mouth_left, bound_address, local_ip, public_key, ip6 FROM users WHERE id = $1");
    query.bind(1, userId);
    if (!query.next())
        return std::nullopt;
    return UserPresence{int32_t(query.integer(0)), query.text(1), int16Of(query.integer(2)), int16Of(query.integer(3)),
        query.text(4), query.text(5), query.bytes(6), query.text(7)};
}

std::vector<std::optional<UserPresence>> PostgresStorage::presences(std::span<const int32_t> userIds)
{
    ArrayLiteral ids;
    for (const int32_t id : userIds)
        ids.add(id);
    PostgresQuery query(connection(),
        "SELECT id, status, ip, mouth_top, mouth_left, bound_address, local_ip, public_key, ip6 FROM users "
        "WHERE id = ANY ($1::integer[])");
    query.bindUtf8(1, ids.finish());
    std::map<int32_t, UserPresence> found;
    while (query.next()) {
        found.emplace(int32_t(query.integer(0)),
            UserPresence{int32_t(query.integer(1)), query.text(2), int16Of(query.integer(3)), int16Of(query.integer(4)),
                query.text(5), query.text(6), query.bytes(7), query.text(8)});
    }
    std::vector<std::optional<UserPresence>> presences;
    presences.reserve(userIds.size());
    for (const int32_t id : userIds) {
        const auto it = found.find(id);
        presences.push_back(it == found.end() ? std::nullopt : std::optional<UserPresence>(it->second));
    }
    return presences;
}

std::optional<QByteArray> PostgresStorage::avatar(int32_t userId)
{
    PostgresQuery query(
        connection(), "SELECT a.picture FROM users u LEFT JOIN avatars a ON a.user_id = u.id WHERE u.id = $1");
    query.bind(1, userId);
    if (!query.next())
        return std::nullopt;
    return query.bytes(0);
}

// The list readers below are one statement each, so they read one snapshot: the user's own row
// comes first in the join, no row at all means an unknown user, a row of NULLs an empty list.

std::optional<std::vector<BuddyRecord>> PostgresStorage::buddies(int32_t userId)
{
    PostgresQuery query(connection(),
        "SELECT b.id, u.id, u.handle, u.email FROM users o LEFT JOIN buddies b ON b.owner_id = o.id "
        "LEFT JOIN users u ON u.id = b.buddy_user_id WHERE o.id = $1 ORDER BY b.id");
    query.bind(1, userId);
    if (!query.next())
        return std::nullopt;
    std::vector<BuddyRecord> list;
    do {
        if (!query.isNull(0))
            list.push_back({int32_t(query.integer(0)), int32_t(query.integer(1)), query.text(2), query.text(3)});
    } while (query.next());
    return list;
}

std::optional<std::vector<QString>> PostgresStorage::blockedHandles(int32_t userId)
{
    PostgresQuery query(connection(),
        "SELECT u.handle FROM users o LEFT JOIN blocks b ON b.owner_id = o.id "
        "LEFT JOIN users u ON u.id = b.blocked_user_id WHERE o.id = $1 ORDER BY u.id");
    query.bind(1, userId);
    if (!query.next())
        return std::nullopt;
    std::vector<QString> list;
    do {
        if (!query.isNull(0))
            list.push_back(query.text(0));
    } while (query.next());
    return list;
}

std::optional<std::vector<UserSummary>> PostgresStorage::availableUsers(int32_t askingUserId, int limit)
{
    PostgresQuery query(connection(),
        "SELECT a.id, a.handle, a.email FROM users o LEFT JOIN LATERAL (SELECT id, handle, email FROM users "
        "WHERE status = 1 AND id <> o.id ORDER BY id LIMIT $2) a ON true WHERE o.id = $1 ORDER BY a.id");
    query.bind(1, askingUserId).bind(2, limit);
    if (!query.next())
        return std::nullopt;
    std::vector<UserSummary> list;
    do {
        if (!query.isNull(0))
            list.push_back({int32_t(query.integer(0)), query.text(1), query.text(2)});
    } while (query.next());
    return list;
}

std::optional<int32_t> PostgresStorage::insertUser(const NewUser& user)
{
    // One statement: of two registrations of the same handle, in this process or another, the
    // unique key lets exactly one in. The identity never hands out a number twice.
    PostgresQuery query(connection(),
        "INSERT INTO users (handle, handle_key, password_hash, email, email_key, mouth_top, mouth_left, "
        "bound_address) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (handle_key) DO NOTHING RETURNING id");
    query.bind(1, user.handle).bind(2, keyOf(user.handle)).bind(3, QString::fromUtf8(user.passwordHash));
    query.bind(4, user.email).bind(5, keyOf(user.email)).bind(6, user.mouthTop).bind(7, user.mouthLeft);
    query.bind(8, user.address);
    if (!query.next())
        return std::nullopt;
    return int32_t(query.integer(0));
}

std::optional<int64_t> PostgresStorage::signIn(int32_t userId, const QString& ip, const QString& address,
    const QString& localIp, const QByteArray& publicKey, const QString& ip6)
{
    PostgresQuery query(connection(),
        "UPDATE users SET status = 1, ip = $2, bound_address = $3, local_ip = $4, public_key = $5::bytea, ip6 = $6, "
        "sign_ins = sign_ins + 1 WHERE id = $1 RETURNING sign_ins - 1");
    query.bind(1, userId).bind(2, ip).bind(3, address).bind(4, localIp).bindBytes(5, publicKey).bind(6, ip6);
    if (!query.next())
        return std::nullopt;
    return query.integer(0);
}

namespace {

// Runs a change guarded by the caller's clause ($1 id, $2 address), the rest bound by the caller
// of this; true when it changed exactly one row. The check and the change are one statement:
// PostgreSQL re-reads the row under its lock, so a sign-in from elsewhere in between wins.
template <typename Bind>
bool changeAsCaller(PostgresConnection& connection, const std::string& sql, const Caller& caller, Bind bindValues)
{
    PostgresQuery query(connection, sql.c_str());
    query.bind(1, caller.userId).bind(2, caller.address);
    bindValues(query);
    return query.run() == 1;
}

} // namespace

PostgresQuery PostgresStorage::changeQuery(PostgresConnection& connection, const OwnChange& change)
{
    using Field = OwnChange::Field;
    // In the order of OwnChange::Field.
    static const std::string sql[] = {"UPDATE users SET status = $3 WHERE " + BoundCaller,
        "UPDATE users SET password_hash = $3 WHERE " + BoundCaller,
        "UPDATE users SET email = $3, email_key = $4 WHERE " + BoundCaller,
        "UPDATE users SET mouth_top = $3, mouth_left = $4 WHERE " + BoundCaller};
    PostgresQuery query(connection, sql[size_t(change.field)].c_str());
    query.bind(1, change.caller.userId).bind(2, change.caller.address);
    switch (change.field) {
    case Field::Status:
        query.bind(3, change.status);
        break;
    case Field::Password:
        query.bind(3, QString::fromUtf8(change.passwordHash));
        break;
    case Field::Email:
        query.bind(3, change.email).bind(4, keyOf(change.email));
        break;
    case Field::Mouth:
        query.bind(3, change.mouthTop).bind(4, change.mouthLeft);
        break;
    }
    return query;
}

namespace {

// One kind of change for many users in one statement: $1 their ids in ascending order, $2 the
// addresses the changes come from, then arrays of the new values in the same order; returns the
// ids of the users changed. The rows are found through the primary key, whose scan takes the ids
// in ascending order and locks each row as it reaches it, so statements running at once (in other
// services too) never wait for each other's rows in a circle. (The connection must plan through
// indexes: a sequential or bitmap scan would take the rows in the table's order.) The caller's
// rule is BoundCaller's.
std::string manyChanges(std::initializer_list<std::pair<const char*, const char*>> columns)
{
    // The element of array parameter `n` at the position of the row's id in $1.
    const auto ofRow = [](int n, const char* type) {
        return "($" + std::to_string(n) + "::" + type + "[])[array_position($1::integer[], id)]";
    };
    std::string sql = "UPDATE users SET ";
    const char* separator = "";
    int parameter = 3;
    for (const auto& [column, type] : columns) {
        sql += separator + std::string(column) + " = " + ofRow(parameter++, type);
        separator = ", ";
    }
    return sql + " WHERE id = ANY ($1::integer[]) AND bound_address = " + ofRow(2, "text")
        + " AND bound_address <> '' RETURNING id";
}

const char* manyChangesSql(OwnChange::Field field)
{
    static const std::string status = manyChanges({{"status", "integer"}});
    static const std::string password = manyChanges({{"password_hash", "text"}});
    static const std::string email = manyChanges({{"email", "text"}, {"email_key", "text"}});
    static const std::string mouth = manyChanges({{"mouth_top", "smallint"}, {"mouth_left", "smallint"}});
    switch (field) {
    case OwnChange::Field::Status:
        return status.c_str();
    case OwnChange::Field::Password:
        return password.c_str();
    case OwnChange::Field::Email:
        return email.c_str();
    case OwnChange::Field::Mouth:
        return mouth.c_str();
    }
    throw StorageError("unknown kind of change");
}

constexpr size_t FieldCount = 4;

} // namespace

std::vector<bool> PostgresStorage::applyChanges(std::span<const OwnChange> changes)
{
    PostgresConnection& db = connection();
    std::vector<bool> applied;
    applied.reserve(changes.size());
    if (changes.size() == 1) {
        applied.push_back(changeQuery(db, changes.front()).run() == 1);
        return applied;
    }

    // One statement per kind of change, all in one round trip and one transaction: a statement
    // for many rows costs the server far less than a statement for each. A user's later change of
    // a kind replaces their earlier one of that kind, which then fares as the later one does (as
    // if made and overwritten at once). Changes of one user from different addresses (at most one
    // of them signed in) go a statement each instead.
    std::array<std::map<int32_t, size_t>, FieldCount> lastOfUser; // per kind: user id -> last change
    for (size_t i = 0; i < changes.size(); ++i) {
        const OwnChange& change = changes[i];
        const auto [slot, first] = lastOfUser[size_t(change.field)].try_emplace(change.caller.userId, i);
        if (!first && changes[slot->second].caller.address != change.caller.address)
            return applyOneByOne(db, changes);
        slot->second = i;
    }
    // Only the connections that make batches plan so: on a small table, lookups by key are
    // cheaper when the table is read whole.
    db.planThroughIndexes();
    std::vector<PostgresQuery> queries;
    std::vector<OwnChange::Field> fields;
    for (size_t kind = 0; kind < FieldCount; ++kind) {
        if (lastOfUser[kind].empty())
            continue;
        const auto field = OwnChange::Field(kind);
        ArrayLiteral ids, addresses, first, second;
        for (const auto& [userId, index] : lastOfUser[kind]) { // in id order: rows are locked in that order
            const OwnChange& change = changes[index];
            ids.add(userId);
            addresses.add(change.caller.address);
            switch (field) {
            case OwnChange::Field::Status:
                first.add(change.status);
                break;
            case OwnChange::Field::Password:
                first.add(QString::fromUtf8(change.passwordHash));
                break;
            case OwnChange::Field::Email:
                first.add(change.email);
                second.add(keyOf(change.email));
                break;
            case OwnChange::Field::Mouth:
                first.add(change.mouthTop);
                second.add(change.mouthLeft);
                break;
            }
        }
        PostgresQuery& query = queries.emplace_back(db, manyChangesSql(field));
        query.bindUtf8(1, ids.finish()).bindUtf8(2, addresses.finish()).bindUtf8(3, first.finish());
        if (field == OwnChange::Field::Email || field == OwnChange::Field::Mouth)
            query.bindUtf8(4, second.finish());
        fields.push_back(field);
    }
    if (queries.size() > 1)
        PostgresQuery::runTogether(db, queries); // else the one statement runs on its first next()
    std::array<std::set<int32_t>, FieldCount> changed;
    for (size_t q = 0; q < queries.size(); ++q) {
        while (queries[q].next())
            changed[size_t(fields[q])].insert(int32_t(queries[q].integer(0)));
    }
    for (const OwnChange& change : changes)
        applied.push_back(changed[size_t(change.field)].contains(change.caller.userId));
    return applied;
}

std::vector<bool> PostgresStorage::applyOneByOne(PostgresConnection& db, std::span<const OwnChange> changes)
{
    std::vector<PostgresQuery> queries;
    queries.reserve(changes.size());
    for (const OwnChange& change : changes)
        queries.push_back(changeQuery(db, change));
    std::vector<bool> applied;
    applied.reserve(changes.size());
    for (const int64_t rows : PostgresQuery::runTogether(db, queries))
        applied.push_back(rows == 1);
    return applied;
}

bool PostgresStorage::setAvatar(const Caller& caller, const QByteArray& picture)
{
    // FOR SHARE holds the caller's row until the picture is in, so a sign-in from another
    // address cannot slip between the check and the write.
    static const std::string sql = "INSERT INTO avatars (user_id, picture) SELECT id, $3::bytea FROM users WHERE "
        + BoundCaller + " FOR SHARE ON CONFLICT (user_id) DO UPDATE SET picture = excluded.picture";
    return changeAsCaller(connection(), sql, caller, [&](PostgresQuery& query) { query.bindBytes(3, picture); });
}

void PostgresStorage::setRelay(int32_t userId, const QString& address, int64_t now, int64_t oldest)
{
    if (address.isEmpty()) {
        // Forgetting one is the time to forget those nobody renewed.
        PostgresQuery query(connection(), "DELETE FROM relays WHERE user_id = $1 OR said_at < $2::bigint");
        query.bind(1, userId).bind(2, oldest);
        query.run();
        return;
    }
    PostgresQuery query(connection(),
        "INSERT INTO relays (user_id, address, said_at) SELECT id, $2::text, $3::bigint FROM users WHERE id = $1 "
        "ON CONFLICT (user_id) DO UPDATE SET address = excluded.address, said_at = excluded.said_at");
    query.bind(1, userId).bind(2, address).bind(3, now);
    query.run();
}

QString PostgresStorage::relay(int32_t userId, int64_t oldest)
{
    PostgresQuery query(connection(), "SELECT address FROM relays WHERE user_id = $1 AND said_at >= $2::bigint");
    query.bind(1, userId).bind(2, oldest);
    return query.next() ? query.text(0) : QString();
}

bool PostgresStorage::lockBoundCaller(PostgresConnection& connection, const Caller& caller)
{
    static const std::string sql = "SELECT 1 FROM users WHERE " + BoundCaller + " FOR SHARE";
    PostgresQuery query(connection, sql.c_str());
    query.bind(1, caller.userId).bind(2, caller.address);
    return query.next();
}

BuddyAddition PostgresStorage::addBuddy(const Caller& caller, const QString& handleOrEmail)
{
    PostgresConnection& db = connection();
    Transaction transaction(db);
    if (!lockBoundCaller(db, caller))
        return {BuddyAddition::Refused, {}};

    BuddyAddition addition;
    const QString key = keyOf(handleOrEmail);
    {
        PostgresQuery query(db, "SELECT id, handle, email FROM users WHERE handle_key = $1");
        query.bind(1, key);
        if (query.next())
            addition.buddy = {0, int32_t(query.integer(0)), query.text(1), query.text(2)};
    }
    if (addition.buddy.userId == 0 && !key.isEmpty()) {
        PostgresQuery query(db, "SELECT id, handle, email FROM users WHERE email_key = $1 ORDER BY id LIMIT 1");
        query.bind(1, key);
        if (query.next())
            addition.buddy = {0, int32_t(query.integer(0)), query.text(1), query.text(2)};
    }
    if (addition.buddy.userId == 0 || addition.buddy.userId == caller.userId)
        return {BuddyAddition::NotFound, {}};

    PostgresQuery insert(db,
        "INSERT INTO buddies (owner_id, buddy_user_id) VALUES ($1, $2) ON CONFLICT (owner_id, buddy_user_id) "
        "DO NOTHING RETURNING id");
    insert.bind(1, caller.userId).bind(2, addition.buddy.userId);
    if (insert.next()) {
        addition.result = BuddyAddition::Created;
        addition.buddy.buddyId = int32_t(insert.integer(0));
    } else {
        addition.result = BuddyAddition::Existing;
    }
    transaction.commit();
    return addition;
}

bool PostgresStorage::removeBuddy(int32_t buddyId, const QString& address)
{
    static const std::string sql
        = "DELETE FROM buddies WHERE id = $1 AND owner_id IN (SELECT id FROM users WHERE " + BoundAddress + ")";
    PostgresQuery query(connection(), sql.c_str());
    query.bind(1, buddyId).bind(2, address);
    return query.run() == 1;
}

bool PostgresStorage::block(const Caller& caller, const QString& handle)
{
    PostgresConnection& db = connection();
    Transaction transaction(db);
    if (!lockBoundCaller(db, caller))
        return false;
    const std::optional<int32_t> blocked = userIdByHandle(db, handle);
    if (!blocked || *blocked == caller.userId)
        return false;
    PostgresQuery(db, "INSERT INTO blocks (owner_id, blocked_user_id) VALUES ($1, $2) ON CONFLICT DO NOTHING")
        .bind(1, caller.userId)
        .bind(2, *blocked)
        .run();
    transaction.commit();
    return true;
}

bool PostgresStorage::unblock(const Caller& caller, const QString& handle)
{
    PostgresConnection& db = connection();
    Transaction transaction(db);
    if (!lockBoundCaller(db, caller))
        return false;
    if (const std::optional<int32_t> blocked = userIdByHandle(db, handle)) {
        PostgresQuery(db, "DELETE FROM blocks WHERE owner_id = $1 AND blocked_user_id = $2")
            .bind(1, caller.userId)
            .bind(2, *blocked)
            .run();
    }
    transaction.commit();
    return true;
}

MailPut PostgresStorage::putMail(const NewMail& mail, const MailLimits& limits, const std::function<bool()>& admit)
{
    PostgresConnection& db = connection();
    Transaction transaction(db);
    if (!lockBoundCaller(db, mail.sender))
        return {MailPut::NotBound, {}};
    MailPut put;
    int32_t recipientId = 0;
    {
        PostgresQuery query(db,
            "SELECT id, handle, EXISTS (SELECT 1 FROM buddies WHERE owner_id = u.id AND buddy_user_id = $2) "
            "AND NOT EXISTS (SELECT 1 FROM blocks WHERE owner_id = u.id AND blocked_user_id = $2) "
            "FROM users u WHERE handle_key = $1");
        query.bind(1, keyOf(mail.recipientHandle)).bind(2, mail.sender.userId);
        if (!query.next())
            return {MailPut::NoSuchUser, {}};
        recipientId = int32_t(query.integer(0));
        put.recipientHandle = query.text(1);
        if (recipientId == mail.sender.userId || query.text(2) != u"t") {
            put.result = MailPut::NotAccepted;
            return put;
        }
    }
    PostgresQuery(db, MailboxLock).bind(1, recipientId).run();
    PostgresQuery(db, "DELETE FROM mail WHERE stored_at < $1").bind(1, mail.now - limits.maxAgeSeconds).run();
    {
        PostgresQuery query(db,
            "SELECT EXISTS (SELECT 1 FROM mail WHERE recipient_id = $1 AND sender_id = $2 AND mail_id = $3::bytea), "
            "count(*), coalesce(sum(size), 0) FROM mail WHERE recipient_id = $1");
        query.bind(1, recipientId).bind(2, mail.sender.userId).bindBytes(3, mail.mailId);
        query.next();
        if (query.text(0) == u"t") {
            transaction.commit();
            put.result = MailPut::Stored; // the same line again: it is there once
            return put;
        }
        if (query.integer(1) >= limits.maxLines)
            put.result = MailPut::TooManyLines;
        else if (query.integer(2) + mail.sealed.size() > limits.maxBytes)
            put.result = MailPut::TooManyBytes;
        else if (!admit())
            put.result = MailPut::TooFast;
        else
            put.result = MailPut::Stored;
    }
    if (put.result == MailPut::Stored) {
        PostgresQuery(db,
            "INSERT INTO mail (recipient_id, sender_id, mail_id, sealed, size, stored_at) "
            "VALUES ($1, $2, $3::bytea, $4::bytea, $5, $6)")
            .bind(1, recipientId)
            .bind(2, mail.sender.userId)
            .bindBytes(3, mail.mailId)
            .bindBytes(4, mail.sealed)
            .bind(5, mail.sealed.size())
            .bind(6, mail.now)
            .run();
    }
    transaction.commit(); // the old mail dropped stays dropped
    return put;
}

std::optional<MailBatch> PostgresStorage::takeMail(
    const Caller& recipient, int64_t oldest, int maxLines, int64_t maxBytes)
{
    PostgresConnection& db = connection();
    Transaction transaction(db);
    if (!lockBoundCaller(db, recipient))
        return std::nullopt;
    PostgresQuery(db, "DELETE FROM mail WHERE recipient_id = $1 AND stored_at < $2")
        .bind(1, recipient.userId)
        .bind(2, oldest)
        .run();
    // One more line than a batch holds says whether more is waiting. The running sum stops the
    // read at the byte budget (past the second line), so the server never sends a whole mailbox
    // for one batch.
    PostgresQuery query(db,
        "SELECT id, sender_id, handle, mail_id, sealed, stored_at FROM (SELECT m.id, m.sender_id, u.handle, "
        "m.mail_id, m.sealed, m.stored_at, sum(m.size) OVER (ORDER BY m.id) - m.size AS before, row_number() OVER (ORDER BY m.id) AS n FROM mail m "
        "JOIN users u ON u.id = m.sender_id WHERE m.recipient_id = $1 AND NOT EXISTS (SELECT 1 FROM blocks b "
        "WHERE b.owner_id = $1 AND b.blocked_user_id = m.sender_id) ORDER BY m.id LIMIT $2) l "
        "WHERE before <= $3 OR n <= 2 ORDER BY id");
    query.bind(1, recipient.userId).bind(2, maxLines + 1).bind(3, maxBytes);
    MailBatch batch;
    int64_t bytes = 0;
    while (query.next()) {
        MailLine line{query.integer(0), int32_t(query.integer(1)), query.text(2), query.bytes(3), query.bytes(4),
            query.integer(5)};
        bytes += line.sealed.size();
        if (int(batch.lines.size()) >= maxLines || (!batch.lines.empty() && bytes > maxBytes)) {
            batch.more = true;
            break;
        }
        batch.lines.push_back(std::move(line));
    }
    transaction.commit();
    return batch;
}

std::optional<int64_t> PostgresStorage::ackMail(const Caller& recipient, std::span<const int64_t> ids)
{
    ArrayLiteral list;
    for (const int64_t id : ids)
        list.add(id);
    static const std::string sql = "DELETE FROM mail WHERE recipient_id = $1 AND id = ANY ($3::bigint[]) AND "
                                   "EXISTS (SELECT 1 FROM users WHERE "
        + BoundCaller + ")";
    PostgresConnection& db = connection();
    Transaction transaction(db);
    if (!lockBoundCaller(db, recipient))
        return std::nullopt;
    PostgresQuery query(db, sql.c_str());
    query.bind(1, recipient.userId).bind(2, recipient.address).bindUtf8(3, list.finish());
    const int64_t deleted = query.run();
    transaction.commit();
    return deleted;
}

} // namespace cfb::service
