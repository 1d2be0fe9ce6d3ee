// Once the first frames are through, encoding and decoding a frame allocates no memory, libvpx
// included. Allocations are counted by wrapping the C allocator, on this thread only.
#include "video/Vp8Decoder.h"
#include "video/Vp8Encoder.h"

#include "MovingPattern.h"

#include <gtest/gtest.h>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
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

TEST(Vp8Allocation, SteadyFramesAllocateNothing)
{
    constexpr int W = 640, H = 480;
    Vp8Encoder encoder;
    ASSERT_TRUE(encoder.open({W, H, 30, 500, 10}));
    Vp8Decoder decoder;
    MovingPattern pattern(W, H);
    // Pictures made beforehand, so only the codecs run while counting.
    std::vector<MovingPattern> clips;
    for (int i = 0; i < 4; ++i)
        clips.emplace_back(W, H);
    std::vector<I420View> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(clips[i].frame(i * 9));
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(decoder.decode(encoder.encode(frames[i % 4]).bytes), Vp8Decoder::Result::Picture);

    counting = true;
    int decoded = 0;
    for (int i = 0; i < 60; ++i) {
        if (i == 30)
            encoder.requestKeyFrame();
        decoded += decoder.decode(encoder.encode(frames[i % 4]).bytes) == Vp8Decoder::Result::Picture;
    }
    counting = false;
    EXPECT_EQ(decoded, 60);
    EXPECT_EQ(counted, 0);
}
