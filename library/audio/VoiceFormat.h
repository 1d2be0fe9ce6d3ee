#pragma once

namespace cfb {

// What a call carries: 48 kHz mono, 16-bit samples, in frames of 20 ms (one Opus packet each).
// The echo canceller works in chunks of 10 ms, two to a frame.
struct VoiceFormat {
    static constexpr int SampleRate = 48000;
    static constexpr int FrameMs = 20;
    static constexpr int FrameSamples = SampleRate / 1000 * FrameMs;
    static constexpr int ChunkSamples = FrameSamples / 2;
};

} // namespace cfb
