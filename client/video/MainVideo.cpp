#include "video/MainVideo.h"

#include "common/LocalErrorHandler.h"
#include "common/modMain.h"
#include "messaging/Confabo.h"
#include "video/CaptureSource.h"
#include "video/CaptureSourceFactory.h"
#include "video/PatternSource.h"
#include "video/VideoPreview.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

namespace cfb::client {

MainVideo::MainVideo(const VideoAddress& address, QWidget* picVideo, QObject* parent)
    : QObject(parent)
    , address_(address)
    , picVideo_(picVideo)
    , preview_(new VideoPreview(picVideo))
{
    preview_->hide();
}

MainVideo::~MainVideo()
{
    stop();
}

bool MainVideo::start(const QString& sourceOption)
{
    if (source_ && source_->isRunning())
        return true;
    source_.reset();
    QString why;
    source_ = createCaptureSource(sourceOption, address_.handle(), &why);
    if (source_ && !source_->start())
        why = source_->errorString();
    if (!source_ || !source_->isRunning()) {
        source_.reset();
        if (!why.isEmpty())
            modMain::ReportError(QStringLiteral("Video: %1").arg(why), modMain::EventError, false);
        return false;
    }
    sender_.loadQuality();
    sender_.loadEncodeFromPlanes();
    sender_.setVp8(true);
    const auto [jpegSize, jpegRate] = jpegFormatBesideVp8();
    sender_.setJpegFormat(jpegSize, jpegRate);
    shownSize_ = source_->frameSize();
    shownRate_ = source_->frameRate();
    connect(source_.get(), &CaptureSource::frameReady, this, &MainVideo::frame);
    connect(source_.get(), &CaptureSource::failed, this, [this](const QString& text) {
        preview_->clear();
        modMain::ReportError(QStringLiteral("Video: %1").arg(text), modMain::EventError, false);
    });
    preview_->show();
    preview_->raise();
    return true;
}

void MainVideo::stop()
{
    sending_ = false;
    if (source_) {
        source_->disconnect(this);
        source_->stop();
    }
    if (preview_)
        preview_->clear();
}

void MainVideo::setHandle(const QString& handle)
{
    if (auto* pattern = qobject_cast<PatternSource*>(source_.get()))
        pattern->setHandle(handle);
}

void MainVideo::showPreviewIn(QWidget* box)
{
    if (!preview_)
        return;
    preview_->setBox(box ? box : picVideo_);
    if (!source_)
        preview_->hide();
}

void MainVideo::setKeepLastFrame(bool on)
{
    keepLastFrame_ = on;
    if (!on)
        lastFrame_ = I420Buffer();
}

QImage MainVideo::snapshot() const
{
    if (lastFrame_.width() < 1)
        return {};
    QImage picture(lastFrame_.size(), QImage::Format_RGB32);
    // Format_RGB32 is libyuv's ARGB on little-endian machines, its BGRA on big-endian ones.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    libyuv::I420ToARGB(
#else
    libyuv::I420ToBGRA(
#endif
        lastFrame_.y(), lastFrame_.width(), lastFrame_.u(), lastFrame_.chromaWidth(), lastFrame_.v(),
        lastFrame_.chromaWidth(), picture.bits(), int(picture.bytesPerLine()), lastFrame_.width(), lastFrame_.height());
    return picture;
}

VideoPreview* MainVideo::preview() const
{
    return preview_;
}

QString MainVideo::formatText() const
{
    if (!source_)
        return QStringLiteral("(No Video)");
    const QString format = QStringLiteral("%1x%2 %3fps")
                               .arg(source_->frameSize().width())
                               .arg(source_->frameSize().height())
                               .arg(source_->frameRate());
    return codecText_.isEmpty() ? format : format + QStringLiteral(" (") + codecText_ + QLatin1Char(')');
}

QString MainVideo::codecText(Buddy* buddy, const QString& handle)
{
    Confabo* sender = buddy ? Confabo::signedInHere(handle) : nullptr;
    return sender ? sender->videoStatus(*buddy) : QString();
}

void MainVideo::showCodec()
{
    // The rate changes every half second at most: looked at twice a second, not every frame.
    if (codecShownAt_.isValid() && codecShownAt_.elapsed() < 500)
        return;
    codecShownAt_.start();
    const QString text = sending_ ? codecText(address_.SelBuddy(), address_.handle()) : QString();
    if (text == codecText_)
        return;
    codecText_ = text;
    emit formatChanged(formatText());
}

MainVideo::Pause::Pause(MainVideo* video)
    : video_(video)
{
    if (video_)
        ++video_->paused_;
}

MainVideo::Pause::~Pause()
{
    if (video_)
        --video_->paused_;
}

void MainVideo::frame(const I420Frame& frame)
{
    preview_->showFrame(frame);
    if (keepLastFrame_ && lastFrame_.resize(frame.width, frame.height))
        libyuv::I420Copy(frame.y, frame.strideY, frame.u, frame.strideU, frame.v, frame.strideV, lastFrame_.y(),
            lastFrame_.width(), lastFrame_.u(), lastFrame_.chromaWidth(), lastFrame_.v(), lastFrame_.chromaWidth(),
            frame.width, frame.height);
    const QSize size(frame.width, frame.height);
    if (size != shownSize_ || source_->frameRate() != shownRate_) {
        shownSize_ = size;
        shownRate_ = source_->frameRate();
        emit formatChanged(formatText());
    }
    if (!sending_ || paused_ > 0)
        return;
    // Without a selected buddy the frame is converted and nothing goes out.
    sender_.setCaptureRate(source_->frameRate());
    withErrorReport(
        "VideoFrame", [&] { sender_.send(frame, address_.SelBuddy(), address_.handle(), address_.dataPort()); });
    showCodec();
}

} // namespace cfb::client
