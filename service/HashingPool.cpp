#include "HashingPool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace cfb::service {
namespace {

// Nice value of the hashing threads: lookups on the HTTP workers (nice 0) get about three times
// their share of a contended core, while sign-ins still progress on a loaded machine.
constexpr int HashingNice = 5;

} // namespace

HashingPool::HashingPool(Config config)
    : queueLength_(std::max<size_t>(1, config.queueLength))
{
    const unsigned count = config.threads ? config.threads : std::max(1u, std::thread::hardware_concurrency() / 2);
    threads_.reserve(count);
    for (unsigned i = 0; i < count; ++i)
        threads_.emplace_back([this] { run(); });
}

HashingPool::~HashingPool()
{
    finish();
}

bool HashingPool::submit(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        if (finishing_ || queue_.size() >= queueLength_)
            return false;
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void HashingPool::finish()
{
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable())
            t.join();
    }
}

void HashingPool::run()
{
    // On Linux a thread's nice value is its own; failing to lower it only costs the preference.
    (void)setpriority(PRIO_PROCESS, unsigned(gettid()), HashingNice);
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return finishing_ || !queue_.empty(); });
            if (queue_.empty())
                return; // finishing, and nothing left to run
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}

} // namespace cfb::service
