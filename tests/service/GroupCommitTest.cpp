// Changes users send at the same moment, committed together: on each store every change gets its
// own answer, a user's later change wins, a change that is not the caller's is refused alone, and
// a change the database rejects fails alone. Presence looked up for many users at once.

#include "GroupCommit.h"
#include "PostgresServer.h"
#include "PostgresStorage.h"
#include "SqliteStorage.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

using namespace cfb::service;

namespace {

const QString Home = QStringLiteral("127.0.0.1");
const QString Foreign = QStringLiteral("127.0.0.2");
const QByteArray Hash = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$aGFzaA";

enum class Store { Sqlite, Postgres };

class GroupCommitTest : public ::testing::TestWithParam<Store> {
protected:
    void SetUp() override
    {
        if (GetParam() == Store::Sqlite) {
            storage_ = std::make_unique<SqliteStorage>(dir_.filePath(QStringLiteral("commit.db")).toStdString());
            return;
        }
        QString error;
        PostgresServer* server = PostgresServer::shared(error);
        CONFABO_NEED_POSTGRES(server, error);
        const QString uri = server->createDatabase();
        ASSERT_FALSE(uri.isEmpty()) << server->errorText().toStdString();
        storage_ = std::make_unique<PostgresStorage>(uri.toStdString());
    }

    // A user registered and signed in from `address`.
    int32_t user(const char* handle, const QString& address = Home)
    {
        NewUser user;
        user.handle = QString::fromLatin1(handle);
        user.passwordHash = Hash;
        user.address = address;
        const std::optional<int32_t> id = storage_->insertUser(user);
        EXPECT_TRUE(id);
        if (id) {
            EXPECT_TRUE(storage_->signIn(*id, address, address));
        }
        return id.value_or(0);
    }

    QTemporaryDir dir_;
    std::unique_ptr<Storage> storage_;
};

OwnChange status(int32_t userId, int32_t value, const QString& from = Home)
{
    OwnChange change;
    change.caller = {userId, from};
    change.status = value;
    return change;
}

// Collects the answers of the changes queued behind one that holds the commit thread, so that
// they reach the store as one batch.
class HeldBatch {
public:
    explicit HeldBatch(GroupCommit& commits, int32_t holder)
        : commits_(commits)
    {
        std::promise<void> holding;
        commits_.submit(status(holder, 1), [this, &holding](const GroupCommit::Result&) {
            holding.set_value();
            released_.get_future().wait();
        });
        holding.get_future().wait(); // the commit thread waits in the answer to the holder's change
    }
    void add(OwnChange change)
    {
        const size_t index = results_.size();
        results_.emplace_back();
        commits_.submit(std::move(change), [this, index](const GroupCommit::Result& result) {
            std::lock_guard lock(mutex_);
            results_[index] = result;
            ++answered_;
            done_.notify_all();
        });
    }
    // Lets the batch go and waits for every answer.
    const std::vector<GroupCommit::Result>& results()
    {
        released_.set_value();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return answered_ == results_.size(); });
        return results_;
    }

private:
    GroupCommit& commits_;
    std::promise<void> released_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<GroupCommit::Result> results_;
    size_t answered_ = 0;
};

} // namespace

TEST_P(GroupCommitTest, ChangesArrivingTogetherEachGetTheirOwnAnswer)
{
    const int32_t amy = user("amy");
    const int32_t bo = user("bo");
    const int32_t cy = user("cy");
    const int32_t dee = user("dee", Foreign);
    GroupCommit commits(*storage_, GroupCommit::Config{});
    HeldBatch batch(commits, amy);

    OwnChange boMouth;
    boMouth.caller = {bo, Home};
    boMouth.field = OwnChange::Field::Mouth;
    boMouth.mouthTop = -5;
    boMouth.mouthLeft = 32767;
    OwnChange amyEmail;
    amyEmail.caller = {amy, Home};
    amyEmail.field = OwnChange::Field::Email;
    amyEmail.email = QStringLiteral("Amy \"A\" \\ <amy@example.org>"); // quotes and a backslash
    OwnChange amyPassword;
    amyPassword.caller = {amy, Home};
    amyPassword.field = OwnChange::Field::Password;
    amyPassword.passwordHash = Hash + "2";

    batch.add(status(amy, 2)); // 0
    batch.add(boMouth); // 1
    batch.add(status(dee, 0)); // 2: dee is signed in elsewhere
    batch.add(status(cy, 0, Foreign)); // 3: cy is signed in from Home
    batch.add(amyEmail); // 4
    batch.add(status(amy, 0)); // 5: amy's later status wins
    batch.add(status(bo, 2)); // 6
    batch.add(amyPassword); // 7
    const std::vector<GroupCommit::Result>& results = batch.results();

    const bool expected[] = {true, true, false, false, true, true, true, true};
    ASSERT_EQ(results.size(), std::size(expected));
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].applied, expected[i]) << "change " << i;
        EXPECT_EQ(results[i].error, "") << "change " << i;
    }
    EXPECT_EQ(storage_->presence(amy)->status, 0);
    const std::optional<UserPresence> boNow = storage_->presence(bo);
    EXPECT_EQ(boNow->status, 2);
    EXPECT_EQ(boNow->mouthTop, -5);
    EXPECT_EQ(boNow->mouthLeft, 32767);
    EXPECT_EQ(storage_->presence(cy)->status, 1);
    EXPECT_EQ(storage_->presence(dee)->status, 1);
    const std::optional<UserRecord> amyNow = storage_->userByHandle(QStringLiteral("AMY"));
    EXPECT_EQ(amyNow->email, amyEmail.email);
    EXPECT_EQ(amyNow->passwordHash, amyPassword.passwordHash);
    EXPECT_EQ(storage_->userByHandle(QStringLiteral("bo"))->email, QString());

    // A user's changes from two addresses in one batch: only the signed-in one's apply.
    HeldBatch mixed(commits, bo);
    mixed.add(status(amy, 1, Foreign));
    mixed.add(status(amy, 2));
    mixed.add(status(amy, 1, Foreign));
    const std::vector<GroupCommit::Result>& answers = mixed.results();
    EXPECT_FALSE(answers[0].applied);
    EXPECT_TRUE(answers[1].applied);
    EXPECT_FALSE(answers[2].applied);
    EXPECT_EQ(storage_->presence(amy)->status, 2);

    // Presence of several users in one call, as the lookups gather it: unknown ids and repeats too.
    const int32_t ids[] = {bo, 999999, amy, bo};
    const std::vector<std::optional<UserPresence>> found = storage_->presences(ids);
    ASSERT_EQ(found.size(), std::size(ids));
    EXPECT_EQ(found[0]->status, 1); // as the change holding the last batch left it
    EXPECT_EQ(found[0]->mouthLeft, 32767);
    EXPECT_FALSE(found[1]);
    EXPECT_EQ(found[2]->status, 2);
    EXPECT_EQ(found[2]->ip, Home);
    EXPECT_EQ(found[3]->mouthTop, found[0]->mouthTop);
}

INSTANTIATE_TEST_SUITE_P(Stores, GroupCommitTest, ::testing::Values(Store::Sqlite, Store::Postgres),
    [](const ::testing::TestParamInfo<Store>& info) { return info.param == Store::Sqlite ? "Sqlite" : "Postgres"; });

TEST(GroupCommitOnPostgres, AChangeTheDatabaseRejectsFailsAloneAndOverlappingBatchesNeverDeadlock)
{
    QString error;
    PostgresServer* server = PostgresServer::shared(error);
    CONFABO_NEED_POSTGRES(server, error);
    const std::string uri = server->createDatabase().toStdString();
    ASSERT_FALSE(uri.empty());
    // Two services on one database.
    PostgresStorage first(uri);
    PostgresStorage second(uri);
    constexpr int Users = 24;
    std::vector<int32_t> ids;
    for (int i = 0; i < Users; ++i) {
        NewUser user;
        user.handle = QStringLiteral("user%1").arg(i);
        user.passwordHash = Hash;
        const std::optional<int32_t> id = first.insertUser(user);
        ASSERT_TRUE(id && first.signIn(*id, Home, Home));
        ids.push_back(*id);
    }

    {
        GroupCommit commits(first, GroupCommit::Config{});
        HeldBatch batch(commits, ids[0]);
        OwnChange plain;
        plain.caller = {ids[1], Home};
        plain.field = OwnChange::Field::Password;
        plain.passwordHash = "not-an-argon2id-hash"; // the database keeps argon2id hashes only
        batch.add(status(ids[1], 2));
        batch.add(plain);
        batch.add(status(ids[2], 2));
        const std::vector<GroupCommit::Result>& results = batch.results();
        EXPECT_TRUE(results[0].applied);
        EXPECT_FALSE(results[1].applied);
        EXPECT_NE(results[1].error, "");
        EXPECT_TRUE(results[2].applied);
        EXPECT_EQ(first.presence(ids[2])->status, 2);
        EXPECT_EQ(first.userByHandle(QStringLiteral("user1"))->passwordHash, Hash);
    }

    // Both services change every user's status in each batch, at the same time, many times over.
    std::atomic<int> refused{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> services;
    for (PostgresStorage* storage : {&first, &second}) {
        services.emplace_back([&, storage] {
            std::vector<OwnChange> changes;
            for (int i = 0; i < Users; ++i)
                changes.push_back(status(ids[size_t(storage == &first ? i : Users - 1 - i)], 1 + i % 2));
            for (int round = 0; round < 60; ++round) {
                try {
                    for (const bool applied : storage->applyChanges(changes))
                        refused += applied ? 0 : 1;
                } catch (const StorageError& e) {
                    ++failed;
                    ADD_FAILURE() << e.what();
                }
            }
        });
    }
    for (std::thread& service : services)
        service.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(refused, 0);
}
