#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace cfb::service {

class SqliteConnection;

// Copies committed pages from the write-ahead log back into the database file on a thread of its
// own. Left to SQLite, that copy and its two fsyncs run inside whichever commit pushes the log past
// its limit, holding the writer for several milliseconds. Here the writer connection only reports
// the log's length after each commit; a pass starts once the log reaches `walFrames`, or after
// `interval` when anything was committed. A pass runs beside the writer; when commits went on
// meanwhile, the next commit copies the rest itself (a short step, as most of the log is already
// flushed and copied), so that the commit after it can start the log over instead of letting it
// grow.
class SqliteCheckpointer {
public:
    struct Config {
        // Each cycle of the log costs up to three flushes to disk inside commits (the catch-up's
        // two and the restart's header), and every writer waits for them, so a cycle should come
        // seldom: 10000 frames (about 40 MiB of log) last a second or more of the busiest writing.
        int walFrames = 10000;
        std::chrono::milliseconds interval{1000};
    };

    // Opens its own connection to `path`; the writer connection `writer` is serialised by
    // `writeMutex`.
    SqliteCheckpointer(const std::string& path, Config config, sqlite3* writer, std::mutex& writeMutex);
    ~SqliteCheckpointer(); // removes the hook and stops the thread; the writer closes after it
    SqliteCheckpointer(const SqliteCheckpointer&) = delete;
    SqliteCheckpointer& operator=(const SqliteCheckpointer&) = delete;

    // Checkpoints run so far, and failed ones (a failure is retried on the next pass).
    uint64_t passes() const;
    uint64_t failures() const;

private:
    static int walCommitted(void* self, sqlite3* db, const char* schema, int frames);
    void run();
    bool checkpoint();

    Config config_;
    sqlite3* writer_;
    std::mutex& writeMutex_;
    std::unique_ptr<SqliteConnection> connection_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> catchUpWanted_{false};
    bool stopping_ = false;
    bool due_ = false; // the log reached walFrames
    bool dirty_ = false; // something was committed since the last pass
    uint64_t passes_ = 0;
    uint64_t failures_ = 0;
    std::thread thread_;
};

} // namespace cfb::service
