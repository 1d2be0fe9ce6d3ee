#include "video/PlanarJpegEncoder.h"

#include <turbojpeg.h>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cfb::client {
namespace {

// Studio range (luma 16..235, chroma 16..240) to JPEG's full 0..255:
//   luma   (y - 16) * 255 / 219       = (y - 16) * 298 / 256
//   chroma (c - 128) * 255 / 224 + 128 = (c - 128) * 1166 / 1024 + 128
// in 16-bit lanes, sixteen samples at a time where SSE2 is there.
inline uint8_t stretchLuma(int y)
{
    return uint8_t(std::clamp(((y - 16) * 298 + 128) >> 8, 0, 255));
}

inline uint8_t stretchChroma(int c)
{
    return uint8_t(std::clamp((((c - 128) * 1166 + 512) >> 10) + 128, 0, 255));
}

void stretchRow(const uint8_t* from, int width, bool luma, uint8_t* to)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    if (luma) {
        const __m128i sixteen = _mm_set1_epi8(16), scale = _mm_set1_epi16(298 << 4), half = _mm_set1_epi16(8);
        for (; x + 16 <= width; x += 16) {
            const __m128i v = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x)), sixteen);
            // ((v << 4) + 8) * (298 << 4) >> 16 = v * 298 / 256, rounded
            const __m128i lo
                = _mm_mulhi_epu16(_mm_or_si128(_mm_slli_epi16(_mm_unpacklo_epi8(v, zero), 4), half), scale);
            const __m128i hi
                = _mm_mulhi_epu16(_mm_or_si128(_mm_slli_epi16(_mm_unpackhi_epi8(v, zero), 4), half), scale);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), _mm_packus_epi16(lo, hi));
        }
    } else {
        const __m128i bias = _mm_set1_epi16(128), scale = _mm_set1_epi16(1166), half = _mm_set1_epi16(32);
        for (; x + 16 <= width; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
            // (((c - 128) << 6) + 32) * 1166 >> 16 = (c - 128) * 1166 / 1024, rounded
            const __m128i lo = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(v, zero), bias), 6), half);
            const __m128i hi = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(v, zero), bias), 6), half);
            const __m128i outLo = _mm_add_epi16(_mm_mulhi_epi16(lo, scale), bias);
            const __m128i outHi = _mm_add_epi16(_mm_mulhi_epi16(hi, scale), bias);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), _mm_packus_epi16(outLo, outHi));
        }
    }
#endif
    for (; x < width; ++x)
        to[x] = luma ? stretchLuma(from[x]) : stretchChroma(from[x]);
}

void stretchPlane(const uint8_t* from, int stride, int width, int height, bool luma, uint8_t* to)
{
    for (int row = 0; row < height; ++row, to += width)
        stretchRow(from + std::size_t(row) * std::size_t(stride), width, luma, to);
}

} // namespace

PlanarJpegEncoder::PlanarJpegEncoder() = default;

PlanarJpegEncoder::~PlanarJpegEncoder()
{
    if (compressor_)
        tjDestroy(compressor_);
}

bool PlanarJpegEncoder::setFrame(const I420Frame& frame)
{
    if (!frame.isValid() || frame.strideY < frame.width || frame.strideU < frame.chromaWidth()
        || frame.strideV < frame.chromaWidth())
        return false;
    if (full_.size() != QSize(frame.width, frame.height) && !full_.resize(frame.width, frame.height))
        return false;
    stretchPlane(frame.y, frame.strideY, frame.width, frame.height, true, full_.y());
    stretchPlane(frame.u, frame.strideU, frame.chromaWidth(), frame.chromaHeight(), false, full_.u());
    stretchPlane(frame.v, frame.strideV, frame.chromaWidth(), frame.chromaHeight(), false, full_.v());
    return true;
}

QByteArrayView PlanarJpegEncoder::encode(int quality)
{
    if (full_.width() < 1)
        return {};
    if (!compressor_ && !(compressor_ = tjInitCompress()))
        return {};
    const unsigned long capacity = tjBufSize(full_.width(), full_.height(), TJSAMP_420);
    if (capacity == static_cast<unsigned long>(-1))
        return {};
    if (jpeg_.size() != capacity)
        jpeg_.resize(capacity); // once per picture size
    const unsigned char* planes[3] = {full_.y(), full_.u(), full_.v()};
    const int strides[3] = {full_.width(), full_.chromaWidth(), full_.chromaWidth()};
    unsigned char* out = jpeg_.data();
    unsigned long size = capacity;
    if (tjCompressFromYUVPlanes(compressor_, planes, full_.width(), strides, full_.height(), TJSAMP_420, &out, &size,
            std::clamp(quality, 1, 100), TJFLAG_NOREALLOC)
        != 0)
        return {};
    return QByteArrayView(out, qsizetype(size));
}

} // namespace cfb::client
