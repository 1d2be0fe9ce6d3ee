#include "video/CameraSource.h"

#include <QCamera>
#include <QCameraFormat>
#include <QImage>
#include <QVideoFrame>
#include <QVideoSink>

#include <limits>

namespace cfb::client {

CameraSource::CameraSource(const QCameraDevice& device, QSize size, int rate, QObject* parent)
    : CaptureSource(size, rate, parent)
    , device_(device)
{
}

CameraSource::~CameraSource()
{
    stop();
}

QString CameraSource::name() const
{
    return QStringLiteral("camera:") + QString::fromUtf8(device_.id());
}

QList<QSize> CameraSource::supportedSizes() const
{
    QSize largest;
    for (const QCameraFormat& format : device_.videoFormats()) {
        const QSize r = format.resolution();
        if (r.width() * r.height() > largest.width() * largest.height())
            largest = r;
    }
    QList<QSize> sizes;
    for (const QSize& size : commonSizes())
        if (largest.isEmpty() || (size.width() <= largest.width() && size.height() <= largest.height()))
            sizes.append(size);
    return sizes.isEmpty() ? QList<QSize>{commonSizes().first()} : sizes;
}

bool CameraSource::converterFormat(int qtPixelFormat, I420Converter::Format& format)
{
    using F = I420Converter::Format;
    switch (QVideoFrameFormat::PixelFormat(qtPixelFormat)) {
    case QVideoFrameFormat::Format_YUV420P:
        format = F::I420;
        return true;
    case QVideoFrameFormat::Format_YV12:
        format = F::YV12;
        return true;
    case QVideoFrameFormat::Format_NV12:
        format = F::NV12;
        return true;
    case QVideoFrameFormat::Format_NV21:
        format = F::NV21;
        return true;
    case QVideoFrameFormat::Format_YUYV:
        format = F::YUYV;
        return true;
    case QVideoFrameFormat::Format_UYVY:
        format = F::UYVY;
        return true;
    case QVideoFrameFormat::Format_Jpeg:
        format = F::MJPEG;
        return true;
    case QVideoFrameFormat::Format_BGRA8888:
    case QVideoFrameFormat::Format_BGRA8888_Premultiplied:
    case QVideoFrameFormat::Format_BGRX8888:
        format = F::BGRA;
        return true;
    case QVideoFrameFormat::Format_RGBA8888:
    case QVideoFrameFormat::Format_RGBX8888:
        format = F::RGBA;
        return true;
    case QVideoFrameFormat::Format_ARGB8888:
    case QVideoFrameFormat::Format_ARGB8888_Premultiplied:
    case QVideoFrameFormat::Format_XRGB8888:
        format = F::ARGB;
        return true;
    case QVideoFrameFormat::Format_ABGR8888:
    case QVideoFrameFormat::Format_XBGR8888:
        format = F::ABGR;
        return true;
    default:
        return false;
    }
}

void CameraSource::chooseCameraFormat()
{
    // The smallest picture that covers the configured size at the configured rate, preferring
    // raw layouts over JPEG (cheaper to convert); failing that, the largest picture there is.
    const QSize want = frameSize();
    QCameraFormat best, largest;
    qint64 bestArea = std::numeric_limits<qint64>::max(), largestArea = 0;
    for (const QCameraFormat& format : device_.videoFormats()) {
        I420Converter::Format layout;
        if (!converterFormat(format.pixelFormat(), layout))
            continue;
        const QSize r = format.resolution();
        const qint64 area = qint64(r.width()) * r.height();
        if (area > largestArea) {
            largest = format;
            largestArea = area;
        }
        if (r.width() < want.width() || r.height() < want.height() || format.maxFrameRate() < frameRate())
            continue;
        const bool jpeg = layout == I420Converter::Format::MJPEG;
        const qint64 cost = area * (jpeg ? 2 : 1);
        if (cost < bestArea) {
            best = format;
            bestArea = cost;
        }
    }
    if (best.isNull())
        best = largest;
    if (!best.isNull())
        camera_->setCameraFormat(best);
}

bool CameraSource::startCapture()
{
    if (device_.isNull()) {
        setErrorString(tr("No video camera is connected."));
        return false;
    }
    camera_ = std::make_unique<QCamera>(device_);
    sink_ = std::make_unique<QVideoSink>();
    connect(camera_.get(), &QCamera::errorOccurred, this, [this](QCamera::Error error, const QString& text) {
        if (error == QCamera::NoError)
            return;
        // Not from inside the camera's own signal: stopping deletes the camera.
        const QString reason = text.isEmpty() ? tr("The video camera stopped working.") : text;
        QMetaObject::invokeMethod(
            this, [this, reason] { fail(reason); }, Qt::QueuedConnection);
    });
    // Whichever thread the camera delivers on converts; the user-interface thread only takes the
    // finished picture.
    connect(
        sink_.get(), &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) { convertFrame(frame); },
        Qt::DirectConnection);
    session_.setCamera(camera_.get());
    session_.setVideoSink(sink_.get());
    formatChanged();
    chooseCameraFormat();
    lastAcceptedUs_ = -1;
    accepting_ = true;
    camera_->start();
    return true;
}

void CameraSource::stopCapture()
{
    accepting_ = false;
    if (camera_)
        camera_->stop();
    session_.setVideoSink(nullptr);
    session_.setCamera(nullptr);
    {
        std::lock_guard<std::mutex> converting(convertLock_); // a conversion under way ends first
        sink_.reset();
        camera_.reset();
    }
}

void CameraSource::formatChanged()
{
    targetWidth_ = frameSize().width();
    targetHeight_ = frameSize().height();
    // A little slack, so a camera at exactly the configured rate loses no pictures to jitter.
    minimumGapUs_ = 1000000 / frameRate() * 9 / 10;
    if (camera_ && isRunning())
        chooseCameraFormat();
}

bool CameraSource::convertVideoFrame(const QVideoFrame& frame, I420Converter& converter, QSize target)
{
    QVideoFrame mapped(frame);
    if (!mapped.isValid() || !mapped.map(QVideoFrame::ReadOnly))
        return false;
    I420Converter::Input in;
    in.width = mapped.width();
    in.height = mapped.height();
    bool converted = false;
    if (converterFormat(mapped.pixelFormat(), in.format)) {
        const int planes = qMin(mapped.planeCount(), 3);
        for (int i = 0; i < planes; ++i) {
            in.planes[std::size_t(i)] = mapped.bits(i);
            in.strides[std::size_t(i)] = mapped.bytesPerLine(i);
            in.bytes[std::size_t(i)] = std::size_t(qMax(0, mapped.mappedBytes(i)));
        }
        converted = converter.convert(in, target);
    } else {
        // A layout of its own: let Qt turn it into 32-bit pixels first.
        const QImage image = mapped.toImage().convertToFormat(QImage::Format_RGB32);
        in.format = I420Converter::Format::BGRA;
        in.width = image.width();
        in.height = image.height();
        in.planes[0] = image.constBits();
        in.strides[0] = int(image.bytesPerLine());
        in.bytes[0] = std::size_t(image.sizeInBytes());
        converted = !image.isNull() && converter.convert(in, target);
    }
    mapped.unmap();
    return converted;
}

void CameraSource::convertFrame(const QVideoFrame& frame)
{
    if (!accepting_)
        return;
    std::lock_guard<std::mutex> converting(convertLock_);
    // Asked again under the lock: stopCapture may have ended the capture while this waited.
    if (!accepting_)
        return;
    const qint64 now = elapsedUs();
    if (lastAcceptedUs_ >= 0 && now - lastAcceptedUs_ < minimumGapUs_)
        return;
    if (!convertVideoFrame(frame, converter_, QSize(targetWidth_, targetHeight_)))
        return;
    lastAcceptedUs_ = now;
    bool post = false;
    {
        std::lock_guard<std::mutex> handOver(handOverLock_);
        std::swap(newest_, converter_.output()); // no copy: the buffers change places
        newestTime_ = now;
        post = !posted_;
        posted_ = true;
    }
    if (post)
        QMetaObject::invokeMethod(this, &CameraSource::deliverNewest, Qt::QueuedConnection);
}

void CameraSource::deliverNewest()
{
    qint64 time = 0;
    {
        std::lock_guard<std::mutex> handOver(handOverLock_);
        posted_ = false;
        std::swap(delivering_, newest_);
        time = newestTime_;
    }
    if (isRunning() && delivering_.size() == frameSize())
        deliver(delivering_.frame(time));
}

} // namespace cfb::client
