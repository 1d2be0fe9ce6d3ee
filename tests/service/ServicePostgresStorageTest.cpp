// PostgresStorage as several service processes use it: each storage below stands for one process
// with connections of its own.

#include "PostgresServer.h"
#include "PostgresStorage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>

using namespace cfb::service;

namespace {

const QString Address = QStringLiteral("127.0.0.1");

class PostgresStorageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        server_ = PostgresServer::shared(error);
        CONFABO_NEED_POSTGRES(server_, error);
        uri_ = server_->createDatabase();
        ASSERT_FALSE(uri_.isEmpty()) << server_->errorText().toStdString();
    }
    std::string uri() const { return uri_.toStdString(); }

    PostgresServer* server_ = nullptr;
    QString uri_;
};

} // namespace

TEST_F(PostgresStorageTest, InstancesStartingTogetherAndWritingAtOnceLoseNothing)
{
    // Both create the schema on an empty database at the same moment.
    std::unique_ptr<PostgresStorage> instances[2];
    std::atomic<int> failedStarts{0};
    {
        std::thread starters[2];
        for (int i = 0; i < 2; ++i) {
            starters[i] = std::thread([&, i] {
                try {
                    instances[i] = std::make_unique<PostgresStorage>(uri());
                } catch (const StorageError&) {
                    ++failedStarts;
                }
            });
        }
        for (auto& starter : starters)
            starter.join();
    }
    ASSERT_EQ(failedStarts, 0);

    NewUser user;
    user.handle = QStringLiteral("Shared");
    user.passwordHash = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$aGFzaA";
    user.address = Address;
    const std::optional<int32_t> id = instances[0]->insertUser(user);
    ASSERT_TRUE(id);
    user.handle = QStringLiteral("sHARED");
    EXPECT_FALSE(instances[1]->insertUser(user)) << "handles are unique ignoring letter case";
    NewUser plain = user;
    plain.handle = QStringLiteral("plain");
    plain.passwordHash = "0123456789ABCDEF";
    EXPECT_THROW(instances[1]->insertUser(plain), StorageError) << "only argon2id hashes are kept";

    // Every sign-in counts: each one, from whichever instance and thread, sees a different number
    // of earlier ones.
    constexpr int Threads = 3;
    constexpr int SignIns = 100;
    std::mutex mutex;
    std::multiset<int64_t> earlier;
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 2 * Threads; ++t) {
        writers.emplace_back([&, t] {
            PostgresStorage& storage = *instances[t % 2];
            for (int n = 0; n < SignIns; ++n) {
                try {
                    const std::optional<int64_t> count = storage.signIn(*id, QStringLiteral("peer"), Address);
                    std::lock_guard lock(mutex);
                    earlier.insert(count.value_or(-1));
                    if (!storage.setMouth({*id, Address}, int16_t(n), int16_t(t)))
                        ++failed;
                } catch (const StorageError&) {
                    ++failed;
                }
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(failed, 0);
    ASSERT_EQ(earlier.size(), size_t(2 * Threads * SignIns));
    int64_t expected = 0;
    for (const int64_t count : earlier)
        EXPECT_EQ(count, expected++);
    EXPECT_EQ(instances[1]->userByHandle(QStringLiteral("shared"))->passwordHash, user.passwordHash);
}

TEST_F(PostgresStorageTest, DatabaseOfANewerServiceIsRefusedAndLeftAsItIs)
{
    {
        PostgresStorage storage(uri());
        NewUser user;
        user.handle = QStringLiteral("early");
        user.passwordHash = "$argon2id$v=19$m=16384,t=2,p=1$c2FsdA$aGFzaA";
        ASSERT_TRUE(storage.insertUser(user));
    }
    const int newer = PostgresStorage::SchemaVersion + 1;
    ASSERT_TRUE(server_->execute(uri_, QStringLiteral("UPDATE confabo_schema SET version = %1").arg(newer)));
    EXPECT_THROW(PostgresStorage{uri()}, StorageError);
    EXPECT_THROW(PostgresStorage{uri()}, StorageError) << "the refusal must not step the version back";

    ASSERT_TRUE(server_->execute(
        uri_, QStringLiteral("UPDATE confabo_schema SET version = %1").arg(PostgresStorage::SchemaVersion)));
    PostgresStorage current(uri());
    EXPECT_TRUE(current.userByHandle(QStringLiteral("EARLY"))) << "the refusal left the data alone";
}

TEST(PostgresStorageStart, AnUnreachableServerStopsTheStart)
{
    EXPECT_THROW(PostgresStorage{"postgresql://nobody@/none?host=/nonexistent-confabo-socket-dir"}, StorageError);
}
