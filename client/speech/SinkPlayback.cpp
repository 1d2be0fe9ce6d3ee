#include "speech/SinkPlayback.h"

#include <QAudioFormat>
#include <QAudioSink>

#include <algorithm>

namespace cfb::client {

SinkPlayback::SinkPlayback(const QAudioDevice& device, int sampleRate, QObject* parent)
    : QObject(parent)
    , SpeechPlayback(sampleRate)
{
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isNull() || !device.isFormatSupported(format))
        return;
    sink_ = std::make_unique<QAudioSink>(device, format);
    io_ = sink_->start();
    if (sink_->error() != QAudio::NoError) {
        io_ = nullptr;
        return;
    }
    connect(sink_.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && sink_->error() != QAudio::NoError && io_) {
            io_ = nullptr;
            feeder_.stop();
            emit failed(QStringLiteral("audio output error %1").arg(int(sink_->error())));
        }
    });
    feeder_.setInterval(10);
    connect(&feeder_, &QTimer::timeout, this, &SinkPlayback::feed);
}

SinkPlayback::~SinkPlayback()
{
    if (sink_)
        sink_->stop();
}

void SinkPlayback::append(const QByteArray& pcm)
{
    queuedBytes_ += pcm.size();
    pending_ += pcm;
    feed();
}

void SinkPlayback::feed()
{
    if (!io_ || pending_.isEmpty()) {
        feeder_.stop();
        return;
    }
    const qint64 room = std::min<qint64>(sink_->bytesFree(), pending_.size());
    const qint64 written = room > 0 ? io_->write(pending_.constData(), room) : 0;
    if (written > 0)
        pending_.remove(0, written);
    if (pending_.isEmpty())
        feeder_.stop();
    else if (!feeder_.isActive())
        feeder_.start();
}

qint64 SinkPlayback::playedUs() const
{
    if (sink_ && io_)
        lastPlayedUs_ = std::min(sink_->processedUSecs(), queuedUs());
    return lastPlayedUs_;
}

void SinkPlayback::clear()
{
    pending_.clear();
    queuedBytes_ = 0;
    lastPlayedUs_ = 0;
    feeder_.stop();
    if (!sink_)
        return;
    sink_->stop();
    io_ = sink_->start();
    if (paused_ && io_)
        sink_->suspend();
}

void SinkPlayback::setPaused(bool paused)
{
    paused_ = paused;
    if (!sink_ || !io_)
        return;
    if (paused)
        sink_->suspend();
    else
        sink_->resume();
}

} // namespace cfb::client
