// What the caller of YUVFrame relies on: colours, where each source row and sample lands, and which
// bytes stay untouched.
#include "YUVFrame.h"
#include "YuvReference.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

namespace {

using Bgr = std::array<int, 3>;

// One 2x2 frame of a single colour; returns the bottom-left output pixel.
Bgr convertSolid(uint8_t y, uint8_t u, uint8_t v)
{
    const uint8_t Y[4] = {y, y, y, y}, U[1] = {u}, V[1] = {v};
    uint8_t out[16] = {};
    YUVFrame(Y, U, V, out, 2, 2);
    return {out[0], out[1], out[2]};
}

TEST(YUVFrame, KnownColoursTruncateAndClamp)
{
    EXPECT_EQ(convertSolid(16, 128, 128), (Bgr{0, 0, 0}));
    EXPECT_EQ(convertSolid(235, 128, 128), (Bgr{254, 254, 254})); // truncation, not rounding
    EXPECT_EQ(convertSolid(128, 128, 128), (Bgr{130, 130, 130}));
    EXPECT_EQ(convertSolid(126, 128, 128), (Bgr{128, 128, 128}));
    EXPECT_EQ(convertSolid(81, 90, 240), (Bgr{0, 0, 253}));
    EXPECT_EQ(convertSolid(41, 240, 110), (Bgr{255, 0, 1}));
    EXPECT_EQ(convertSolid(0, 0, 0), (Bgr{0, 136, 0}));
    EXPECT_EQ(convertSolid(255, 255, 255), (Bgr{255, 126, 255}));
}

// A 2x2 frame: source row 0 goes to the second output row, source row 1 to the first; bytes 6 and 7
// of each 8-byte row are padding and keep what the buffer held.
TEST(YUVFrame, RowsRunBottomUpAndPaddingIsUntouched)
{
    const uint8_t Y[4] = {16, 16, 235, 235}, U[1] = {128}, V[1] = {128};
    uint8_t out[16];
    std::fill(std::begin(out), std::end(out), 0xEE);
    YUVFrame(Y, U, V, out, 2, 2);
    const uint8_t want[16] = {254, 254, 254, 254, 254, 254, 0xEE, 0xEE, 0, 0, 0, 0, 0, 0, 0xEE, 0xEE};
    EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(want)));
}

// Each chroma sample serves exactly its 2x2 block: in a 4x4 frame with a different colour per
// sample, pixel (1, 1) takes U[0]/V[0], pixel (2, 0) takes U[1]/V[1], pixel (1, 2) takes U[2]/V[2].
TEST(YUVFrame, ChromaSamplesServeTheir2x2Blocks)
{
    const int w = 4, h = 4;
    std::vector<uint8_t> Y(16, 128), U = {90, 240, 128, 200}, V = {240, 110, 60, 128};
    std::vector<uint8_t> out(yuvref::stride(w) * h, 0);
    YUVFrame(Y.data(), U.data(), V.data(), out.data(), w, h);
    auto pixel = [&](int x, int k) {
        const uint8_t* p = out.data() + (h - 1 - k) * yuvref::stride(w) + 3 * x;
        return Bgr{p[0], p[1], p[2]};
    };
    for (int k = 0; k < h; ++k)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(pixel(x, k), convertSolid(128, U[(k / 2) * 2 + x / 2], V[(k / 2) * 2 + x / 2]))
                << "pixel " << x << "," << k;
    EXPECT_NE(pixel(1, 1), pixel(2, 0));
    EXPECT_NE(pixel(1, 1), pixel(1, 2));
}

// Odd widths use the rounded-up chroma row of I420, so the last column has its own sample and the
// rows below start at the right place: a 5x3 frame has 3x2 chroma planes.
TEST(YUVFrame, OddWidthUsesRoundedUpChromaRows)
{
    const int w = 5, h = 3;
    std::vector<uint8_t> Y(15, 128), U = {128, 128, 90, 128, 128, 240}, V = {128, 128, 240, 128, 128, 110};
    std::vector<uint8_t> out(16 * 3, 0x11);
    YUVFrame(Y.data(), U.data(), V.data(), out.data(), w, h);
    const uint8_t* top = out.data() + 2 * 16; // source row 0
    const uint8_t* bottom = out.data(); // source row 2
    EXPECT_EQ((Bgr{top[12], top[13], top[14]}), convertSolid(128, 90, 240));
    EXPECT_EQ((Bgr{top[9], top[10], top[11]}), convertSolid(128, 128, 128));
    EXPECT_EQ((Bgr{bottom[12], bottom[13], bottom[14]}), convertSolid(128, 240, 110));
    EXPECT_EQ(out[15], 0x11); // S = 16 for width 5: one padding byte per row
    EXPECT_EQ(out[31], 0x11);
    EXPECT_EQ(out[47], 0x11);
}

TEST(YUVFrame, StrideRoundsThreeBytesPerPixelUpToFour)
{
    EXPECT_EQ(yuvref::stride(5), 16u);
    EXPECT_EQ(yuvref::stride(160), 480u);
    // Width 160: no padding, so the whole buffer is written.
    yuvref::Frame f(160, 2);
    std::fill(f.y.begin(), f.y.end(), 235);
    std::fill(f.u.begin(), f.u.end(), 128);
    std::fill(f.v.begin(), f.v.end(), 128);
    std::vector<uint8_t> out(f.outSize(), 0);
    YUVFrame(f.y.data(), f.u.data(), f.v.data(), out.data(), 160, 2);
    EXPECT_EQ(out, std::vector<uint8_t>(960, 254));
}

// Calls share nothing: four threads converting different frames at once each get the reference.
TEST(YUVFrame, ConcurrentCallsDoNotInterfere)
{
    std::vector<yuvref::Frame> frames;
    for (int t = 0; t < 4; ++t) {
        frames.emplace_back(640 + 2 * t, 480);
        for (auto* plane : {&frames[t].y, &frames[t].u, &frames[t].v})
            for (std::size_t i = 0; i < plane->size(); ++i)
                (*plane)[i] = static_cast<uint8_t>(i * (t + 3) + t);
    }
    std::vector<std::vector<uint8_t>> outs(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const auto& f = frames[t];
            outs[t].assign(f.outSize(), 0);
            for (int round = 0; round < 20; ++round)
                YUVFrame(f.y.data(), f.u.data(), f.v.data(), outs[t].data(), f.width, f.height);
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t) {
        const auto& f = frames[t];
        std::vector<uint8_t> want(f.outSize(), 0);
        yuvref::convert(f.y.data(), f.u.data(), f.v.data(), want.data(), f.width, f.height);
        EXPECT_EQ(outs[t], want) << "thread " << t;
    }
}

} // namespace
