#include "call/RingTone.h"

#include "call/CallAudio.h"

#include <QAudioFormat>
#include <QAudioSink>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace cfb::client {
namespace {

constexpr int Rate = 16000;
constexpr int PeriodMs = 3000;

// 0.4 s of 440 + 480 Hz, 0.2 s apart, 0.4 s again, with soft edges.
QByteArray ringPcm()
{
    const int burst = Rate * 4 / 10, gap = Rate * 2 / 10;
    QByteArray pcm(qsizetype(2 * burst + gap) * 2, '\0');
    auto* out = reinterpret_cast<int16_t*>(pcm.data());
    for (int b = 0; b < 2; ++b)
        for (int i = 0; i < burst; ++i) {
            const double t = double(i) / Rate;
            const double edge = std::min({1.0, i / 160.0, (burst - i) / 160.0});
            const double s = std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 480 * t);
            out[b * (burst + gap) + i] = int16_t(5000 * edge * s);
        }
    return pcm;
}

} // namespace

RingTone::RingTone(QObject* parent)
    : QObject(parent)
    , pcm_(ringPcm())
{
    buffer_.setBuffer(&pcm_);
    timer_.setInterval(PeriodMs);
    connect(&timer_, &QTimer::timeout, this, &RingTone::ring);
}

RingTone::~RingTone()
{
    stop();
}

void RingTone::start()
{
    if (timer_.isActive())
        return;
    timer_.start();
    QAudioFormat format;
    format.setSampleRate(Rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice device = CallAudio::chosenOutput();
    if (!device.isNull() && device.isFormatSupported(format))
        sink_ = std::make_unique<QAudioSink>(device, format);
    ring();
}

void RingTone::stop()
{
    timer_.stop();
    if (sink_)
        sink_->stop();
    sink_.reset();
    buffer_.close();
}

void RingTone::ring()
{
    if (!sink_)
        return;
    sink_->stop();
    buffer_.close();
    buffer_.open(QIODevice::ReadOnly);
    sink_->start(&buffer_);
}

} // namespace cfb::client
