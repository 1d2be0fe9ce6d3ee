// Several confabo-service processes on one PostgreSQL database, and the database going away
// under load.

#include "ServiceTest.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QString Password = u"0123456789ABCDEF"_s;

ServiceReply post(const ServiceClient& client, std::initializer_list<std::pair<const char*, QString>> fields,
    const char* from = ServiceTest::Home)
{
    return client.post(formBody(fields), from);
}

int registerUser(const ServiceClient& client, const QString& handle, const QString& email = {})
{
    return post(client,
        {{"mode", u"USER_INSERT"_s}, {"handle", handle}, {"password", Password}, {"email", email},
            {"mouth_top", u"0"_s}, {"mouth_left", u"0"_s}})
        .text("/body")
        .toInt();
}

ServiceReply byId(const ServiceClient& client, const char* mode, int userId)
{
    return post(client, {{"mode", QString::fromLatin1(mode)}, {"user_id", QString::number(userId)}});
}

// Both services on one fresh database of the test process's server, the per-address limits lifted
// for the races below.
class ServiceInstances : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        PostgresServer* server = PostgresServer::shared(error);
        CONFABO_NEED_POSTGRES(server, error);
        const QString database = server->createDatabase();
        ASSERT_FALSE(database.isEmpty()) << server->errorText().toStdString();
        const QStringList limits{u"--sign-in-burst"_s, u"1000"_s, u"--connections-per-address"_s, u"100"_s};
        for (auto* instance : {&first_, &second_}) {
            *instance = std::make_unique<ServiceProcess>(limits, database);
            ASSERT_TRUE((*instance)->isRunning()) << (*instance)->errorText().toStdString();
        }
        a_ = std::make_unique<ServiceClient>(first_->port());
        b_ = std::make_unique<ServiceClient>(second_->port());
    }

    std::unique_ptr<ServiceProcess> first_, second_;
    std::unique_ptr<ServiceClient> a_, b_;
};

} // namespace

TEST_F(ServiceInstances, EveryChangeMadeThroughOneIsSeenThroughTheOther)
{
    const ServiceClient& a = *a_;
    const ServiceClient& b = *b_;
    const int alice = registerUser(a, u"Alicia"_s, u"alicia@example.org"_s);
    const int bob = registerUser(b, u"bertram"_s);
    ASSERT_GT(alice, 0);
    ASSERT_GT(bob, 0);
    EXPECT_EQ(registerUser(b, u"ALICIA"_s), 0);

    // Signed in through one, bound to this address for both.
    ASSERT_EQ(post(a, {{"mode", u"LOGIN"_s}, {"handle", u"alicia"_s}, {"password", Password}, {"ip", u""_s}})
                  .text("/body/user_id")
                  .toInt(),
        alice);
    EXPECT_EQ(byId(b, "USER_INFO", alice).text("/body/status"), u"1"_s);
    const QString aid = QString::number(alice);
    EXPECT_EQ(post(b, {{"mode", u"USER_UPDATE"_s}, {"user_id", aid}, {"status", u"2"_s}}).text("/body"), u"1"_s);
    EXPECT_EQ(byId(a, "USER_INFO", alice).text("/body/status"), u"2"_s);
    EXPECT_EQ(
        post(a, {{"mode", u"USER_UPDATE"_s}, {"user_id", aid}, {"email", u"new@example.org"_s}}).text("/body"), u"1"_s);
    EXPECT_EQ(post(b, {{"mode", u"USER_FIND"_s}, {"handle", u"alicia"_s}}).text("/body/email"), u"new@example.org"_s);

    const QByteArray picture = ServiceTest::awkwardPicture(5000);
    EXPECT_FALSE(
        b.postWithType(ServiceTest::avatarBody(picture, alice), "multipart/form-data; boundary=7d1f5a80420").empty());
    EXPECT_EQ(byId(a, "USER_AVATAR", alice).base64("/body/avatar"), picture);

    const QString buddyId
        = post(a, {{"mode", u"BUDDY_ADD"_s}, {"user_id", aid}, {"handle", u"BERTRAM"_s}}).text("/body/buddy_id");
    ASSERT_FALSE(buddyId.isEmpty());
    EXPECT_EQ(byId(b, "BUDDY_LIST", alice).list("buddy", "buddy_id"), QStringList{buddyId});
    EXPECT_FALSE(post(b, {{"mode", u"USER_BLOCK"_s}, {"user_id", aid}, {"handle", u"bertram"_s}}).empty());
    EXPECT_EQ(byId(a, "BLOCK_LIST", alice).list("blocked_user", "handle"), QStringList{u"bertram"_s});
    EXPECT_EQ(post(a, {{"mode", u"BUDDY_REMOVE"_s}, {"buddy_id", buddyId}}).text("/body"), u"1"_s);
    EXPECT_TRUE(byId(b, "BUDDY_LIST", alice).list("buddy", "buddy_id").isEmpty());

    // A sign-in from another machine through one instance moves the binding for the other too.
    ASSERT_FALSE(
        post(b, {{"mode", u"LOGIN"_s}, {"handle", u"alicia"_s}, {"password", Password}, {"ip", u""_s}}, "127.0.0.2")
            .empty());
    EXPECT_TRUE(post(a, {{"mode", u"USER_UPDATE"_s}, {"user_id", aid}, {"status", u"1"_s}}).empty());
    EXPECT_EQ(byId(b, "USER_INFO", alice).text("/body/status"), u"1"_s) << "the new sign-in, not the refused change";
    EXPECT_EQ(byId(b, "USER_INFO", alice).text("/body/ip"), u"127.0.0.2"_s);
}

TEST_F(ServiceInstances, OfTwoRegistrationsOfOneHandleThroughBothExactlyOneWins)
{
    constexpr int Rounds = 25;
    for (int round = 0; round < Rounds; ++round) {
        std::atomic<int> ready{0};
        int ids[2] = {};
        const auto racer = [&](int side) {
            ++ready;
            while (ready.load() < 2) { } // both leave the start together
            const QString handle = (side ? u"Racer"_s : u"rACER"_s) + QString::number(round);
            ids[side] = registerUser(side ? *b_ : *a_, handle);
        };
        std::thread one(racer, 0);
        std::thread other(racer, 1);
        one.join();
        other.join();
        EXPECT_EQ((ids[0] > 0) + (ids[1] > 0), 1) << "round " << round << ": " << ids[0] << ", " << ids[1];
    }
}

TEST(ServicePostgresOutage, ARestartOfTheDatabaseFailsTheRequestsThatMeetItAndNoneAfter)
{
    PostgresServer server; // of its own, as it restarts it
    CONFABO_NEED_POSTGRES(server.isRunning(), server.errorText());
    const QString database = server.createDatabase();
    ASSERT_FALSE(database.isEmpty()) << server.errorText().toStdString();
    ServiceProcess service({u"--threads"_s, u"2"_s}, database);
    ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
    const ServiceClient client(service.port());
    const int user = registerUser(client, u"steady"_s);
    ASSERT_FALSE(post(client, {{"mode", u"LOGIN"_s}, {"handle", u"steady"_s}, {"password", Password}}).empty());

    using Clock = std::chrono::steady_clock;
    std::atomic<bool> stop{false};
    std::atomic<Clock::rep> restartedAt{Clock::time_point::max().time_since_epoch().count()};
    std::mutex mutex;
    std::condition_variable progress;
    int before = 0, failed = 0, after = 0, failedAfter = 0;
    std::vector<std::thread> load;
    for (int t = 0; t < 4; ++t) {
        load.emplace_back([&, t] {
            const ServiceClient own(service.port());
            const QString uid = QString::number(user);
            for (int n = 0; !stop; ++n) {
                const Clock::rep started = Clock::now().time_since_epoch().count();
                const bool info = (n + t) % 2;
                const ServiceReply reply = info
                    ? byId(own, "USER_INFO", user)
                    : post(own, {{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"status", u"1"_s}});
                const bool good = reply.status == 200 && !reply.empty();
                std::lock_guard lock(mutex);
                if (started > restartedAt) {
                    ++after;
                    failedAfter += !good;
                } else {
                    before += good;
                    failed += !good;
                }
                progress.notify_all();
            }
        });
    }
    const auto waitFor = [&](const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        return progress.wait_for(lock, std::chrono::seconds(20), done);
    };
    EXPECT_TRUE(waitFor([&] { return before >= 50; }));
    EXPECT_TRUE(server.restart()) << server.errorText().toStdString();
    restartedAt = Clock::now().time_since_epoch().count();
    EXPECT_TRUE(waitFor([&] { return after >= 200; }));
    stop = true;
    for (auto& thread : load)
        thread.join();

    EXPECT_GT(failed, 0) << "requests in flight while the database was down cannot have succeeded";
    EXPECT_EQ(failedAfter, 0) << "of " << after << " requests after the restart";
    EXPECT_TRUE(service.isRunning());
    // Sign-ins run on threads of their own, whose connections were lost as well.
    EXPECT_FALSE(post(client, {{"mode", u"LOGIN"_s}, {"handle", u"steady"_s}, {"password", Password}}).empty());
}
