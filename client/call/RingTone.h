#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

class QAudioSink;

namespace cfb::client {

// The ring of an incoming call: two short bursts of a two-tone chord every three seconds, made
// here (no sound file), on the chosen loudspeaker. Without an output device it rings silently:
// ringing() still says it rings.
class RingTone : public QObject {
    Q_OBJECT
public:
    explicit RingTone(QObject* parent = nullptr);
    ~RingTone() override;

    void start();
    void stop();
    bool ringing() const { return timer_.isActive(); }

private:
    void ring();

    QByteArray pcm_;
    QBuffer buffer_;
    std::unique_ptr<QAudioSink> sink_;
    QTimer timer_;
};

} // namespace cfb::client
