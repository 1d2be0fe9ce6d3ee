#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace cfb::service {

// A few threads of their own for the password hashing (argon2id, about 20 ms of a core each), so
// a flood of sign-ins cannot occupy the HTTP workers that answer lookups. Jobs wait in a bounded
// queue; when it is full a job is refused at once instead of making its client wait behind the
// flood. The threads run at a lower scheduling priority than the workers, so lookups win a busy
// core.
class HashingPool {
public:
    struct Config {
        unsigned threads = 0; // 0: half the cores, at least one
        size_t queueLength = 32; // jobs waiting for a thread
    };

    explicit HashingPool(Config config);
    ~HashingPool(); // finish()
    HashingPool(const HashingPool&) = delete;
    HashingPool& operator=(const HashingPool&) = delete;

    // Queues the job; false (and the job dropped) when the queue is full or the pool finishing.
    bool submit(std::function<void()> job);
    // Refuses further jobs, runs those already queued and stops the threads.
    void finish();

    unsigned threads() const { return unsigned(threads_.size()); }

private:
    void run();

    const size_t queueLength_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool finishing_ = false;
    std::vector<std::thread> threads_;
};

} // namespace cfb::service
