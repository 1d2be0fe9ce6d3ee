#include "audio/AudioProcessor.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <cmath>

namespace cfb {

namespace {

const webrtc::StreamConfig& mono48k()
{
    static const webrtc::StreamConfig config(VoiceFormat::SampleRate, 1, false);
    return config;
}

void toFloat(const int16_t* in, float* out)
{
    for (int i = 0; i < VoiceFormat::ChunkSamples; ++i)
        out[i] = in[i] * (1.0f / 32768);
}

void toSamples(const float* in, int16_t* out)
{
    for (int i = 0; i < VoiceFormat::ChunkSamples; ++i)
        out[i] = int16_t(std::lrint(std::clamp(in[i] * 32768.0f, -32768.0f, 32767.0f)));
}

} // namespace

AudioProcessor::AudioProcessor()
{
    webrtc::Config config;
    // The extended filter covers a longer echo path; delay-agnostic alignment finds where it
    // starts, which a desktop's audio stack does not say.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    apm_.reset(webrtc::AudioProcessing::Create(config));
    if (!apm_)
        return;
    const webrtc::ProcessingConfig streams{{mono48k(), mono48k(), mono48k(), mono48k()}};
    if (apm_->Initialize(streams) != webrtc::AudioProcessing::kNoError
        || apm_->echo_cancellation()->Enable(true) != webrtc::AudioProcessing::kNoError
        // The low level of its residual echo suppression cancels nearly as much as the high one
        // and keeps the near end's voice in double talk far better (bench/audio).
        || apm_->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kLowSuppression)
            != webrtc::AudioProcessing::kNoError
        || apm_->high_pass_filter()->Enable(true) != webrtc::AudioProcessing::kNoError
        || apm_->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh) != webrtc::AudioProcessing::kNoError
        || apm_->noise_suppression()->Enable(true) != webrtc::AudioProcessing::kNoError)
        apm_.reset();
}

AudioProcessor::~AudioProcessor() = default;

void AudioProcessor::setStreamDelayMs(int ms)
{
    delayMs_ = std::clamp(ms, 0, 500);
}

void AudioProcessor::setNoiseSuppression(bool on)
{
    if (apm_)
        apm_->noise_suppression()->Enable(on);
}

void AudioProcessor::farEnd(const int16_t* frame)
{
    if (!apm_ || !frame)
        return;
    for (int c = 0; c < 2; ++c) {
        toFloat(frame + c * VoiceFormat::ChunkSamples, in_.data());
        const float* src = in_.data();
        float* dst = out_.data();
        apm_->ProcessReverseStream(&src, mono48k(), mono48k(), &dst);
    }
}

bool AudioProcessor::nearEnd(const int16_t* frame, int16_t* cleaned)
{
    if (!frame || !cleaned)
        return false;
    bool ok = apm_ != nullptr;
    for (int c = 0; c < 2; ++c) {
        const int16_t* in = frame + c * VoiceFormat::ChunkSamples;
        int16_t* out = cleaned + c * VoiceFormat::ChunkSamples;
        if (!apm_) {
            std::copy(in, in + VoiceFormat::ChunkSamples, out);
            continue;
        }
        toFloat(in, in_.data());
        apm_->set_stream_delay_ms(delayMs_);
        const float* src = in_.data();
        float* dst = out_.data();
        if (apm_->ProcessStream(&src, mono48k(), mono48k(), &dst) != webrtc::AudioProcessing::kNoError) {
            ok = false;
            std::copy(in, in + VoiceFormat::ChunkSamples, out);
            continue;
        }
        toSamples(out_.data(), out);
    }
    return ok;
}

} // namespace cfb
