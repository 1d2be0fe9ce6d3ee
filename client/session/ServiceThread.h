#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

namespace cfb {
class Confabo;
} // namespace cfb

namespace cfb::client {

// A thread of its own for the client's service requests, with a library object of its own that
// has no data port (the service channel and its timeouts are per thread). Jobs run one after
// the other in the order they were posted, so their answers come back in that order too.
class ServiceThread : public QObject {
    Q_OBJECT

public:
    using Job = std::function<void(cfb::Confabo&)>;

    explicit ServiceThread(QObject* parent = nullptr);
    // Waits for the job that runs, as finish() does with its default.
    ~ServiceThread() override;

    void post(Job job);

    // Lets the jobs posted so far run, then ends the thread. True when it ended within
    // timeoutMs; otherwise it is left to end on its own (a request that waits on a silent
    // service), and nothing of it is touched again.
    bool finish(int timeoutMs);

private:
    QThread* thread_;
    QObject* worker_; // lives on thread_
    std::shared_ptr<std::unique_ptr<cfb::Confabo>> confabo_; // made and destroyed on thread_
    bool finished_ = false;
};

} // namespace cfb::client
