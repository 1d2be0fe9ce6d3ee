#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace cfb::service {

// Work handed in from many threads and handled a batch at a time on a thread of its own: the
// thread takes everything waiting (up to a batch's worth) and hands it to `handle`, which answers
// each item through its `done`. Batches grow by themselves under load: what arrives while one is
// handled makes up the next.
template <typename Item, typename Answer> class BatchQueue {
public:
    using Done = std::function<void(const Answer&)>;
    struct Pending {
        Item item;
        Done done;
    };
    using Handle = std::function<void(std::vector<Pending>& batch)>;

    BatchQueue(size_t maxBatch, size_t queueLength, Handle handle)
        : maxBatch_(std::max<size_t>(1, maxBatch))
        , queueLength_(queueLength)
        , handle_(std::move(handle))
    {
        queue_.reserve(maxBatch_);
        thread_ = std::thread([this] { run(); });
    }
    ~BatchQueue() { finish(); }
    BatchQueue(const BatchQueue&) = delete;
    BatchQueue& operator=(const BatchQueue&) = delete;

    // Queues the item; false when the queue is full or finishing, and then `done` is not called.
    bool submit(Item& item, Done& done)
    {
        {
            std::lock_guard lock(mutex_);
            if (finishing_ || queue_.size() >= queueLength_)
                return false;
            queue_.push_back({std::move(item), std::move(done)});
            if (queue_.size() > 1)
                return true; // the thread is awake or about to take them
        }
        wake_.notify_one();
        return true;
    }

    // Handles what is queued and stops the thread.
    void finish()
    {
        {
            std::lock_guard lock(mutex_);
            finishing_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run()
    {
        std::vector<Pending> batch;
        batch.reserve(maxBatch_);
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return finishing_ || !queue_.empty(); });
                if (queue_.empty())
                    return; // finishing, and nothing left
                if (queue_.size() <= maxBatch_) {
                    batch.swap(queue_); // the usual case: everything waiting, no copying
                } else {
                    const auto end = queue_.begin() + std::ptrdiff_t(maxBatch_);
                    std::move(queue_.begin(), end, std::back_inserter(batch));
                    queue_.erase(queue_.begin(), end);
                }
            }
            handle_(batch);
            batch.clear();
        }
    }

    const size_t maxBatch_;
    const size_t queueLength_;
    const Handle handle_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Pending> queue_;
    bool finishing_ = false;
    std::thread thread_;
};

} // namespace cfb::service
