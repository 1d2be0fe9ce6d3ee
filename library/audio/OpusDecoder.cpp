#include "audio/OpusDecoder.h"

#include "audio/OpusEncoder.h"

#include <opus.h>

#include <algorithm>

namespace cfb {

namespace {

::OpusDecoder* opus(std::vector<unsigned char>& state, bool open)
{
    return open ? reinterpret_cast<::OpusDecoder*>(state.data()) : nullptr;
}

} // namespace

OpusDecoder::~OpusDecoder()
{
    close();
}

bool OpusDecoder::open()
{
    close();
    error_.clear();
    refused_ = 0;
    state_.assign(std::size_t(opus_decoder_get_size(1)), 0);
    const int status = opus_decoder_init(opus(state_, true), VoiceFormat::SampleRate, 1);
    if (status != OPUS_OK) {
        error_ = QStringLiteral("Opus decoder: %1").arg(QString::fromUtf8(opus_strerror(status)));
        return false;
    }
    open_ = true;
    return true;
}

void OpusDecoder::close()
{
    open_ = false;
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
    if (open_ && opus_decode(opus(state_, open_), data, opus_int32(packet.size()), frame, VoiceFormat::FrameSamples, 0)
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
    if (open_ && opus_decode(opus(state_, open_), data, opus_int32(nextPacket.size()), frame, VoiceFormat::FrameSamples, 1)
            == VoiceFormat::FrameSamples)
        return Result::Recovered;
    conceal(frame);
    return Result::Concealed;
}

void OpusDecoder::conceal(int16_t* frame)
{
    if (open_ && opus_decode(opus(state_, open_), nullptr, 0, frame, VoiceFormat::FrameSamples, 0) == VoiceFormat::FrameSamples)
        return;
    std::fill(frame, frame + VoiceFormat::FrameSamples, int16_t(0));
}

} // namespace cfb
