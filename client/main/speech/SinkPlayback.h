#pragma once

#include "SpeechPlayback.h"

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

private:
    void feed();

    std::unique_ptr<QAudioSink> sink_;
    QIODevice* io_ = nullptr;
    QByteArray pending_;
    QTimer feeder_;
};

} // namespace cfb::client
