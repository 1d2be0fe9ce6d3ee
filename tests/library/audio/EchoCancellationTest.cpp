// The echo canceller on a made-up loudspeaker-to-microphone path: the far end's voice must
// leave the microphone's signal, the near end's own voice must stay.
#include "EchoPath.h"
#include "SpokenClip.h"

#include "audio/AudioProcessor.h"
#include "audio/EnvelopeCorrelation.h"

#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::testing;

namespace {

std::vector<int16_t> cleaned(AudioProcessor& processor, const std::vector<int16_t>& far, const std::vector<int16_t>& mic)
{
    std::vector<int16_t> out(mic.size());
    for (std::size_t at = 0; at + VoiceFormat::FrameSamples <= mic.size(); at += VoiceFormat::FrameSamples) {
        processor.farEnd(far.data() + at);
        EXPECT_TRUE(processor.nearEnd(mic.data() + at, out.data() + at));
    }
    return out;
}

} // namespace

TEST(EchoCancellation, FarEndEchoIsRemovedAndNearEndSpeechKept)
{
    const std::vector<int16_t> farClip = spokenClip("The far end is talking, and the loudspeaker plays it into the room.");
    const std::vector<int16_t> nearClip = spokenClip("Hello from the near end, can you hear me?", "en-us+f3");
    if (farClip.empty() || nearClip.empty())
        GTEST_SKIP() << "espeak-ng has no voice data here";
    constexpr int Frames = 400; // 8 s
    const std::vector<int16_t> far = looped(farClip, Frames);
    // The near end speaks from 5 s on, over the far end (double talk).
    std::vector<int16_t> near(far.size(), 0);
    const std::size_t talk = 5 * std::size_t(VoiceFormat::SampleRate);
    for (std::size_t i = 0; i < nearClip.size() && talk + i < near.size(); ++i)
        near[talk + i] = nearClip[i];

    const EchoPath path;
    const std::vector<int16_t> mic = path.microphone(far, near);
    AudioProcessor processor;
    ASSERT_TRUE(processor.isValid());
    const std::vector<int16_t> out = cleaned(processor, far, mic);

    // From 2 s (the canceller has found the path) to where the near end starts.
    const double erle = erleDb(mic, out, 2 * VoiceFormat::SampleRate, talk);
    RecordProperty("erle_db", std::to_string(erle));
    EXPECT_GT(erle, 40) << "echo return loss enhancement";

    const std::span<const int16_t> nearPart(near.data() + talk, near.size() - talk);
    const std::span<const int16_t> outPart(out.data() + talk, out.size() - talk);
    const EnvelopeMatch kept = EnvelopeMatch::of(nearPart, outPart, VoiceFormat::SampleRate, 100);
    RecordProperty("near_end_correlation", std::to_string(kept.correlation));
    EXPECT_GT(kept.correlation, 0.8) << "the near end's voice was suppressed with the echo";
}
