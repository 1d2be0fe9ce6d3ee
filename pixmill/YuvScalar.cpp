#include "YuvKernels.h"

#include <array>

namespace pixmill {
namespace {

// Each table entry is (i - offset) * factor formed in double precision and truncated toward zero.
constexpr std::array<int16_t, 256> makeTable(int offset, double factor)
{
    std::array<int16_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<int16_t>(static_cast<double>(i - offset) * factor);
    return table;
}

constexpr auto lumaTable = makeTable(16, 1.164);
constexpr auto vRedTable = makeTable(128, 1.596);
constexpr auto uGreenTable = makeTable(128, 0.391);
constexpr auto vGreenTable = makeTable(128, 0.813);
constexpr auto uBlueTable = makeTable(128, 2.018);

inline uint8_t clampByte(int value)
{
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

} // namespace

void convertSpanScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t x0, int32_t x1)
{
    for (int32_t x = x0; x < x1; ++x) {
        const int luma = lumaTable[y[x]];
        const uint8_t cb = u[x / 2];
        const uint8_t cr = v[x / 2];
        uint8_t* pixel = out + static_cast<std::size_t>(x) * 3;
        pixel[0] = clampByte(luma + uBlueTable[cb]);
        pixel[1] = clampByte(luma - vGreenTable[cr] - uGreenTable[cb]);
        pixel[2] = clampByte(luma + vRedTable[cr]);
    }
}

void convertScalar(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height)
{
    if (Width < 1 || Height < 1)
        return;
    const std::size_t stride = rowStride(Width);
    const std::size_t cstride = chromaStride(Width);
    for (int32_t k = 0; k < Height; ++k) {
        const std::size_t c = static_cast<std::size_t>(k / 2) * cstride;
        convertSpanScalar(Y + static_cast<std::size_t>(k) * Width, U + c, V + c,
            Out + static_cast<std::size_t>(Height - 1 - k) * stride, 0, Width);
    }
}

} // namespace pixmill
