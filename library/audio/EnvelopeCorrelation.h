#pragma once

#include <cstdint>
#include <span>

namespace cfb {

// How much of a voice survived a path: the loudness envelopes (RMS in 10 ms windows) of what was
// sent and what was heard, correlated (Pearson) at the delay where they match best, searched up
// to maxLagMs. 1 is the same shape of speech, 0 nothing in common. It ignores level, the codec's
// colouring and a constant delay, and falls with dropped words, long gaps and noise.
struct EnvelopeMatch {
    double correlation = 0;
    int lagMs = 0;

    static EnvelopeMatch of(std::span<const int16_t> sent, std::span<const int16_t> heard, int sampleRate,
        int maxLagMs = 1000);
};

} // namespace cfb
