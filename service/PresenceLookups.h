#pragma once

#include "BatchQueue.h"
#include "Storage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cfb::service {

// Presence lookups (the clients' most frequent request) gathered into one query: a thread of its
// own takes every lookup waiting and asks the store for all of them at once, so where each lookup
// costs a round trip to a database server a batch costs one, and the HTTP workers go on reading
// requests meanwhile.
class PresenceLookups {
public:
    struct Config {
        size_t maxBatch = 512; // users in one query
        size_t queueLength = 4096; // lookups waiting; beyond that the caller makes its own
    };
    struct Result {
        std::optional<UserPresence> presence; // nullopt: no such user, or the store failed
        std::string error; // why the store failed; empty when it did not
    };
    using Done = std::function<void(const Result&)>;

    PresenceLookups(Storage& storage, Config config);

    // Queues the lookup; `done` is called with the answer from the lookup thread. With the queue
    // full, or the thread finishing, the lookup is made on the calling thread before this returns.
    void submit(int32_t userId, Done done);
    void finish() { queue_.finish(); } // answers what is queued and stops the thread

private:
    using Queue = BatchQueue<int32_t, Result>;

    void lookUp(std::vector<Queue::Pending>& batch);

    Storage& storage_;
    Queue queue_; // last: its thread stops before the rest goes
};

} // namespace cfb::service
