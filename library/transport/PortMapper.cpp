#include "transport/PortMapper.h"

#include "platform/LeftThreads.h"
#include "transport/PortMapWorker.h"

namespace cfb {

PortMapper::PortMapper(QObject* parent)
    : PortMapper(Options{}, parent)
{
}

PortMapper::PortMapper(const Options& options, QObject* parent)
    : QObject(parent)
    , thread_(new QThread)
    , worker_(new PortMapWorker(options))
{
    qRegisterMetaType<cfb::Reachability>();
    thread_->setObjectName(QStringLiteral("PortMapper"));
    worker_->moveToThread(thread_);
    // Deleted on its own thread as that thread ends. Not deleteLater: a thread left to end during
    // the process's exit was seen never to deliver the deferred deletion.
    connect(thread_, &QThread::finished, thread_, [worker = worker_] { delete worker; }, Qt::DirectConnection);
    connect(worker_, &PortMapWorker::reachabilityChanged, this, [this](const cfb::Reachability& now) {
        if (now == reachability_)
            return;
        reachability_ = now;
        emit reachabilityChanged(now);
    });
    thread_->start();
}

PortMapper::~PortMapper()
{
    worker_->disconnect(this);
    worker_->stop();
    if (worker_->holdsMapping())
        QMetaObject::invokeMethod(worker_, &PortMapWorker::unmap, Qt::BlockingQueuedConnection);
    thread_->quit();
    // Never waited for here (the window's exit must not pause): a thread still looking for a
    // router ends by itself once it has its answer.
    leaveToEnd(thread_);
}

void PortMapper::map(uint16_t port, bool enabled)
{
    QMetaObject::invokeMethod(worker_, [w = worker_, port, enabled] { w->map(port, enabled); });
}

} // namespace cfb
