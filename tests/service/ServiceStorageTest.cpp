// SqliteStorage under many writers at once, with its checkpoints running on their own thread:
// every write lands, the write-ahead log does not grow without end, the database file itself
// catches up, and nothing acknowledged is lost when the process dies without closing.

#include "SqliteStorage.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace cfb::service;
using namespace std::chrono_literals;

namespace {

const QString Address = QStringLiteral("127.0.0.1");

int32_t addUser(SqliteStorage& storage, int index)
{
    NewUser user;
    user.handle = QStringLiteral("writer%1").arg(index);
    user.passwordHash = "hash";
    user.address = Address;
    const auto id = storage.insertUser(user);
    EXPECT_TRUE(id.has_value());
    return id.value_or(0);
}

// The mouth position a thread writes on its n-th update; both halves stay in int16 range.
int16_t topOf(int n)
{
    return int16_t(n % 30000);
}
int16_t leftOf(int thread)
{
    return int16_t(thread + 1);
}

// Runs one query straight on a database file, without any WAL beside it, and gives the first
// column of its first row.
std::optional<int64_t> integerInFile(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    std::optional<int64_t> result;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            result = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

std::optional<int64_t> mouthTopInFile(const std::string& path, int32_t userId)
{
    return integerInFile(path, "SELECT mouth_top FROM users WHERE id = " + std::to_string(userId));
}

bool setSchemaVersion(const std::string& path, int64_t version)
{
    sqlite3* db = nullptr;
    const std::string sql = "PRAGMA user_version = " + std::to_string(version);
    const bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK
        && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

} // namespace

TEST(SqliteStorageWrites, ConcurrentWritersAllSucceedAndTheLogIsCopiedBackAndReused)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("s.db")).toStdString();
    SqliteStorage storage(path, {.walFrames = 50, .interval = 20ms});

    constexpr int Threads = 4;
    constexpr int Updates = 2500;
    int32_t ids[Threads];
    for (int t = 0; t < Threads; ++t)
        ids[t] = addUser(storage, t);

    std::atomic<int> refused{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&, t] {
            const Caller caller{ids[t], Address};
            for (int n = 1; n <= Updates; ++n) {
                try {
                    if (!storage.setMouth(caller, topOf(n), leftOf(t)) || !storage.setStatus(caller, n % 3))
                        ++refused;
                    if (n % 100 == 0 && !storage.presence(ids[t]))
                        ++refused;
                } catch (const StorageError&) {
                    ++failed; // "database is locked" and the like
                }
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(failed, 0);

    for (int t = 0; t < Threads; ++t) {
        const auto presence = storage.presence(ids[t]);
        ASSERT_TRUE(presence);
        EXPECT_EQ(presence->mouthTop, topOf(Updates));
        EXPECT_EQ(presence->mouthLeft, leftOf(t));
        EXPECT_EQ(presence->status, Updates % 3);
    }

    // 20000 commits of a page each would make an 80 MB log if it never started over. How often it
    // starts over depends on when the checkpointer thread gets the processor, so on a busy
    // machine the log may grow well past the few megabytes it keeps on a quiet one; half the
    // never-restarted size still proves that it is reused.
    const auto walSize = std::filesystem::file_size(path + "-wal");
    EXPECT_LT(walSize, 40u * 1024 * 1024);
    EXPECT_GT(storage.checkpointer().passes(), 0u);
    EXPECT_EQ(storage.checkpointer().failures(), 0u);

    // Once writing stops, a timed pass copies the rest into the database file itself: a copy of
    // that file alone, without its log, already holds the last writes.
    const std::string copy = dir.filePath(QStringLiteral("copy.db")).toStdString();
    bool caughtUp = false;
    for (int i = 0; i < 200 && !caughtUp; ++i) {
        std::this_thread::sleep_for(10ms);
        std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
        caughtUp = mouthTopInFile(copy, ids[Threads - 1]) == topOf(Updates);
    }
    EXPECT_TRUE(caughtUp) << "the database file never received the last writes";
}

TEST(SqliteStorageWrites, AcknowledgedWritesSurviveAProcessThatDiesWithoutClosing)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("crash.db")).toStdString();
    constexpr int Users = 3;
    constexpr int Updates = 3000;

    // The child writes with frequent checkpoints and leaves in the middle of whatever it is doing:
    // no destructor runs, so neither the final checkpoint nor the close happens.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 0;
        try {
            auto* storage = new SqliteStorage(path, {.walFrames = 20, .interval = 1ms});
            int32_t ids[Users];
            for (int u = 0; u < Users; ++u)
                ids[u] = addUser(*storage, u);
            for (int n = 1; n <= Updates && status == 0; ++n) {
                for (int u = 0; u < Users; ++u) {
                    if (!storage->setMouth({ids[u], Address}, topOf(n), leftOf(u)))
                        status = 2;
                }
            }
        } catch (...) {
            status = 3;
        }
        _exit(status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the writing process failed";

    SqliteStorage reopened(path);
    for (int u = 0; u < Users; ++u) {
        const auto user = reopened.userByHandle(QStringLiteral("writer%1").arg(u));
        ASSERT_TRUE(user) << u;
        EXPECT_EQ(user->mouthTop, topOf(Updates));
        EXPECT_EQ(user->mouthLeft, leftOf(u));
        // The account still takes changes from its address after the reopen.
        EXPECT_TRUE(reopened.setStatus({user->id, Address}, 2));
        EXPECT_FALSE(reopened.setStatus({user->id, QStringLiteral("127.0.0.2")}, 2));
    }
}

TEST(SqliteStorageSchema, DatabaseOfANewerServiceIsRefusedAndLeftAsItIs)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("newer.db")).toStdString();
    {
        SqliteStorage storage(path);
        addUser(storage, 0);
    }
    const int64_t newer = SqliteStorage::SchemaVersion + 1;
    ASSERT_TRUE(setSchemaVersion(path, newer));

    EXPECT_THROW(SqliteStorage{path}, StorageError);
    EXPECT_EQ(integerInFile(path, "PRAGMA user_version"), newer) << "the refusal must not step the version back";
    EXPECT_EQ(integerInFile(path, "SELECT count(*) FROM users"), 1);

    // The same file at this service's version opens with its data.
    ASSERT_TRUE(setSchemaVersion(path, SqliteStorage::SchemaVersion));
    SqliteStorage current(path);
    EXPECT_TRUE(current.userByHandle(QStringLiteral("writer0")));
}
