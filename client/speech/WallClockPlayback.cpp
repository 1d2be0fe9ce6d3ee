#include "speech/WallClockPlayback.h"

#include <algorithm>

namespace cfb::client {

void WallClockPlayback::append(const QByteArray& pcm)
{
    // After the stream ran dry the clock restarts where it stopped, as a device would.
    if (!clock_.isValid() || playedUs() >= queuedUs()) {
        anchorUs_ = queuedUs();
        clock_.start();
    }
    queuedBytes_ += pcm.size();
}

qint64 WallClockPlayback::playedUs() const
{
    if (!clock_.isValid())
        return 0;
    if (paused_)
        return std::min(queuedUs(), anchorUs_);
    return std::min(queuedUs(), anchorUs_ + clock_.nsecsElapsed() / 1000);
}

void WallClockPlayback::setPaused(bool paused)
{
    if (paused == paused_)
        return;
    if (paused)
        anchorUs_ = playedUs();
    paused_ = paused;
    if (!paused && clock_.isValid())
        clock_.start(); // on from where it stood
}

void WallClockPlayback::clear()
{
    queuedBytes_ = 0;
    anchorUs_ = 0;
    clock_.invalidate();
}

} // namespace cfb::client
