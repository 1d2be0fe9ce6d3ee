#include "chat/ReceivedPictures.h"

#include <QTimer>

namespace cfb::client {

ReceivedPictures::ReceivedPictures(QObject* parent)
    : QObject(parent)
{
}

void ReceivedPictures::frameArrived(const QString& handle, const QImage& frame)
{
    if (frame.isNull())
        return;
    Sender& sender = senders_[handle];
    if (!sender.timer) {
        sender.timer = new QTimer(this);
        sender.timer->setSingleShot(true);
        sender.timer->setInterval(StillMs);
        connect(sender.timer, &QTimer::timeout, this, [this, handle] { settle(handle); });
    }
    // Whatever waited was a frame of a stream.
    sender.candidate = QImage();
    const bool afterPause = !sender.last.isValid() || sender.last.elapsed() >= StillMs;
    const bool otherSize = frame.size() != sender.lastSize;
    sender.last.start();
    sender.lastSize = frame.size();
    if (afterPause || otherSize) {
        sender.candidate = frame;
        sender.candidateAt = QDateTime::currentDateTime();
        sender.timer->start();
    } else {
        sender.timer->stop();
    }
}

void ReceivedPictures::forget(const QString& handle)
{
    const auto found = senders_.find(handle);
    if (found == senders_.end())
        return;
    delete found->timer;
    senders_.erase(found);
}

void ReceivedPictures::settle(const QString& handle)
{
    const auto found = senders_.find(handle);
    if (found == senders_.end() || found->candidate.isNull())
        return;
    const QImage picture = found->candidate;
    const QDateTime at = found->candidateAt;
    found->candidate = QImage();
    emit pictureReceived(handle, picture, at);
}

} // namespace cfb::client
