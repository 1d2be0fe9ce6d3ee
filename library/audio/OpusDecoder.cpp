#include "audio/OpusDecoder.h"

#include "audio/OpusEncoder.h"

#include <opus.h>

#include <algorithm>

namespace cfb {

OpusDecoder::~OpusDecoder()
{
    close();
}

bool OpusDecoder::open()
{
    close();
    error_.clear();
    refused_ = 0;
    int status = OPUS_OK;
    codec_ = opus_decoder_create(VoiceFormat::SampleRate, 1, &status);
    if (status != OPUS_OK || !codec_) {
        codec_ = nullptr;
        error_ = QStringLiteral("Opus decoder: %1").arg(QString::fromUtf8(opus_strerror(status)));
        return false;
    }
    return true;
}

void OpusDecoder::close()
{
    if (codec_)
        opus_decoder_destroy(codec_);
    codec_ = nullptr;
}

bool OpusDecoder::isCallPacket(QByteArrayView packet)
{
    if (packet.isEmpty() || packet.size() > OpusEncoder::MaxPacketBytes)
        return false;
    const auto* data = reinterpret_cast<const unsigned char*>(packet.data());
    return opus_packet_get_nb_samples(data, opus_int32(packet.size()), VoiceFormat::SampleRate)
        == VoiceFormat::FrameSamples;
}

OpusDecoder::Result OpusDecoder::decode(QByteArrayView packet, int16_t* frame)
{
    if (!isCallPacket(packet)) {
        ++refused_;
        conceal(frame);
        return Result::Concealed;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(packet.data());
    if (codec_ && opus_decode(codec_, data, opus_int32(packet.size()), frame, VoiceFormat::FrameSamples, 0)
            == VoiceFormat::FrameSamples)
        return Result::Decoded;
    ++refused_;
    conceal(frame);
    return Result::Concealed;
}

OpusDecoder::Result OpusDecoder::recover(QByteArrayView nextPacket, int16_t* frame)
{
    if (!isCallPacket(nextPacket)) {
        conceal(frame);
        return Result::Concealed;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(nextPacket.data());
    if (codec_ && opus_decode(codec_, data, opus_int32(nextPacket.size()), frame, VoiceFormat::FrameSamples, 1)
            == VoiceFormat::FrameSamples)
        return Result::Recovered;
    conceal(frame);
    return Result::Concealed;
}

void OpusDecoder::conceal(int16_t* frame)
{
    if (codec_ && opus_decode(codec_, nullptr, 0, frame, VoiceFormat::FrameSamples, 0) == VoiceFormat::FrameSamples)
        return;
    std::fill(frame, frame + VoiceFormat::FrameSamples, int16_t(0));
}

} // namespace cfb
