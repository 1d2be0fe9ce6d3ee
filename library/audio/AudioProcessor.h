#pragma once

#include "audio/VoiceFormat.h"

#include <array>
#include <cstdint>
#include <memory>

namespace webrtc {
class AudioProcessing;
}

namespace cfb {

// Cleans the microphone's frames of a call: the echo of what the loudspeaker played (the far end)
// is cancelled, steady noise suppressed and the low rumble filtered out, on WebRTC's audio
// processing (its AEC with the extended filter and delay-agnostic alignment, and its noise
// suppressor). Give it each far-end frame as it goes to the loudspeaker and each near-end frame
// as the microphone took it, in the order they happened; both 20 ms frames of
// VoiceFormat::FrameSamples samples (processed as two 10 ms chunks). Frames allocate nothing.
// Speexdsp's canceller was measured against it on a synthetic echo path and left behind (bench/audio).
class AudioProcessor {
public:
    AudioProcessor();
    ~AudioProcessor();
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    bool isValid() const { return apm_ != nullptr; }

    // How long a sample takes from being handed to playback to being heard back in the
    // microphone, when known; 0 (the default) leaves the canceller to find it.
    void setStreamDelayMs(int ms);
    void setNoiseSuppression(bool on);

    void farEnd(const int16_t* frame);
    // Writes the cleaned frame (cleaned may be frame itself). False when the processing failed;
    // cleaned then holds the frame as it came.
    bool nearEnd(const int16_t* frame, int16_t* cleaned);

private:
    std::unique_ptr<webrtc::AudioProcessing> apm_;
    int delayMs_ = 0;
    std::array<float, VoiceFormat::ChunkSamples> in_{}, out_{};
};

} // namespace cfb
