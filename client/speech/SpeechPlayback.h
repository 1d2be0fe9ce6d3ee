#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace cfb::client {

// Where synthesised audio goes, and the clock the mouth follows: one continuous stream of 16-bit
// mono samples, its position counted in microseconds of audio from the start of the stream (so
// the clock stands still while there is nothing to play).
class SpeechPlayback {
public:
    explicit SpeechPlayback(int sampleRate)
        : sampleRate_(sampleRate)
    {
    }
    virtual ~SpeechPlayback() = default;

    virtual void append(const QByteArray& pcm) = 0;
    // How much of the stream has been played.
    virtual qint64 playedUs() const = 0;
    // Drops whatever has not been played; the stream starts again at zero.
    virtual void clear() = 0;
    // Paused, nothing more is played and the clock stands still; what is appended meanwhile waits.
    virtual void setPaused(bool paused) = 0;

    // How much of the stream has been appended.
    qint64 queuedUs() const { return usFor(queuedBytes_); }
    int sampleRate() const { return sampleRate_; }

protected:
    qint64 usFor(qint64 bytes) const { return sampleRate_ > 0 ? bytes / 2 * 1000000 / sampleRate_ : 0; }

    qint64 queuedBytes_ = 0;

private:
    int sampleRate_;
};

} // namespace cfb::client
