#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QThread;

namespace cfb {

// Service requests for an object that must not wait on them: each runs on a thread of its own,
// one after the other in the order posted, against the service its owner's thread talks to (its
// address, path and timeouts at the time of posting). The answer comes back to the owner's
// thread. An answer that arrives after the owner is gone, or after cancel(), is dropped.
class OffThreadRequests : public QObject {
    Q_OBJECT

public:
    using Request = std::function<void()>; // runs on the request thread
    using Answer = std::function<void()>; // runs on the owner's thread

    explicit OffThreadRequests(QObject* owner);
    // Does not wait for a request that runs: it ends on its own, and its answer is dropped.
    ~OffThreadRequests() override;

    void post(Request request, Answer answer);
    // Drops the answers of everything posted so far (requests already running still run).
    void cancel();
    // Requests posted and not answered (or dropped) yet.
    int pending() const { return pending_; }

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    QThread* thread_;
    QObject* worker_; // lives on thread_
    uint64_t generation_ = 0;
    int pending_ = 0;
};

} // namespace cfb
