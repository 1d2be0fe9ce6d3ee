// Every conversion path must give exactly the bytes of the plain table conversion, for every
// possible (Y, U, V) sample triple and for every frame shape, including odd sizes and row tails.
#include "YUVFrame.h"
#include "YuvKernels.h"
#include "YuvReference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

struct Path {
    const char* name;
    pixmill::Kernel kernel;
    bool (*available)();
};

void PrintTo(const Path& path, std::ostream* os)
{
    *os << path.name;
}

bool always()
{
    return true;
}

const Path paths[] = {
    {"scalar", &pixmill::convertScalar, &always},
    {"sse41", &pixmill::convertSse41, &pixmill::cpuHasSse41},
    {"avx2", &pixmill::convertAvx2, &pixmill::cpuHasAvx2},
    {"dispatch", &YUVFrame, &always},
};

class YuvPathTest : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        if (!GetParam().available())
            GTEST_SKIP() << GetParam().name << " is not supported by this processor";
    }
};

// Compares a path against the reference on one frame; the output starts as the same canary in both,
// so padding the path writes shows up as a difference too.
::testing::AssertionResult matchesReference(pixmill::Kernel kernel, const yuvref::Frame& f)
{
    std::vector<uint8_t> want(f.outSize(), 0xA5), got(f.outSize(), 0xA5);
    yuvref::convert(f.y.data(), f.u.data(), f.v.data(), want.data(), f.width, f.height);
    kernel(f.y.data(), f.u.data(), f.v.data(), got.data(), f.width, f.height);
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i] != got[i]) {
            const std::size_t s = yuvref::stride(f.width);
            return ::testing::AssertionFailure() << f.width << "x" << f.height << ": output row " << i / s << " byte "
                                                 << i % s << " is " << int(got[i]) << ", expected " << int(want[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// A 4096 x 4096 frame holds every (Y, U, V) combination once: each of the 65,536 (U, V) pairs owns
// 64 chroma blocks whose 256 luma samples are 0..255. So every entry of every table, and every way
// the sums clamp, is compared.
TEST_P(YuvPathTest, EverySampleTripleMatchesTheTables)
{
    const int size = 4096, blocksPerRow = size / 2;
    yuvref::Frame f(size, size);
    for (int by = 0; by < size / 2; ++by) {
        for (int bx = 0; bx < blocksPerRow; ++bx) {
            const int block = by * blocksPerRow + bx;
            const int pairIndex = block / 64, slot = block % 64;
            f.u[block] = static_cast<uint8_t>(pairIndex / 256);
            f.v[block] = static_cast<uint8_t>(pairIndex % 256);
            for (int i = 0; i < 4; ++i)
                f.y[(2 * by + i / 2) * std::size_t(size) + 2 * bx + i % 2] = static_cast<uint8_t>(4 * slot + i);
        }
    }
    EXPECT_TRUE(matchesReference(GetParam().kernel, f));
}

// Widths around the vector widths (16 and 32 pixels) exercise every combination of vector body and
// scalar tail; odd widths and heights exercise the rounded-up chroma planes.
TEST_P(YuvPathTest, EveryShapeUpTo70WideMatches)
{
    std::mt19937 rng(1234);
    for (int w = 1; w <= 70; ++w) {
        for (int h : {1, 2, 3, 4, 5}) {
            yuvref::Frame f(w, h);
            for (auto* plane : {&f.y, &f.u, &f.v})
                for (auto& b : *plane)
                    b = static_cast<uint8_t>(rng());
            ASSERT_TRUE(matchesReference(GetParam().kernel, f));
        }
    }
}

TEST_P(YuvPathTest, CaptureSizesMatch)
{
    std::mt19937 rng(99);
    for (auto [w, h] : {std::pair{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480}, {1280, 720}}) {
        yuvref::Frame f(w, h);
        for (auto* plane : {&f.y, &f.u, &f.v})
            for (auto& b : *plane)
                b = static_cast<uint8_t>(rng());
        EXPECT_TRUE(matchesReference(GetParam().kernel, f));
    }
}

TEST_P(YuvPathTest, NothingWrittenForEmptyOrNegativeSizes)
{
    yuvref::Frame f(64, 4);
    std::vector<uint8_t> out(f.outSize(), 0x5A);
    for (auto [w, h] : {std::pair{0, 4}, {64, 0}, {-1, 4}, {64, -3}, {-64, -4}, {INT32_MIN, 4}, {64, INT32_MIN}})
        GetParam().kernel(f.y.data(), f.u.data(), f.v.data(), out.data(), w, h);
    EXPECT_EQ(out, std::vector<uint8_t>(f.outSize(), 0x5A));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, YuvPathTest, ::testing::ValuesIn(paths), [](const auto& info) { return std::string(info.param.name); });

} // namespace
