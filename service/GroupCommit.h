#pragma once

#include "Storage.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cfb::service {

// Commits the changes users send at about the same moment together. A thread of its own takes
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
    ~GroupCommit(); // finish()
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    // Queues the change; `done` is called once it is committed or has failed, from the commit
    // thread. With the queue full, or the thread finishing, the change is made on the calling
    // thread before this returns.
    void submit(OwnChange change, Done done);
    // Commits what is queued and stops the thread; later changes are made by their callers.
    void finish();

private:
    struct Pending {
        OwnChange change;
        Done done;
    };

    void run();
    void commit(std::vector<Pending>& batch);
    Result applyAlone(const OwnChange& change);

    Storage& storage_;
    const Config config_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Pending> queue_;
    bool finishing_ = false;
    std::thread thread_;
};

} // namespace cfb::service
