#include "SqliteCheckpointer.h"

#include "SqliteConnection.h"

#include <sqlite3.h>

#include <cstdio>

namespace cfb::service {
namespace {

constexpr std::chrono::milliseconds MinimumGap{5};

} // namespace

SqliteCheckpointer::SqliteCheckpointer(const std::string& path, Config config, sqlite3* writer, std::mutex& writeMutex)
    : config_(config)
    , writer_(writer)
    , writeMutex_(writeMutex)
    , connection_(std::make_unique<SqliteConnection>(path, SqliteConnection::Role::Checkpointer))
{
    // Replaces SQLite's own hook, which would checkpoint inside the committing call.
    sqlite3_wal_hook(writer_, &SqliteCheckpointer::walCommitted, this);
    thread_ = std::thread([this] { run(); });
}

SqliteCheckpointer::~SqliteCheckpointer()
{
    {
        std::lock_guard lock(writeMutex_); // no commit is inside the hook while it goes
        sqlite3_wal_hook(writer_, nullptr, nullptr);
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

uint64_t SqliteCheckpointer::passes() const
{
    std::lock_guard lock(mutex_);
    return passes_;
}

uint64_t SqliteCheckpointer::failures() const
{
    std::lock_guard lock(mutex_);
    return failures_;
}

// Runs on the committing thread with the writer mutex held: normally a flag and, once per pass, a
// wake-up; once after each background pass, the short catch-up.
int SqliteCheckpointer::walCommitted(void* self, sqlite3* db, const char* schema, int frames)
{
    auto& checkpointer = *static_cast<SqliteCheckpointer*>(self);
    if (checkpointer.catchUpWanted_.exchange(false, std::memory_order_acq_rel)) {
        // No other commit can begin while this one holds the writer, so this copies the whole
        // log (unless a reader still needs old pages) and the next commit starts it over. A
        // failure leaves the log as it is; the next pass tries again.
        sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    bool wake = false;
    {
        std::lock_guard lock(checkpointer.mutex_);
        checkpointer.dirty_ = true;
        if (frames >= checkpointer.config_.walFrames && !checkpointer.due_)
            wake = checkpointer.due_ = true;
    }
    if (wake)
        checkpointer.wake_.notify_one();
    return SQLITE_OK;
}

void SqliteCheckpointer::run()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, config_.interval, [this] { return stopping_ || due_; });
        if (stopping_)
            break;
        if (!dirty_)
            continue;
        due_ = dirty_ = false;
        lock.unlock();
        const bool ok = checkpoint();
        lock.lock();
        ++(ok ? passes_ : failures_);
        // Commits during the pass found the log still long; it has been copied since.
        due_ = false;
        // When a reader keeps the log from starting over, it stays long and every commit asks
        // for a pass: leave a gap so that cannot turn into a busy loop.
        wake_.wait_for(lock, MinimumGap, [this] { return stopping_; });
    }
}

bool SqliteCheckpointer::checkpoint()
{
    sqlite3* db = connection_->handle();
    int logFrames = 0;
    int copiedFrames = 0;
    // Each pass flushes the log written so far and copies it while commits go on. The first pass
    // has most of the log to flush, the second only what came during the first.
    int rc = SQLITE_OK;
    for (int pass = 0; pass < 2 && rc == SQLITE_OK; ++pass) {
        rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copiedFrames);
        if (copiedFrames == logFrames && logFrames < config_.walFrames)
            break;
    }
    // A commit that began while the log was being copied cannot start it over, so under steady
    // load the log would only grow. The next commit copies the little that is left, with the
    // writer already in hand (taking the writer mutex from here would wait behind busy writers
    // while the log grows).
    if (rc == SQLITE_OK && logFrames >= config_.walFrames)
        catchUpWanted_.store(true, std::memory_order_release);
    if (rc == SQLITE_OK || rc == SQLITE_BUSY) // busy: another connection is checkpointing
        return true;
    std::fprintf(stderr, "confabo-service: checkpoint failed: %s\n", sqlite3_errmsg(db));
    return false;
}

} // namespace cfb::service
