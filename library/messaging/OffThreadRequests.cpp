#include "messaging/OffThreadRequests.h"

#include "messaging/modINET.h"
#include "platform/LeftThreads.h"

#include <QMetaObject>
#include <QMutex>
#include <QThread>

namespace cfb {

// What the request thread shares with the owner's: where answers go, while there is a receiver.
struct OffThreadRequests::Shared {
    QMutex mutex;
    OffThreadRequests* receiver = nullptr;
};

OffThreadRequests::OffThreadRequests(QObject* owner)
    : QObject(owner)
    , shared_(std::make_shared<Shared>())
    , thread_(new QThread)
    , worker_(new QObject)
{
    shared_->receiver = this;
    thread_->setObjectName(QStringLiteral("mail requests"));
    worker_->moveToThread(thread_);
    // The worker goes on its own thread as that thread ends (the thread may outlive this object;
    // a deferred deletion is not delivered to a thread that ends during the process's exit).
    connect(thread_, &QThread::finished, thread_, [worker = worker_] { delete worker; }, Qt::DirectConnection);
    thread_->start();
}

OffThreadRequests::~OffThreadRequests()
{
    {
        QMutexLocker lock(&shared_->mutex);
        shared_->receiver = nullptr;
    }
    // After the request that runs (if any). Never waited for here: a request may take the
    // service's whole timeout, and the window's exit must not pause for it.
    thread_->quit();
    leaveToEnd(thread_);
}

void OffThreadRequests::post(Request request, Answer answer)
{
    // The service this thread would ask; the request thread never refuses requests.
    ServiceChannel channel = ServiceChannel::current();
    channel.refusesRequests = false;
    channel.lastFailure.clear();
    ++pending_;
    const uint64_t generation = generation_;
    std::shared_ptr<Shared> shared = shared_;
    QMetaObject::invokeMethod(
        worker_,
        [shared, channel = std::move(channel), request = std::move(request), answer = std::move(answer),
            generation]() mutable {
            ServiceChannel& mine = ServiceChannel::current();
            mine.scriptPath = channel.scriptPath;
            mine.server = channel.server;
            mine.sendTimeout = channel.sendTimeout;
            mine.recvTimeout = channel.recvTimeout;
            mine.connTimeout = channel.connTimeout;
            mine.caFile = channel.caFile;
            mine.refusesRequests = false;
            {
                QMutexLocker lock(&shared->mutex);
                if (!shared->receiver)
                    return; // nobody waits for it any more
            }
            request();
            // Posted under the lock: the receiver cannot go between the check and the post, and
            // a receiver destroyed later takes its posted answers with it.
            QMutexLocker lock(&shared->mutex);
            OffThreadRequests* receiver = shared->receiver;
            if (!receiver)
                return;
            QMetaObject::invokeMethod(
                receiver,
                [receiver, answer = std::move(answer), generation] {
                    --receiver->pending_;
                    if (generation == receiver->generation_)
                        answer();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void OffThreadRequests::cancel()
{
    ++generation_;
}

} // namespace cfb
