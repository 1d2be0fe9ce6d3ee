// Compiled with -msse4.1; only called when the processor has it.
#include "YuvKernels.h"
#include "YuvSimd128.h"

namespace pixmill {

void convertSse41(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height)
{
    if (Width < 1 || Height < 1)
        return;
    const Interleave128 il;
    const std::size_t stride = rowStride(Width);
    const std::size_t cstride = chromaStride(Width);
    // Two source rows share one chroma row, so its terms are computed once for both.
    for (int32_t k = 0; k < Height; k += 2) {
        const bool pair = k + 1 < Height;
        const uint8_t* u = U + static_cast<std::size_t>(k / 2) * cstride;
        const uint8_t* v = V + static_cast<std::size_t>(k / 2) * cstride;
        const uint8_t* y0 = Y + static_cast<std::size_t>(k) * Width;
        const uint8_t* y1 = y0 + Width;
        uint8_t* out0 = Out + static_cast<std::size_t>(Height - 1 - k) * stride;
        uint8_t* out1 = out0 - stride;
        int32_t x = 0;
        for (; x + 16 <= Width; x += 16) {
            const Chroma128 c = chroma128(u + x / 2, v + x / 2);
            row128(y0 + x, c, il, out0 + 3 * static_cast<std::size_t>(x));
            if (pair)
                row128(y1 + x, c, il, out1 + 3 * static_cast<std::size_t>(x));
        }
        convertSpanScalar(y0, u, v, out0, x, Width);
        if (pair)
            convertSpanScalar(y1, u, v, out1, x, Width);
    }
}

} // namespace pixmill
