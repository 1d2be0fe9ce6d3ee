#pragma once

#include "speech/SpeechPlayback.h"

#include <QElapsedTimer>

namespace cfb::client {

// Plays nothing: the stream advances with the wall clock, so the mouth moves where no audio
// device is.
class WallClockPlayback : public SpeechPlayback {
public:
    using SpeechPlayback::SpeechPlayback;

    void append(const QByteArray& pcm) override;
    qint64 playedUs() const override;
    void clear() override;
    void setPaused(bool paused) override;

private:
    QElapsedTimer clock_;
    qint64 anchorUs_ = 0; // stream position when clock_ last started
    bool paused_ = false; // the position stays at anchorUs_
};

} // namespace cfb::client
