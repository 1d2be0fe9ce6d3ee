#include "video/TimedCaptureSource.h"

namespace cfb::client {

TimedCaptureSource::TimedCaptureSource(QSize size, int rate, QObject* parent)
    : CaptureSource(size, rate, parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { produceFrame(elapsedUs()); });
}

bool TimedCaptureSource::startCapture()
{
    timer_.start(1000 / frameRate());
    return true;
}

void TimedCaptureSource::stopCapture()
{
    timer_.stop();
}

void TimedCaptureSource::formatChanged()
{
    timer_.setInterval(1000 / frameRate());
}

} // namespace cfb::client
