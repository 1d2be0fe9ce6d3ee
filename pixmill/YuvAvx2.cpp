// Compiled with -mavx2; only called when the processor has it.
#include "YuvKernels.h"
#include "YuvSimd128.h"

namespace pixmill {
namespace {

static inline __m256i scaled256(__m256i d, int n, short frac)
{
    __m256i r = _mm256_sub_epi16(_mm256_mulhi_epi16(d, _mm256_set1_epi16(frac)), _mm256_srai_epi16(d, 15));
    for (int i = 0; i < n; ++i)
        r = _mm256_add_epi16(r, d);
    return r;
}

static inline __m256i select3x(__m256i a, __m256i ma, __m256i b, __m256i mb, __m256i c, __m256i mc)
{
    return _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(a, ma), _mm256_and_si256(b, mb)), _mm256_and_si256(c, mc));
}

struct Interleave256 {
    __m256i shufB, shufG, shufR, pos0, pos1, pos2;
    explicit Interleave256(const Interleave128& il)
        : shufB(_mm256_broadcastsi128_si256(il.shufB))
        , shufG(_mm256_broadcastsi128_si256(il.shufG))
        , shufR(_mm256_broadcastsi128_si256(il.shufR))
        , pos0(_mm256_broadcastsi128_si256(il.pos0))
        , pos1(_mm256_broadcastsi128_si256(il.pos1))
        , pos2(_mm256_broadcastsi128_si256(il.pos2))
    {
    }
};

// Chroma terms of sixteen chroma samples. Each 128-bit lane works on its own eight samples, and the
// unpacks double them within the lane, matching the lane order of the luma unpacks below.
struct Chroma256 {
    __m256i blueLo, blueHi, greenLo, greenHi, redLo, redHi;
};

static inline Chroma256 chroma256(const uint8_t* u, const uint8_t* v)
{
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i du
        = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u))), bias);
    const __m256i dv
        = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v))), bias);
    const __m256i blue = scaled256(du, 2, kUBlueFrac);
    const __m256i green = _mm256_add_epi16(scaled256(du, 0, kUGreenFrac), scaled256(dv, 1, kVGreenFrac));
    const __m256i red = scaled256(dv, 2, kVRedFrac);
    return {_mm256_unpacklo_epi16(blue, blue), _mm256_unpackhi_epi16(blue, blue), _mm256_unpacklo_epi16(green, green),
        _mm256_unpackhi_epi16(green, green), _mm256_unpacklo_epi16(red, red), _mm256_unpackhi_epi16(red, red)};
}

// Thirty-two pixels of one row: 32 luma samples in, 96 output bytes written.
static inline void row256(const uint8_t* y, const Chroma256& c, const Interleave256& il, uint8_t* out)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi16(16);
    const __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    // Lane 0 holds pixels 0..15, lane 1 pixels 16..31; the unpacks and packs stay within lanes, so
    // b, g and r come out in pixel order.
    const __m256i lumaLo = scaled256(_mm256_sub_epi16(_mm256_unpacklo_epi8(yv, zero), bias), 1, kLumaFrac);
    const __m256i lumaHi = scaled256(_mm256_sub_epi16(_mm256_unpackhi_epi8(yv, zero), bias), 1, kLumaFrac);
    const __m256i b = _mm256_packus_epi16(_mm256_add_epi16(lumaLo, c.blueLo), _mm256_add_epi16(lumaHi, c.blueHi));
    const __m256i g = _mm256_packus_epi16(_mm256_sub_epi16(lumaLo, c.greenLo), _mm256_sub_epi16(lumaHi, c.greenHi));
    const __m256i r = _mm256_packus_epi16(_mm256_add_epi16(lumaLo, c.redLo), _mm256_add_epi16(lumaHi, c.redHi));
    const __m256i bs = _mm256_shuffle_epi8(b, il.shufB);
    const __m256i gs = _mm256_shuffle_epi8(g, il.shufG);
    const __m256i rs = _mm256_shuffle_epi8(r, il.shufR);
    // Each lane now yields its own 48 bytes as three 16-byte blocks; reorder the blocks into memory order.
    const __m256i block0 = select3x(bs, il.pos0, gs, il.pos1, rs, il.pos2);
    const __m256i block1 = select3x(bs, il.pos2, gs, il.pos0, rs, il.pos1);
    const __m256i block2 = select3x(bs, il.pos1, gs, il.pos2, rs, il.pos0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(block0, block1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(block2, block0, 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_permute2x128_si256(block1, block2, 0x31));
}

} // namespace

void convertAvx2(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height)
{
    if (Width < 1 || Height < 1)
        return;
    const Interleave128 il;
    const Interleave256 il2(il);
    const std::size_t stride = rowStride(Width);
    const std::size_t cstride = chromaStride(Width);
    for (int32_t k = 0; k < Height; k += 2) {
        const bool pair = k + 1 < Height;
        const uint8_t* u = U + static_cast<std::size_t>(k / 2) * cstride;
        const uint8_t* v = V + static_cast<std::size_t>(k / 2) * cstride;
        const uint8_t* y0 = Y + static_cast<std::size_t>(k) * Width;
        const uint8_t* y1 = y0 + Width;
        uint8_t* out0 = Out + static_cast<std::size_t>(Height - 1 - k) * stride;
        uint8_t* out1 = out0 - stride;
        int32_t x = 0;
        for (; x + 32 <= Width; x += 32) {
            const Chroma256 c = chroma256(u + x / 2, v + x / 2);
            row256(y0 + x, c, il2, out0 + 3 * static_cast<std::size_t>(x));
            if (pair)
                row256(y1 + x, c, il2, out1 + 3 * static_cast<std::size_t>(x));
        }
        if (x + 16 <= Width) {
            const Chroma128 c = chroma128(u + x / 2, v + x / 2);
            row128(y0 + x, c, il, out0 + 3 * static_cast<std::size_t>(x));
            if (pair)
                row128(y1 + x, c, il, out1 + 3 * static_cast<std::size_t>(x));
            x += 16;
        }
        convertSpanScalar(y0, u, v, out0, x, Width);
        if (pair)
            convertSpanScalar(y1, u, v, out1, x, Width);
    }
}

} // namespace pixmill
