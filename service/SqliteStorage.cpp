#include "SqliteStorage.h"

#include "StoredValues.h"

#include "SqliteConnection.h"
#include "SqliteQuery.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace cfb::service {

using StoredValues::int16Of;
using StoredValues::keyOf;

namespace {

// Schema steps in order; PRAGMA user_version counts the steps already applied.
const char* const Migrations[] = {
    R"sql(
    CREATE TABLE users (
        id INTEGER PRIMARY KEY AUTOINCREMENT,  -- ids are never reused
        handle TEXT NOT NULL,
        handle_key TEXT NOT NULL UNIQUE,      -- case-folded handle
        password_hash TEXT NOT NULL,
        email TEXT NOT NULL DEFAULT '',
        email_key TEXT NOT NULL DEFAULT '',   -- case-folded e-mail address
        mouth_top INTEGER NOT NULL DEFAULT 0,
        mouth_left INTEGER NOT NULL DEFAULT 0,
        status INTEGER NOT NULL DEFAULT 0,
        ip TEXT NOT NULL DEFAULT '',
        bound_address TEXT NOT NULL DEFAULT '', -- address allowed to change this account
        sign_ins INTEGER NOT NULL DEFAULT 0
    );
    CREATE INDEX users_email_key ON users(email_key);
    CREATE INDEX users_status ON users(status);
    CREATE TABLE avatars (
        user_id INTEGER PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
        picture BLOB NOT NULL
    );
    CREATE TABLE buddies (
        id INTEGER PRIMARY KEY AUTOINCREMENT,  -- a stale id held by a client never names a newer relation
        owner_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        buddy_user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        UNIQUE (owner_id, buddy_user_id)
    );
    CREATE TABLE blocks (
        owner_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        blocked_user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        PRIMARY KEY (owner_id, blocked_user_id)
    ) WITHOUT ROWID;
    )sql",
    // The machine's own address, handed to buddies signed in from the same public address.
    "ALTER TABLE users ADD COLUMN local_ip TEXT NOT NULL DEFAULT ''",
    // The X25519 key buddies encrypt to, as the last sign-in gave it; empty when it gave none.
    "ALTER TABLE users ADD COLUMN public_key BLOB NOT NULL DEFAULT x'' CHECK (length(public_key) IN (0, 32))",
    // Lines waiting for a recipient, sealed by the sender's client: the service cannot read them.
    R"sql(
    CREATE TABLE mail (
        id INTEGER PRIMARY KEY AUTOINCREMENT,  -- what the recipient acknowledges; never reused
        recipient_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        sender_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        mail_id BLOB NOT NULL,                 -- the sender's id for the line
        sealed BLOB NOT NULL,
        size INTEGER NOT NULL,
        stored_at INTEGER NOT NULL,            -- seconds since 1970
        UNIQUE (recipient_id, sender_id, mail_id)
    );
    CREATE INDEX mail_stored_at ON mail(stored_at);
    CREATE INDEX mail_sender_id ON mail(sender_id);
    )sql",
    // Where a signed-in user's TURN relay takes datagrams for them, and when they last said so.
    R"sql(
    CREATE TABLE relays (
        user_id INTEGER PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
        address TEXT NOT NULL,
        said_at INTEGER NOT NULL               -- seconds since 1970
    );
    CREATE INDEX relays_said_at ON relays(said_at);
    )sql",
    // The IPv6 address of the last sign-in, handed to buddies beside ip; empty without one.
    "ALTER TABLE users ADD COLUMN ip6 TEXT NOT NULL DEFAULT ''",
};
static_assert(std::size(Migrations) == SqliteStorage::SchemaVersion);

// The rule every change made on a user's behalf follows: the account is signed in from the
// address the request comes from, and an account never signed in (empty address) matches no one.
// Every statement with the clause binds the request's address as ?2, and the user id as ?1.
const std::string BoundAddress = "bound_address = ?2 AND bound_address <> ''";
const std::string BoundCaller = "id = ?1 AND " + BoundAddress;

} // namespace

// A reader connection taken from the pool for one call, and put back afterwards.
class SqliteStorage::ReadLease {
public:
    explicit ReadLease(SqliteStorage& storage)
        : storage_(storage)
    {
        {
            std::lock_guard lock(storage_.readersMutex_);
            if (!storage_.idleReaders_.empty()) {
                connection_ = std::move(storage_.idleReaders_.back());
                storage_.idleReaders_.pop_back();
            }
        }
        if (!connection_)
            connection_ = std::make_unique<SqliteConnection>(storage_.path_, SqliteConnection::Role::Reader);
    }
    ~ReadLease()
    {
        std::lock_guard lock(storage_.readersMutex_);
        storage_.idleReaders_.push_back(std::move(connection_));
    }
    SqliteConnection& operator*() { return *connection_; }

private:
    SqliteStorage& storage_;
    std::unique_ptr<SqliteConnection> connection_;
};

// Holds the writer for a call that makes more than one statement; rolls back unless committed.
class SqliteStorage::WriteTransaction {
public:
    explicit WriteTransaction(SqliteConnection& writer)
        : writer_(writer)
    {
        writer_.execute("BEGIN IMMEDIATE");
    }
    ~WriteTransaction()
    {
        if (!done_)
            sqlite3_exec(writer_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        writer_.execute("COMMIT");
        done_ = true;
    }

private:
    SqliteConnection& writer_;
    bool done_ = false;
};

SqliteStorage::SqliteStorage(const std::string& path, SqliteCheckpointer::Config checkpoints)
    : path_(path)
    , writer_(std::make_unique<SqliteConnection>(path, SqliteConnection::Role::Writer))
{
    migrate();
    checkpointer_ = std::make_unique<SqliteCheckpointer>(path, checkpoints, writer_->handle(), writeMutex_);
}

SqliteStorage::~SqliteStorage() = default;

void SqliteStorage::migrate()
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    int64_t version = 0;
    {
        SqliteQuery query(*writer_, "PRAGMA user_version");
        if (query.next())
            version = query.integer(0);
    }
    if (version > SchemaVersion)
        throw StorageError("the database was made by a newer service (schema " + std::to_string(version) + ")");
    for (int64_t step = version; step < SchemaVersion; ++step)
        writer_->execute(Migrations[step]);
    writer_->execute(("PRAGMA user_version = " + std::to_string(SchemaVersion)).c_str());
    transaction.commit();
}

std::optional<UserRecord> SqliteStorage::userByHandle(const QString& handle)
{
    ReadLease connection(*this);
    SqliteQuery query(*connection,
        "SELECT id, handle, email, password_hash, status, ip, mouth_top, mouth_left FROM users WHERE handle_key = ?1");
    query.bind(1, keyOf(handle));
    if (!query.next())
        return std::nullopt;
    UserRecord user;
    user.id = int32_t(query.integer(0));
    user.handle = query.text(1);
    user.email = query.text(2);
    user.passwordHash = query.blob(3);
    user.status = int32_t(query.integer(4));
    user.ip = query.text(5);
    user.mouthTop = int16Of(query.integer(6));
    user.mouthLeft = int16Of(query.integer(7));
    return user;
}

std::optional<UserPresence> SqliteStorage::presence(int32_t userId)
{
    ReadLease connection(*this);
    SqliteQuery query(*connection,
        "SELECT status, ip, mouth_top, mouth_left, bound_address, local_ip, public_key, ip6 FROM users WHERE id = ?1");
    query.bind(1, userId);
    if (!query.next())
        return std::nullopt;
    return UserPresence{int32_t(query.integer(0)), query.text(1), int16Of(query.integer(2)), int16Of(query.integer(3)),
        query.text(4), query.text(5), query.blob(6), query.text(7)};
}

std::optional<QByteArray> SqliteStorage::avatar(int32_t userId)
{
    ReadLease connection(*this);
    SqliteQuery query(
        *connection, "SELECT a.picture FROM users u LEFT JOIN avatars a ON a.user_id = u.id WHERE u.id = ?1");
    query.bind(1, userId);
    if (!query.next())
        return std::nullopt;
    return query.blob(0);
}

namespace {

bool userExists(SqliteConnection& connection, int32_t userId)
{
    SqliteQuery query(connection, "SELECT 1 FROM users WHERE id = ?1");
    query.bind(1, userId);
    return query.next();
}

} // namespace

std::optional<std::vector<BuddyRecord>> SqliteStorage::buddies(int32_t userId)
{
    ReadLease connection(*this);
    if (!userExists(*connection, userId))
        return std::nullopt;
    SqliteQuery query(*connection,
        "SELECT b.id, u.id, u.handle, u.email FROM buddies b JOIN users u ON u.id = b.buddy_user_id "
        "WHERE b.owner_id = ?1 ORDER BY b.id");
    query.bind(1, userId);
    std::vector<BuddyRecord> list;
    while (query.next())
        list.push_back({int32_t(query.integer(0)), int32_t(query.integer(1)), query.text(2), query.text(3)});
    return list;
}

std::optional<std::vector<QString>> SqliteStorage::blockedHandles(int32_t userId)
{
    ReadLease connection(*this);
    if (!userExists(*connection, userId))
        return std::nullopt;
    SqliteQuery query(*connection,
        "SELECT u.handle FROM blocks b JOIN users u ON u.id = b.blocked_user_id WHERE b.owner_id = ?1 ORDER BY u.id");
    query.bind(1, userId);
    std::vector<QString> list;
    while (query.next())
        list.push_back(query.text(0));
    return list;
}

std::optional<std::vector<UserSummary>> SqliteStorage::availableUsers(int32_t askingUserId, int limit)
{
    ReadLease connection(*this);
    if (!userExists(*connection, askingUserId))
        return std::nullopt;
    SqliteQuery query(
        *connection, "SELECT id, handle, email FROM users WHERE status = 1 AND id <> ?1 ORDER BY id LIMIT ?2");
    query.bind(1, askingUserId).bind(2, limit);
    std::vector<UserSummary> list;
    while (query.next())
        list.push_back({int32_t(query.integer(0)), query.text(1), query.text(2)});
    return list;
}

std::optional<int32_t> SqliteStorage::insertUser(const NewUser& user)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    {
        SqliteQuery query(*writer_,
            "INSERT INTO users (handle, handle_key, password_hash, email, email_key, mouth_top, mouth_left, "
            "bound_address) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT (handle_key) DO NOTHING");
        query.bind(1, user.handle).bind(2, keyOf(user.handle)).bindBlob(3, user.passwordHash);
        query.bind(4, user.email).bind(5, keyOf(user.email)).bind(6, user.mouthTop).bind(7, user.mouthLeft);
        query.bind(8, user.address).run();
    }
    if (writer_->changes() == 0)
        return std::nullopt;
    const int64_t id = sqlite3_last_insert_rowid(writer_->handle());
    if (id > std::numeric_limits<int32_t>::max())
        throw StorageError("user ids are used up"); // the transaction rolls back
    transaction.commit();
    return int32_t(id);
}

std::optional<int64_t> SqliteStorage::signIn(int32_t userId, const QString& ip, const QString& address,
    const QString& localIp, const QByteArray& publicKey, const QString& ip6)
{
    std::lock_guard lock(writeMutex_);
    SqliteQuery query(*writer_,
        "UPDATE users SET status = 1, ip = ?2, bound_address = ?3, local_ip = ?4, public_key = ?5, ip6 = ?6, "
        "sign_ins = sign_ins + 1 WHERE id = ?1 RETURNING sign_ins - 1");
    query.bind(1, userId).bind(2, ip).bind(3, address).bind(4, localIp).bindBlob(5, publicKey).bind(6, ip6);
    if (!query.next())
        return std::nullopt;
    const int64_t earlier = query.integer(0);
    query.run();
    return earlier;
}

bool SqliteStorage::changeAsCaller(
    const Caller& caller, const std::string& sql, const std::function<void(SqliteQuery&)>& bindValues)
{
    SqliteQuery query(*writer_, sql.c_str());
    query.bind(1, caller.userId).bind(2, caller.address);
    bindValues(query);
    query.run();
    return writer_->changes() == 1;
}

bool SqliteStorage::applyChange(const OwnChange& change)
{
    using Field = OwnChange::Field;
    static const std::string status = "UPDATE users SET status = ?3 WHERE " + BoundCaller;
    static const std::string password = "UPDATE users SET password_hash = ?3 WHERE " + BoundCaller;
    static const std::string email = "UPDATE users SET email = ?3, email_key = ?4 WHERE " + BoundCaller;
    static const std::string mouth = "UPDATE users SET mouth_top = ?3, mouth_left = ?4 WHERE " + BoundCaller;
    switch (change.field) {
    case Field::Status:
        return changeAsCaller(change.caller, status, [&](SqliteQuery& query) { query.bind(3, change.status); });
    case Field::Password:
        return changeAsCaller(
            change.caller, password, [&](SqliteQuery& query) { query.bindBlob(3, change.passwordHash); });
    case Field::Email:
        return changeAsCaller(change.caller, email,
            [&](SqliteQuery& query) { query.bind(3, change.email).bind(4, keyOf(change.email)); });
    case Field::Mouth:
        return changeAsCaller(change.caller, mouth,
            [&](SqliteQuery& query) { query.bind(3, change.mouthTop).bind(4, change.mouthLeft); });
    }
    throw StorageError("unknown kind of change");
}

std::vector<bool> SqliteStorage::applyChanges(std::span<const OwnChange> changes)
{
    std::vector<bool> applied;
    applied.reserve(changes.size());
    std::lock_guard lock(writeMutex_);
    if (changes.size() == 1) {
        applied.push_back(applyChange(changes.front())); // a statement is a transaction of its own
        return applied;
    }
    WriteTransaction transaction(*writer_);
    for (const OwnChange& change : changes)
        applied.push_back(applyChange(change));
    transaction.commit();
    return applied;
}

bool SqliteStorage::setAvatar(const Caller& caller, const QByteArray& picture)
{
    static const std::string sql = "INSERT INTO avatars (user_id, picture) SELECT id, ?3 FROM users WHERE "
        + BoundCaller + " ON CONFLICT (user_id) DO UPDATE SET picture = excluded.picture";
    std::lock_guard lock(writeMutex_);
    return changeAsCaller(caller, sql, [&](SqliteQuery& query) { query.bindBlob(3, picture); });
}

void SqliteStorage::setRelay(int32_t userId, const QString& address, int64_t now, int64_t oldest)
{
    std::lock_guard lock(writeMutex_);
    if (address.isEmpty()) {
        // Forgetting one is the time to forget those nobody renewed.
        SqliteQuery query(*writer_, "DELETE FROM relays WHERE user_id = ?1 OR said_at < ?2");
        query.bind(1, userId).bind(2, oldest);
        query.run();
        return;
    }
    SqliteQuery query(*writer_, "INSERT INTO relays (user_id, address, said_at) SELECT id, ?2, ?3 FROM users WHERE id = ?1 "
                                "ON CONFLICT (user_id) DO UPDATE SET address = excluded.address, said_at = excluded.said_at");
    query.bind(1, userId).bind(2, address).bind(3, now);
    query.run();
}

QString SqliteStorage::relay(int32_t userId, int64_t oldest)
{
    ReadLease connection(*this);
    SqliteQuery query(*connection, "SELECT address FROM relays WHERE user_id = ?1 AND said_at >= ?2");
    query.bind(1, userId).bind(2, oldest);
    return query.next() ? query.text(0) : QString();
}

bool SqliteStorage::callerIsBound(const Caller& caller)
{
    static const std::string sql = "SELECT 1 FROM users WHERE " + BoundCaller;
    SqliteQuery query(*writer_, sql.c_str());
    query.bind(1, caller.userId).bind(2, caller.address);
    return query.next();
}

std::optional<int32_t> SqliteStorage::userIdByHandle(SqliteConnection& connection, const QString& handle)
{
    SqliteQuery query(connection, "SELECT id FROM users WHERE handle_key = ?1");
    query.bind(1, keyOf(handle));
    if (!query.next())
        return std::nullopt;
    return int32_t(query.integer(0));
}

BuddyAddition SqliteStorage::addBuddy(const Caller& caller, const QString& handleOrEmail)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    if (!callerIsBound(caller))
        return {BuddyAddition::Refused, {}};

    BuddyAddition addition;
    const QString key = keyOf(handleOrEmail);
    {
        SqliteQuery query(*writer_, "SELECT id, handle, email FROM users WHERE handle_key = ?1");
        query.bind(1, key);
        if (query.next())
            addition.buddy = {0, int32_t(query.integer(0)), query.text(1), query.text(2)};
    }
    if (addition.buddy.userId == 0 && !key.isEmpty()) {
        SqliteQuery query(*writer_, "SELECT id, handle, email FROM users WHERE email_key = ?1 ORDER BY id LIMIT 1");
        query.bind(1, key);
        if (query.next())
            addition.buddy = {0, int32_t(query.integer(0)), query.text(1), query.text(2)};
    }
    if (addition.buddy.userId == 0 || addition.buddy.userId == caller.userId)
        return {BuddyAddition::NotFound, {}};

    SqliteQuery(*writer_,
        "INSERT INTO buddies (owner_id, buddy_user_id) VALUES (?1, ?2) ON CONFLICT (owner_id, buddy_user_id) "
        "DO NOTHING")
        .bind(1, caller.userId)
        .bind(2, addition.buddy.userId)
        .run();
    if (writer_->changes() == 0) {
        addition.result = BuddyAddition::Existing;
    } else {
        const int64_t id = sqlite3_last_insert_rowid(writer_->handle());
        if (id > std::numeric_limits<int32_t>::max())
            throw StorageError("buddy ids are used up");
        addition.result = BuddyAddition::Created;
        addition.buddy.buddyId = int32_t(id);
    }
    transaction.commit();
    return addition;
}

bool SqliteStorage::removeBuddy(int32_t buddyId, const QString& address)
{
    std::lock_guard lock(writeMutex_);
    static const std::string sql
        = "DELETE FROM buddies WHERE id = ?1 AND owner_id IN (SELECT id FROM users WHERE " + BoundAddress + ")";
    SqliteQuery(*writer_, sql.c_str()).bind(1, buddyId).bind(2, address).run();
    return writer_->changes() == 1;
}

bool SqliteStorage::block(const Caller& caller, const QString& handle)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    if (!callerIsBound(caller))
        return false;
    const std::optional<int32_t> blocked = userIdByHandle(*writer_, handle);
    if (!blocked || *blocked == caller.userId)
        return false;
    SqliteQuery(*writer_, "INSERT OR IGNORE INTO blocks (owner_id, blocked_user_id) VALUES (?1, ?2)")
        .bind(1, caller.userId)
        .bind(2, *blocked)
        .run();
    transaction.commit();
    return true;
}

bool SqliteStorage::unblock(const Caller& caller, const QString& handle)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    if (!callerIsBound(caller))
        return false;
    if (const std::optional<int32_t> blocked = userIdByHandle(*writer_, handle)) {
        SqliteQuery(*writer_, "DELETE FROM blocks WHERE owner_id = ?1 AND blocked_user_id = ?2")
            .bind(1, caller.userId)
            .bind(2, *blocked)
            .run();
    }
    transaction.commit();
    return true;
}

MailPut SqliteStorage::putMail(const NewMail& mail, const MailLimits& limits, const std::function<bool()>& admit)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    if (!callerIsBound(mail.sender))
        return {MailPut::NotBound, {}};
    MailPut put;
    int32_t recipientId = 0;
    {
        SqliteQuery query(*writer_, "SELECT id, handle FROM users WHERE handle_key = ?1");
        query.bind(1, keyOf(mail.recipientHandle));
        if (!query.next())
            return {MailPut::NoSuchUser, {}};
        recipientId = int32_t(query.integer(0));
        put.recipientHandle = query.text(1);
    }
    {
        SqliteQuery query(*writer_,
            "SELECT EXISTS (SELECT 1 FROM buddies WHERE owner_id = ?1 AND buddy_user_id = ?2) "
            "AND NOT EXISTS (SELECT 1 FROM blocks WHERE owner_id = ?1 AND blocked_user_id = ?2)");
        query.bind(1, recipientId).bind(2, mail.sender.userId);
        if (recipientId == mail.sender.userId || !query.next() || query.integer(0) == 0) {
            put.result = MailPut::NotAccepted;
            return put;
        }
    }
    SqliteQuery(*writer_, "DELETE FROM mail WHERE stored_at < ?1").bind(1, mail.now - limits.maxAgeSeconds).run();
    {
        SqliteQuery query(*writer_, "SELECT 1 FROM mail WHERE recipient_id = ?1 AND sender_id = ?2 AND mail_id = ?3");
        query.bind(1, recipientId).bind(2, mail.sender.userId).bindBlob(3, mail.mailId);
        if (query.next()) {
            put.result = MailPut::Stored; // the same line again: it is there once
            return put;
        }
    }
    {
        SqliteQuery query(*writer_, "SELECT count(*), coalesce(sum(size), 0) FROM mail WHERE recipient_id = ?1");
        query.bind(1, recipientId);
        query.next();
        if (query.integer(0) >= limits.maxLines)
            put.result = MailPut::TooManyLines;
        else if (query.integer(1) + mail.sealed.size() > limits.maxBytes)
            put.result = MailPut::TooManyBytes;
        else if (!admit())
            put.result = MailPut::TooFast;
        else
            put.result = MailPut::Stored;
    }
    if (put.result != MailPut::Stored)
        return put;
    SqliteQuery(*writer_,
        "INSERT INTO mail (recipient_id, sender_id, mail_id, sealed, size, stored_at) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
        .bind(1, recipientId)
        .bind(2, mail.sender.userId)
        .bindBlob(3, mail.mailId)
        .bindBlob(4, mail.sealed)
        .bind(5, mail.sealed.size())
        .bind(6, mail.now)
        .run();
    transaction.commit();
    return put;
}

std::optional<MailBatch> SqliteStorage::takeMail(const Caller& recipient, int64_t oldest, int maxLines, int64_t maxBytes)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    if (!callerIsBound(recipient))
        return std::nullopt;
    SqliteQuery(*writer_, "DELETE FROM mail WHERE recipient_id = ?1 AND stored_at < ?2")
        .bind(1, recipient.userId)
        .bind(2, oldest)
        .run();
    MailBatch batch;
    {
        SqliteQuery query(*writer_,
            "SELECT m.id, m.sender_id, u.handle, m.mail_id, m.sealed, m.stored_at FROM mail m "
            "JOIN users u ON u.id = m.sender_id WHERE m.recipient_id = ?1 AND NOT EXISTS "
            "(SELECT 1 FROM blocks b WHERE b.owner_id = ?1 AND b.blocked_user_id = m.sender_id) "
            "ORDER BY m.id");
        query.bind(1, recipient.userId);
        int64_t bytes = 0;
        while (query.next()) {
            MailLine line{query.integer(0), int32_t(query.integer(1)), query.text(2), query.blob(3), query.blob(4),
                query.integer(5)};
            bytes += line.sealed.size();
            if (int(batch.lines.size()) >= maxLines || (!batch.lines.empty() && bytes > maxBytes)) {
                batch.more = true;
                break;
            }
            batch.lines.push_back(std::move(line));
        }
    }
    transaction.commit();
    return batch;
}

std::optional<int64_t> SqliteStorage::ackMail(const Caller& recipient, std::span<const int64_t> ids)
{
    std::lock_guard lock(writeMutex_);
    WriteTransaction transaction(*writer_);
    if (!callerIsBound(recipient))
        return std::nullopt;
    int64_t deleted = 0;
    for (const int64_t id : ids) {
        SqliteQuery(*writer_, "DELETE FROM mail WHERE recipient_id = ?1 AND id = ?2").bind(1, recipient.userId).bind(2, id).run();
        deleted += writer_->changes();
    }
    transaction.commit();
    return deleted;
}

} // namespace cfb::service
