#include "chat/PictureSender.h"

#include "chat/PictureFrame.h"
#include "common/LocalErrorHandler.h"
#include "channel/FileContent.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/ClientSession.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <cstdint>

namespace cfb::client {

// What the worker thread reads; the rest of a job stays on this thread.
struct PictureRequest {
    QString path;
    int quality = 0;
    QString fromHandle;
    std::atomic<bool> abandoned{false};
};

struct PictureSender::Job {
    std::shared_ptr<PictureRequest> request;
    std::shared_ptr<cfb::Buddy> buddy;
    int16_t port = 0;
    QPointer<QWidget> busy;
    QFutureWatcher<PictureFrame::Prepared>* watcher = nullptr;
};

PictureSender::PictureSender(ClientSession& session, QWidget* window)
    : QObject(window)
    , session_(session)
    , window_(window)
{
}

PictureSender::~PictureSender()
{
    cancel();
}

bool PictureSender::start(std::shared_ptr<cfb::Buddy> buddy, QWidget* busy)
{
    const QString path = PictureFrame::chooseFile(window_);
    if (path.isEmpty())
        return false;
    cancel(); // the newer picture wins

    auto job = std::make_shared<Job>();
    job->request = std::make_shared<PictureRequest>();
    job->request->path = path;
    job->request->quality = PictureFrame::chosenQuality();
    job->request->fromHandle = session_.handle();
    job->buddy = std::move(buddy);
    job->port = session_.dataPort();
    job->busy = busy;
    if (busy)
        busy->setCursor(Qt::BusyCursor);

    auto promise = std::make_shared<QPromise<PictureFrame::Prepared>>();
    job->watcher = new QFutureWatcher<PictureFrame::Prepared>(this);
    connect(job->watcher, &QFutureWatcherBase::finished, this, [this, job] { finished(job); });
    job->watcher->setFuture(promise->future());
    job_ = job;

    promise->start();
    QThreadPool::globalInstance()->start([promise, request = job->request] {
        PictureFrame::Prepared prepared;
        try {
            prepared = PictureFrame::prepare(request->path, request->quality, request->fromHandle, &request->abandoned);
        } catch (...) {
            prepared = {}; // out of memory on a huge picture: reported as one that cannot be read
        }
        promise->addResult(prepared);
        promise->finish();
    });
    return true;
}

void PictureSender::cancel()
{
    if (job_) {
        job_->request->abandoned = true;
        release(job_);
    }
}

void PictureSender::release(const std::shared_ptr<Job>& job)
{
    if (job->busy)
        job->busy->unsetCursor();
    job->watcher->disconnect(this);
    job->watcher->deleteLater();
    if (job_ == job)
        job_.reset();
}

// A buddy whose client has a key gets the picture file as it is, up to 16 MB; anyone else a
// frame made from it.
bool PictureSender::sendWhole(const Job& job)
{
    Confabo* library = session_.library();
    if (!library || library->security(*job.buddy) != PeerSecurity::Encrypted
        || QFileInfo(job.request->path).size() > FileContent::MaxPictureBytes)
        return false;
    QString error;
    return library->SendFile(job.buddy->handle(), job.request->path, true, job.port, error) != 0;
}

void PictureSender::finished(const std::shared_ptr<Job>& job)
{
    if (job != job_)
        return;
    const PictureFrame::Prepared prepared
        = job->watcher->future().resultCount() > 0 ? job->watcher->future().result() : PictureFrame::Prepared{};
    release(job);
    withErrorReport("cmdPic_Click", [&] {
        if (prepared.picture.isNull()) {
            PictureFrame::reportUnreadable(window_, job->request->path);
            return;
        }
        emit sending(prepared.picture, job->buddy->handle());
        if (!sendWhole(*job) && !prepared.frame.isEmpty())
            job->buddy->SendFrame(prepared.frame, job->request->fromHandle, job->port);
    });
}

} // namespace cfb::client
