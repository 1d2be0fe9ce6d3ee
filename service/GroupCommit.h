#pragma once

#include "BatchQueue.h"
#include "Storage.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cfb::service {

// Commits the changes users send at about the same moment together: a thread of its own takes
// every change waiting and hands them to the store as one batch, so a flood of presence updates
// costs the store one commit per batch instead of one per request, and the HTTP workers go on
// reading requests meanwhile. A batch the store cannot make is tried again a change at a time, so
// one failing change does not fail the others.
class GroupCommit {
public:
    struct Config {
        size_t maxBatch = 256; // changes in one transaction
        size_t queueLength = 4096; // changes waiting; beyond that the caller makes its own
    };
    // What became of one change: applied, refused (not the caller's to make), or failed.
    struct Result {
        bool applied = false;
        std::string error; // why the store failed; empty when it did not
    };
    using Done = std::function<void(const Result&)>;

    GroupCommit(Storage& storage, Config config);

    // Queues the change; `done` is called once it is committed or has failed, from the commit
    // thread. With the queue full, or the thread finishing, the change is made on the calling
    // thread before this returns.
    void submit(OwnChange change, Done done);
    // Commits what is queued and stops the thread; later changes are made by their callers.
    void finish() { queue_.finish(); }

private:
    using Queue = BatchQueue<OwnChange, Result>;

    void commit(std::vector<Queue::Pending>& batch);
    Result applyAlone(const OwnChange& change);

    Storage& storage_;
    Queue queue_; // last: its thread stops before the rest goes
};

} // namespace cfb::service
