#pragma once

#include "Storage.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace cfb::service {

class PostgresConnection;
class PostgresQuery;

// Storage in a PostgreSQL database, shared by any number of service processes. Each thread that
// calls in gets a connection of its own, kept for the storage's life. Every change is one
// statement, or one transaction that locks the caller's row while it checks the address binding,
// so writers in other processes never see half of it. A connection lost (the server restarted)
// fails the call that meets it and is opened again for the next. The schema is created or
// brought up to date when the storage opens.
class PostgresStorage final : public Storage {
public:
    // `uri`: a libpq connection string, e.g. postgresql://user@host/database.
    explicit PostgresStorage(const std::string& uri);
    ~PostgresStorage() override;

    static constexpr int SchemaVersion = 6;
    static bool handles(const std::string& database); // true for postgresql:// and postgres:// URIs

    std::optional<UserRecord> userByHandle(const QString& handle) override;
    std::optional<UserPresence> presence(int32_t userId) override;
    std::vector<std::optional<UserPresence>> presences(std::span<const int32_t> userIds) override;
    bool gathersLookups() const override { return true; }
    std::optional<QByteArray> avatar(int32_t userId) override;
    std::optional<std::vector<BuddyRecord>> buddies(int32_t userId) override;
    std::optional<std::vector<QString>> blockedHandles(int32_t userId) override;
    std::optional<std::vector<UserSummary>> availableUsers(int32_t askingUserId, int limit) override;

    std::optional<int32_t> insertUser(const NewUser& user) override;
    std::optional<int64_t> signIn(int32_t userId, const QString& ip, const QString& address,
        const QString& localIp = QString(), const QByteArray& publicKey = QByteArray(),
        const QString& ip6 = QString()) override;
    std::vector<bool> applyChanges(std::span<const OwnChange> changes) override;
    bool setAvatar(const Caller& caller, const QByteArray& picture) override;
    void setRelay(int32_t userId, const QString& address, int64_t now, int64_t oldest) override;
    QString relay(int32_t userId, int64_t oldest) override;
    BuddyAddition addBuddy(const Caller& caller, const QString& handleOrEmail) override;
    bool removeBuddy(int32_t buddyId, const QString& address) override;
    bool block(const Caller& caller, const QString& handle) override;
    bool unblock(const Caller& caller, const QString& handle) override;
    MailPut putMail(const NewMail& mail, const MailLimits& limits, const std::function<bool()>& admit) override;
    std::optional<MailBatch> takeMail(const Caller& recipient, int64_t oldest, int maxLines, int64_t maxBytes) override;
    std::optional<int64_t> ackMail(const Caller& recipient, std::span<const int64_t> ids) override;

private:
    class Transaction;

    PostgresConnection& connection(); // this thread's, reconnected when it broke
    void migrate();
    static PostgresQuery changeQuery(PostgresConnection& connection, const OwnChange& change); // bound
    // The changes a statement each, in one round trip and one transaction.
    static std::vector<bool> applyOneByOne(PostgresConnection& db, std::span<const OwnChange> changes);
    bool lockBoundCaller(PostgresConnection& connection, const Caller& caller);

    std::string uri_;
    std::mutex connectionsMutex_;
    std::unordered_map<std::thread::id, std::unique_ptr<PostgresConnection>> connections_;
};

} // namespace cfb::service
