#include "audio/OpusEncoder.h"

#include <opus.h>

#include <algorithm>

namespace cfb {

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
    int status = OPUS_OK;
    codec_ = opus_encoder_create(VoiceFormat::SampleRate, 1, OPUS_APPLICATION_VOIP, &status);
    if (status != OPUS_OK || !codec_) {
        codec_ = nullptr;
        return fail(QStringLiteral("Opus encoder: %1").arg(QString::fromUtf8(opus_strerror(status))));
    }
    if (opus_encoder_ctl(codec_, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE)) != OPUS_OK
        || opus_encoder_ctl(codec_, OPUS_SET_VBR(1)) != OPUS_OK
        || opus_encoder_ctl(codec_, OPUS_SET_VBR_CONSTRAINT(1)) != OPUS_OK
        || opus_encoder_ctl(codec_, OPUS_SET_DTX(0)) != OPUS_OK
        || opus_encoder_ctl(codec_, OPUS_SET_INBAND_FEC(1)) != OPUS_OK)
        return fail(QStringLiteral("Opus encoder refused the call settings"));
    if (!setTargetBitrate(targetKbps) || !setExpectedLoss(expectedLossPercent))
        return fail(QStringLiteral("Opus encoder refused the rate or loss"));
    return true;
}

void OpusEncoder::close()
{
    if (codec_)
        opus_encoder_destroy(codec_);
    codec_ = nullptr;
}

bool OpusEncoder::setTargetBitrate(int kbps)
{
    if (!codec_)
        return false;
    kbps_ = std::clamp(kbps, MinKbps, MaxKbps);
    return opus_encoder_ctl(codec_, OPUS_SET_BITRATE(kbps_ * 1000)) == OPUS_OK;
}

bool OpusEncoder::setExpectedLoss(int percent)
{
    if (!codec_)
        return false;
    lossPercent_ = std::clamp(percent, 0, 100);
    return opus_encoder_ctl(codec_, OPUS_SET_PACKET_LOSS_PERC(lossPercent_)) == OPUS_OK;
}

QByteArrayView OpusEncoder::encode(const int16_t* frame)
{
    if (!codec_ || !frame)
        return {};
    const opus_int32 n = opus_encode(codec_, frame, VoiceFormat::FrameSamples, out_.data(), opus_int32(out_.size()));
    if (n <= 0)
        return {};
    return QByteArrayView(out_.data(), n);
}

} // namespace cfb
