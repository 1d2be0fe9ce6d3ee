#include "mainwindow/VideoStopCaption.h"

#include <QLabel>

namespace cfb::client {

VideoStopCaption::VideoStopCaption(QLabel& box, QObject* parent)
    : QObject(parent)
    , box_(box)
    , caption_(new QLabel(QStringLiteral("Video stopped"), &box))
{
    caption_->setObjectName(QStringLiteral("lblVideoStopped"));
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, 160); color: white; padding: 2px;"));
    caption_->hide();
    silence_.setSingleShot(true);
    silence_.setInterval(StoppedAfterMs);
    connect(&silence_, &QTimer::timeout, this, &VideoStopCaption::stopped);
}

void VideoStopCaption::follow(const QString& handle)
{
    if (handle == handle_)
        return;
    handle_ = handle;
    streaming_ = false;
    lastFrame_.invalidate();
    silence_.stop();
    caption_->hide();
}

void VideoStopCaption::frameShown(const QString& handle)
{
    follow(handle);
    streaming_ = streaming_ || (lastFrame_.isValid() && lastFrame_.elapsed() <= StreamGapMs);
    lastFrame_.start();
    caption_->hide();
    if (streaming_)
        silence_.start();
}

bool VideoStopCaption::isShown() const
{
    return caption_->isVisible();
}

void VideoStopCaption::stopped()
{
    streaming_ = false;
    place();
    caption_->show();
    caption_->raise();
}

void VideoStopCaption::place()
{
    const int height = caption_->sizeHint().height();
    caption_->setGeometry(0, box_.height() - height, box_.width(), height);
}

} // namespace cfb::client
