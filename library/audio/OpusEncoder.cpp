#include "audio/OpusEncoder.h"

#include <opus.h>

#include <algorithm>

namespace cfb {

namespace {

::OpusEncoder* opus(std::vector<unsigned char>& state, bool open)
{
    return open ? reinterpret_cast<::OpusEncoder*>(state.data()) : nullptr;
}

} // namespace

OpusEncoder::~OpusEncoder()
{
    close();
}

bool OpusEncoder::fail(const QString& text)
{
    error_ = text;
    close();
    return false;
}

bool OpusEncoder::open(int targetKbps, int expectedLossPercent)
{
    close();
    error_.clear();
    state_.assign(std::size_t(opus_encoder_get_size(1)), 0);
    const int status = opus_encoder_init(opus(state_, true), VoiceFormat::SampleRate, 1, OPUS_APPLICATION_VOIP);
    if (status != OPUS_OK)
        return fail(QStringLiteral("Opus encoder: %1").arg(QString::fromUtf8(opus_strerror(status))));
    open_ = true;
    ::OpusEncoder* codec = opus(state_, open_);
    if (opus_encoder_ctl(codec, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE)) != OPUS_OK
        || opus_encoder_ctl(codec, OPUS_SET_VBR(1)) != OPUS_OK
        || opus_encoder_ctl(codec, OPUS_SET_VBR_CONSTRAINT(1)) != OPUS_OK
        || opus_encoder_ctl(codec, OPUS_SET_DTX(0)) != OPUS_OK
        || opus_encoder_ctl(codec, OPUS_SET_INBAND_FEC(1)) != OPUS_OK)
        return fail(QStringLiteral("Opus encoder refused the call settings"));
    if (!setTargetBitrate(targetKbps) || !setExpectedLoss(expectedLossPercent))
        return fail(QStringLiteral("Opus encoder refused the rate or loss"));
    return true;
}

void OpusEncoder::close()
{
    open_ = false;
}

bool OpusEncoder::setTargetBitrate(int kbps)
{
    ::OpusEncoder* codec = opus(state_, open_);
    if (!codec)
        return false;
    kbps_ = std::clamp(kbps, MinKbps, MaxKbps);
    return opus_encoder_ctl(codec, OPUS_SET_BITRATE(kbps_ * 1000)) == OPUS_OK;
}

bool OpusEncoder::setExpectedLoss(int percent)
{
    ::OpusEncoder* codec = opus(state_, open_);
    if (!codec)
        return false;
    lossPercent_ = std::clamp(percent, 0, 100);
    return opus_encoder_ctl(codec, OPUS_SET_PACKET_LOSS_PERC(lossPercent_)) == OPUS_OK;
}

QByteArrayView OpusEncoder::encode(const int16_t* frame)
{
    ::OpusEncoder* codec = opus(state_, open_);
    if (!codec || !frame)
        return {};
    const opus_int32 n = opus_encode(codec, frame, VoiceFormat::FrameSamples, out_.data(), opus_int32(out_.size()));
    if (n <= 0)
        return {};
    return QByteArrayView(out_.data(), n);
}

} // namespace cfb
