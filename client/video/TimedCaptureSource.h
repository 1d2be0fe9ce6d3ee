#pragma once

#include "video/CaptureSource.h"

#include <QTimer>

namespace cfb::client {

// A source that makes its frames itself, one per tick of a timer at the configured rate.
class TimedCaptureSource : public CaptureSource {
    Q_OBJECT
protected:
    TimedCaptureSource(QSize size, int rate, QObject* parent);

    // Produces and delivers one frame of frameSize().
    virtual void produceFrame(qint64 timestampUs) = 0;

    bool startCapture() override;
    void stopCapture() override;
    void formatChanged() override;

private:
    QTimer timer_;
};

} // namespace cfb::client
