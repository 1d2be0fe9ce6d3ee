#pragma once

// A loudspeaker-to-microphone path made up for the echo cancellers: the far end's voice comes
// back after a delay through a decaying room response, quieter, with a little microphone noise.
#include "audio/VoiceFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace cfb::testing {

struct EchoPath {
    int delayMs = 40;
    int tailMs = 60;      // the room response's length after the delay
    double decayMs = 15;  // its time constant
    double gain = 0.5;    // the echo's amplitude against the far end's
    double noiseRms = 30; // the microphone's own noise, in sample units (about -60 dBFS)
    unsigned seed = 7;

    std::vector<double> response() const
    {
        std::mt19937 random(seed);
        std::normal_distribution<double> tap(0, 1);
        const int delay = delayMs * VoiceFormat::SampleRate / 1000;
        const int tail = tailMs * VoiceFormat::SampleRate / 1000;
        std::vector<double> h(std::size_t(delay + tail), 0);
        double energy = 0;
        for (int n = 0; n < tail; ++n) {
            const double v = (n == 0 ? 3.0 : tap(random)) * std::exp(-n / (decayMs * VoiceFormat::SampleRate / 1000));
            h[std::size_t(delay + n)] = v;
            energy += v * v;
        }
        for (double& v : h)
            v *= gain / std::sqrt(energy);
        return h;
    }

    // What the microphone hears of far (plus near, the near end's own voice, when given).
    std::vector<int16_t> microphone(const std::vector<int16_t>& far, const std::vector<int16_t>& near = {}) const
    {
        const std::vector<double> h = response();
        // The response is zero before its delay; taps reversed, and the far end padded in front,
        // so the sum runs over contiguous memory.
        std::size_t first = 0;
        while (first < h.size() && h[first] == 0)
            ++first;
        const std::size_t taps = h.size() - first;
        std::vector<float> reversed(taps);
        for (std::size_t k = 0; k < taps; ++k)
            reversed[k] = float(h[h.size() - 1 - k]);
        std::vector<float> padded(h.size() + far.size(), 0.0f);
        std::copy(far.begin(), far.end(), padded.begin() + std::ptrdiff_t(h.size()));
        std::mt19937 random(seed + 1);
        std::normal_distribution<double> noise(0, noiseRms);
        std::vector<int16_t> mic(far.size());
        for (std::size_t i = 0; i < far.size(); ++i) {
            // far[i - k] for k = first .. h.size()-1 is padded[h.size() + i - k].
            const float* x = padded.data() + i + 1;
            float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
            std::size_t k = 0;
            for (; k + 4 <= taps; k += 4) {
                s0 += reversed[k] * x[k];
                s1 += reversed[k + 1] * x[k + 1];
                s2 += reversed[k + 2] * x[k + 2];
                s3 += reversed[k + 3] * x[k + 3];
            }
            for (; k < taps; ++k)
                s0 += reversed[k] * x[k];
            const double s = noise(random) + (i < near.size() ? near[i] : 0) + (s0 + s1) + (s2 + s3);
            mic[i] = int16_t(std::clamp(s, -32768.0, 32767.0));
        }
        return mic;
    }
};

// Echo return loss enhancement, in dB: how much quieter the cleaned signal is than the
// microphone's, over samples [from, to) where only the echo (and noise) is heard.
inline double erleDb(const std::vector<int16_t>& mic, const std::vector<int16_t>& cleaned, std::size_t from, std::size_t to)
{
    double in = 0, out = 0;
    to = std::min({to, mic.size(), cleaned.size()});
    for (std::size_t i = from; i < to; ++i) {
        in += double(mic[i]) * mic[i];
        out += double(cleaned[i]) * cleaned[i];
    }
    return 10 * std::log10((in + 1) / (out + 1));
}

} // namespace cfb::testing
