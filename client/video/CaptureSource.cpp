#include "video/CaptureSource.h"

namespace cfb::client {

CaptureSource::CaptureSource(QSize size, int rate, QObject* parent)
    : QObject(parent)
    , size_(isUsableSize(size) ? size : QSize(160, 120))
    , rate_(rate >= MinRate && rate <= MaxRate ? rate : 5)
{
}

CaptureSource::~CaptureSource() = default;

QList<QSize> CaptureSource::commonSizes()
{
    return {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480}, {800, 600}, {1280, 720}};
}

bool CaptureSource::isUsableSize(QSize size)
{
    return size.width() >= 2 && size.height() >= 2 && size.width() <= 1920 && size.height() <= 1080;
}

QList<QSize> CaptureSource::supportedSizes() const
{
    return commonSizes();
}

bool CaptureSource::setFrameSize(QSize size)
{
    if (!isUsableSize(size))
        return false;
    if (size != size_) {
        size_ = size;
        if (running_)
            formatChanged();
    }
    return true;
}

bool CaptureSource::setFrameRate(int framesPerSecond)
{
    if (framesPerSecond < MinRate || framesPerSecond > MaxRate)
        return false;
    if (framesPerSecond != rate_) {
        rate_ = framesPerSecond;
        if (running_)
            formatChanged();
    }
    return true;
}

bool CaptureSource::start()
{
    if (running_)
        return true;
    error_.clear();
    clock_.start();
    running_ = startCapture();
    return running_;
}

void CaptureSource::stop()
{
    if (!running_)
        return;
    running_ = false;
    stopCapture();
}

void CaptureSource::fail(const QString& text)
{
    error_ = text;
    stop();
    emit failed(text);
}

} // namespace cfb::client
