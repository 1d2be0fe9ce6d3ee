#pragma once

#include <cstddef>
#include <cstdint>

// The conversion paths behind YUVFrame. Every path produces identical bytes; YUVFrame picks the
// fastest one the processor supports. Tests and benchmarks call the paths directly.
namespace pixmill {

using Kernel
    = void (*)(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height);

void convertScalar(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height);
void convertSse41(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height);
void convertAvx2(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height);

bool cpuHasSse41();
bool cpuHasAvx2();

// Converts pixels [x0, x1) of one row with the lookup tables; y, u and v point at the start of the
// row's luma and chroma samples, out at the start of its output row. The SIMD paths finish rows here.
void convertSpanScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t x0, int32_t x1);

// Bytes per output row: 3 * Width rounded up to a multiple of 4.
inline std::size_t rowStride(int32_t width)
{
    return (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
}

// Chroma samples per row. Odd widths round up, as I420 stores them, so the last column has its own
// sample and nothing outside the planes is read.
inline std::size_t chromaStride(int32_t width)
{
    return (static_cast<std::size_t>(width) + 1) / 2;
}

} // namespace pixmill
