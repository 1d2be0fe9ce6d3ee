#pragma once

// 128-bit building blocks shared by the SSE4.1 and AVX2 paths. Included only by files compiled for
// those instruction sets; everything here has internal linkage so no copy leaks into another file.
//
// The lookup tables are linear: entry(i) = trunc((i - offset) * factor). Writing factor = n + f with
// an integer n and a 16-bit fraction M / 65536 gives floor(d * factor) = n * d + mulhi(d, M) exactly
// for every sample value (the tests check all 256 of each table), and truncation toward zero adds 1
// for negative d (d * factor is never an integer there).

#include <immintrin.h>
#include <stdint.h>

namespace pixmill {
namespace {

// Fractions chosen so that the forms below equal the tables bit for bit.
constexpr short kLumaFrac = 10748; // 1.164 = 1 + 10748 / 65536
constexpr short kVRedFrac = -26477; // 1.596 = 2 - 26477 / 65536
constexpr short kUGreenFrac = 25625; // 0.391 = 0 + 25625 / 65536
constexpr short kVGreenFrac = -12255; // 0.813 = 1 - 12255 / 65536
constexpr short kUBlueFrac = 1180; // 2.018 = 2 + 1180 / 65536

// Byte positions within one 16-byte block of blue-green-red output that take each channel.
// Block j takes channel c at positions p with (j + p) % 3 == c; shuffling a channel by these
// indices puts every byte where one of the three blocks needs it.
static inline __m128i channelShuffle(int channel)
{
    alignas(16) int8_t idx[16];
    for (int p = 0; p < 16; ++p) {
        const int block = ((channel - p) % 3 + 3) % 3;
        idx[p] = static_cast<int8_t>((16 * block + p) / 3);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(idx));
}

static inline __m128i positionMask(int residue)
{
    alignas(16) int8_t m[16];
    for (int p = 0; p < 16; ++p)
        m[p] = static_cast<int8_t>(p % 3 == residue ? -1 : 0);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

struct Interleave128 {
    __m128i shufB = channelShuffle(0), shufG = channelShuffle(1), shufR = channelShuffle(2);
    __m128i pos0 = positionMask(0), pos1 = positionMask(1), pos2 = positionMask(2);
};

static inline __m128i select3(__m128i a, __m128i ma, __m128i b, __m128i mb, __m128i c, __m128i mc)
{
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(a, ma), _mm_and_si128(b, mb)), _mm_and_si128(c, mc));
}

// floor(d * (n + M / 65536)) + (d < 0), i.e. trunc(d * factor), on eight signed 16-bit lanes.
static inline __m128i scaled128(__m128i d, int n, short frac)
{
    __m128i r = _mm_sub_epi16(_mm_mulhi_epi16(d, _mm_set1_epi16(frac)), _mm_srai_epi16(d, 15));
    for (int i = 0; i < n; ++i)
        r = _mm_add_epi16(r, d);
    return r;
}

// Chroma terms of eight chroma samples, each doubled for the two pixels it serves.
struct Chroma128 {
    __m128i blueLo, blueHi, greenLo, greenHi, redLo, redHi;
};

static inline Chroma128 chroma128(const uint8_t* u, const uint8_t* v)
{
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i du = _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u))), bias);
    const __m128i dv = _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v))), bias);
    const __m128i blue = scaled128(du, 2, kUBlueFrac);
    const __m128i green = _mm_add_epi16(scaled128(du, 0, kUGreenFrac), scaled128(dv, 1, kVGreenFrac));
    const __m128i red = scaled128(dv, 2, kVRedFrac);
    return {_mm_unpacklo_epi16(blue, blue), _mm_unpackhi_epi16(blue, blue), _mm_unpacklo_epi16(green, green),
        _mm_unpackhi_epi16(green, green), _mm_unpacklo_epi16(red, red), _mm_unpackhi_epi16(red, red)};
}

// Sixteen pixels of one row: 16 luma samples in, 48 output bytes written.
static inline void row128(const uint8_t* y, const Chroma128& c, const Interleave128& il, uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(16);
    const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const __m128i lumaLo = scaled128(_mm_sub_epi16(_mm_unpacklo_epi8(yv, zero), bias), 1, kLumaFrac);
    const __m128i lumaHi = scaled128(_mm_sub_epi16(_mm_unpackhi_epi8(yv, zero), bias), 1, kLumaFrac);
    // packus clamps each sum to 0..255.
    const __m128i b = _mm_packus_epi16(_mm_add_epi16(lumaLo, c.blueLo), _mm_add_epi16(lumaHi, c.blueHi));
    const __m128i g = _mm_packus_epi16(_mm_sub_epi16(lumaLo, c.greenLo), _mm_sub_epi16(lumaHi, c.greenHi));
    const __m128i r = _mm_packus_epi16(_mm_add_epi16(lumaLo, c.redLo), _mm_add_epi16(lumaHi, c.redHi));
    const __m128i bs = _mm_shuffle_epi8(b, il.shufB);
    const __m128i gs = _mm_shuffle_epi8(g, il.shufG);
    const __m128i rs = _mm_shuffle_epi8(r, il.shufR);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), select3(bs, il.pos0, gs, il.pos1, rs, il.pos2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), select3(bs, il.pos2, gs, il.pos0, rs, il.pos1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), select3(bs, il.pos1, gs, il.pos2, rs, il.pos0));
}

} // namespace
} // namespace pixmill
