// Once warmed up, a call's frames allocate no memory: encoding, the jitter buffer with its
// decoding, rebuilding and concealment, and the echo canceller. Allocations are counted by
// wrapping the C allocator, on this thread only.
#include "audio/AudioProcessor.h"
#include "audio/JitterBuffer.h"
#include "audio/OpusEncoder.h"

#include <gtest/gtest.h>

#include <cmath>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
thread_local bool counting = false;
thread_local long counted = 0;
inline void note()
{
    if (counting)
        ++counted;
}
} // namespace

extern "C" void* malloc(size_t n)
{
    note();
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    note();
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    note();
    return __libc_realloc(p, n);
}
extern "C" void free(void* p)
{
    __libc_free(p);
}

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
    counting = true;
    run(100, 500);
    counting = false;
    EXPECT_GT(buffer.counters().recovered, 0);
    EXPECT_EQ(counted, 0);
}
