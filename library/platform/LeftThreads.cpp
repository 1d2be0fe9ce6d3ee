#include "platform/LeftThreads.h"

#include <QDeadlineTimer>
#include <QThread>

#include <mutex>
#include <vector>

namespace cfb {
namespace {

class LeftThreads {
public:
    ~LeftThreads()
    {
        for (QThread* thread : threads_) {
            thread->wait();
            delete thread;
        }
    }
    void add(QThread* thread)
    {
        const std::lock_guard lock(mutex_);
        threads_.push_back(thread);
    }

private:
    std::mutex mutex_;
    std::vector<QThread*> threads_;
};

LeftThreads& leftThreads()
{
    static LeftThreads threads;
    return threads;
}

} // namespace

void leaveToEnd(QThread* thread)
{
    if (thread->wait(QDeadlineTimer(0)))
        delete thread;
    else
        leftThreads().add(thread);
}

} // namespace cfb
