#include "video/VideoPreview.h"

#include <QEvent>
#include <QPainter>

#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

namespace cfb::client {

VideoPreview::VideoPreview(QWidget* box)
    : QWidget(box)
    , box_(box)
{
    setObjectName(QStringLiteral("videoPreview"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    box->installEventFilter(this);
    followBox();
}

void VideoPreview::setBox(QWidget* box)
{
    if (!box || box == box_)
        return;
    box_->removeEventFilter(this);
    box_ = box;
    setParent(box);
    box->installEventFilter(this);
    followBox();
    show();
    raise();
}

bool VideoPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == box_ && event->type() == QEvent::Resize)
        followBox();
    return QWidget::eventFilter(watched, event);
}

// The inside of the box, less one pixel each way, as the capture picture always sat.
void VideoPreview::followBox()
{
    setGeometry(box_->contentsRect().adjusted(1, 1, -1, -1));
}

void VideoPreview::showFrame(const I420Frame& frame)
{
    if (!frame.isValid() || !isVisible())
        return;
    const QSize fitted = QSize(frame.width, frame.height).scaled(size(), Qt::KeepAspectRatio);
    if (fitted.width() < 2 || fitted.height() < 2)
        return;
    if (picture_.size() != fitted) {
        if (!scaled_.resize(fitted))
            return;
        picture_ = QImage(fitted, QImage::Format_RGB32);
        ++allocations_;
    }
    const uint8_t *y = frame.y, *u = frame.u, *v = frame.v;
    int strideY = frame.strideY, strideU = frame.strideU, strideV = frame.strideV;
    if (fitted != QSize(frame.width, frame.height)) {
        libyuv::I420Scale(frame.y, frame.strideY, frame.u, frame.strideU, frame.v, frame.strideV, frame.width,
            frame.height, scaled_.y(), scaled_.width(), scaled_.u(), scaled_.chromaWidth(), scaled_.v(),
            scaled_.chromaWidth(), scaled_.width(), scaled_.height(), libyuv::kFilterBox);
        y = scaled_.y();
        u = scaled_.u();
        v = scaled_.v();
        strideY = scaled_.width();
        strideU = strideV = scaled_.chromaWidth();
    }
    // QImage::Format_RGB32 is one 0xffRRGGBB word per pixel: libyuv's ARGB on little-endian
    // machines, its BGRA on big-endian ones.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    libyuv::I420ToARGB(
#else
    libyuv::I420ToBGRA(
#endif
        y, strideY, u, strideU, v, strideV, picture_.bits(), int(picture_.bytesPerLine()), fitted.width(),
        fitted.height());
    update();
}

void VideoPreview::clear()
{
    picture_ = QImage();
    update();
}

void VideoPreview::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage((width() - picture_.width()) / 2, (height() - picture_.height()) / 2, picture_);
}

} // namespace cfb::client
