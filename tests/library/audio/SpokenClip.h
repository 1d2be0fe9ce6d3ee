#pragma once

// Speech for the audio tests and benchmarks: espeak-ng's voice (its library, synchronous), made
// at its own rate and brought to 48 kHz by linear interpolation.
#include "audio/VoiceFormat.h"

#include <espeak-ng/speak_lib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace cfb::testing {

inline std::vector<int16_t>& espeakCollected()
{
    static std::vector<int16_t> samples;
    return samples;
}

// espeak-ng's voice at its own rate (rate is set); empty when espeak-ng has no voice data.
inline std::vector<int16_t> spokenAtOwnRate(const char* text, int& rate, const char* voice = "en-us")
{
    static const int ownRate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, espeakINITIALIZE_DONT_EXIT);
    rate = ownRate;
    if (rate <= 0 || espeak_SetVoiceByName(voice) != EE_OK)
        return {};
    espeakCollected().clear();
    espeak_SetSynthCallback([](short* s, int n, espeak_EVENT*) {
        if (s && n > 0)
            espeakCollected().insert(espeakCollected().end(), s, s + n);
        return 0;
    });
    if (espeak_Synth(text, std::strlen(text) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr) != EE_OK)
        return {};
    espeak_Synchronize();
    return espeakCollected();
}

// Empty when espeak-ng has no voice data.
inline std::vector<int16_t> spokenClip(const char* text, const char* voice = "en-us")
{
    int rate = 0;
    const std::vector<int16_t> in = spokenAtOwnRate(text, rate, voice);
    if (in.size() < 2)
        return {};
    const double step = double(rate) / VoiceFormat::SampleRate;
    std::vector<int16_t> out(std::size_t((in.size() - 1) / step));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double at = i * step;
        const std::size_t k = std::size_t(at);
        const double f = at - k;
        out[i] = int16_t(in[k] * (1 - f) + in[k + 1] * f);
    }
    return out;
}

// The clip again and again (with a short pause between) up to frames whole 20 ms frames.
inline std::vector<int16_t> looped(const std::vector<int16_t>& clip, int frames, int pauseMs = 300)
{
    std::vector<int16_t> out(std::size_t(frames) * VoiceFormat::FrameSamples, 0);
    const std::size_t period = clip.size() + std::size_t(pauseMs) * VoiceFormat::SampleRate / 1000;
    for (std::size_t i = 0; i < out.size() && !clip.empty(); ++i) {
        const std::size_t k = i % period;
        out[i] = k < clip.size() ? clip[k] : 0;
    }
    return out;
}

} // namespace cfb::testing
