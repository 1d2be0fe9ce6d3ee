#pragma once

#include "speech/SpeechPlayback.h"

#include <QAudioDevice>
#include <QObject>
#include <QTimer>

#include <memory>

class QAudioSink;
class QIODevice;

namespace cfb::client {

// Plays the stream on an audio output through QAudioSink in push mode: what the device cannot
// take yet waits here and is fed in as it makes room. The clock is the sink's processedUSecs.
class SinkPlayback : public QObject, public SpeechPlayback {
    Q_OBJECT
public:
    SinkPlayback(const QAudioDevice& device, int sampleRate, QObject* parent = nullptr);
    ~SinkPlayback() override;

    // False when the device refused the format or failed to start.
    bool started() const { return io_ != nullptr; }

    void append(const QByteArray& pcm) override;
    qint64 playedUs() const override;
    void clear() override;
    void setPaused(bool paused) override;

signals:
    // The device stopped with an error (unplugged, server gone); nothing more will play.
    void failed(const QString& why);

private:
    void feed();

    std::unique_ptr<QAudioSink> sink_;
    QIODevice* io_ = nullptr;
    QByteArray pending_;
    mutable qint64 lastPlayedUs_ = 0; // where the device got to, kept for when it has failed
    QTimer feeder_;
    bool paused_ = false;
};

} // namespace cfb::client
