// Once warmed up, a call's frames allocate no memory: encoding, the jitter buffer with its
// decoding, rebuilding and concealment, and the echo canceller. Allocations are counted by
// wrapping the C allocator, on this thread only (the benchmarks' MallocCount).
#include "audio/AudioProcessor.h"
#include "audio/JitterBuffer.h"
#include "audio/OpusEncoder.h"

#include "MallocCount.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace cfb;

TEST(AudioAllocation, CallFramesAllocateNothing)
{
    constexpr int N = VoiceFormat::FrameSamples;
    OpusEncoder encoder;
    ASSERT_TRUE(encoder.open(24, 10));
    JitterBuffer buffer;
    AudioProcessor processor;
    ASSERT_TRUE(processor.isValid());
    std::vector<int16_t> voice(N), out(N), cleaned(N);
    auto run = [&](int from, int frames) {
        for (int f = from; f < from + frames; ++f) {
            for (int k = 0; k < N; ++k)
                voice[std::size_t(k)] = int16_t(8000 * std::sin((f * N + k) * 0.03) * std::sin(f * 0.2));
            const QByteArrayView packet = encoder.encode(voice.data());
            // Every seventh packet lost, every eleventh a frame late.
            if (f % 7 != 3)
                buffer.push(uint16_t(f), uint32_t(f * N), 20 * f + (f % 11 == 0 ? 25 : 0), packet);
            buffer.pull(out.data(), 20 * f + 10);
            processor.farEnd(out.data());
            processor.nearEnd(voice.data(), cleaned.data());
        }
    };
    run(0, 100);
    MallocCount::traceFirst(3);
    MallocCount::start();
    run(100, 500);
    const long counted = MallocCount::stop();
    EXPECT_GT(buffer.counters().recovered, 0);
    EXPECT_EQ(counted, 0);
}
