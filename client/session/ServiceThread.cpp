#include "session/ServiceThread.h"

#include "messaging/Confabo.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

namespace cfb::client {

ServiceThread::ServiceThread(QObject* parent)
    : QObject(parent)
    , thread_(new QThread)
    , worker_(new QObject)
    , confabo_(std::make_shared<std::unique_ptr<cfb::Confabo>>())
{
    thread_->setObjectName(QStringLiteral("service requests"));
    worker_->moveToThread(thread_);
    thread_->start();
}

ServiceThread::~ServiceThread()
{
    finish(2000);
}

void ServiceThread::post(Job job)
{
    if (finished_)
        return;
    auto confabo = confabo_;
    QMetaObject::invokeMethod(
        worker_,
        [confabo, job = std::move(job)] {
            if (!*confabo)
                *confabo = std::make_unique<cfb::Confabo>(cfb::Confabo::WithoutDataPort);
            job(**confabo);
        },
        Qt::QueuedConnection);
}

bool ServiceThread::finish(int timeoutMs)
{
    if (finished_)
        return true;
    finished_ = true;
    QObject* worker = worker_;
    QThread* thread = thread_;
    // The last job: the library object dies on the thread that made it, then the thread ends.
    auto confabo = confabo_;
    QMetaObject::invokeMethod(
        worker,
        [confabo, worker] {
            confabo->reset();
            worker->deleteLater();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    // Waiting in the event loop: the windows still paint, and a heartbeat goes on.
    if (!thread->isFinished()) {
        QEventLoop loop;
        QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        if (!thread->isFinished())
            loop.exec();
    }
    if (thread->wait(QDeadlineTimer(0))) {
        delete thread;
        return true;
    }
    // Still inside a request: the thread and its objects stay alive until it ends, and then
    // clean up after themselves.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    return false;
}

} // namespace cfb::client
