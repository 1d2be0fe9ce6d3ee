#pragma once

#include "SqliteCheckpointer.h"
#include "Storage.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace cfb::service {

class SqliteConnection;
class SqliteQuery;

// Storage in one SQLite file (WAL). Reads run on a pool of connections, one per thread that is
// reading at the moment; every write goes through the one writer connection under a mutex, so
// writers never meet SQLite's lock and its busy-wait sleeps. The schema is created or brought up
// to date when the storage opens. Checkpoints run on a thread of their own (SqliteCheckpointer).
class SqliteStorage final : public Storage {
public:
    explicit SqliteStorage(const std::string& path, SqliteCheckpointer::Config checkpoints = {});
    ~SqliteStorage() override;

    static constexpr int SchemaVersion = 6;

    std::optional<UserRecord> userByHandle(const QString& handle) override;
    std::optional<UserPresence> presence(int32_t userId) override;
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

    const SqliteCheckpointer& checkpointer() const { return *checkpointer_; }

private:
    class ReadLease;
    class WriteTransaction;

    void migrate();
    // Runs a statement with the caller's clause (id ?1, address ?2) after bindValues bound the
    // rest, the writer held; true when it changed exactly one row.
    bool changeAsCaller(
        const Caller& caller, const std::string& sql, const std::function<void(SqliteQuery&)>& bindValues);
    bool applyChange(const OwnChange& change); // the writer held
    bool callerIsBound(const Caller& caller);
    std::optional<int32_t> userIdByHandle(SqliteConnection& connection, const QString& handle);

    std::string path_;
    std::mutex writeMutex_;
    std::unique_ptr<SqliteConnection> writer_;
    std::unique_ptr<SqliteCheckpointer> checkpointer_; // stops before the writer closes
    std::mutex readersMutex_;
    std::vector<std::unique_ptr<SqliteConnection>> idleReaders_;
};

} // namespace cfb::service
