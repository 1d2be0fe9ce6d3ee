#include "video/I420Converter.h"

#include <libyuv/convert.h>
#include <libyuv/scale.h>
#include <libyuv/video_common.h>

#include <algorithm>

namespace cfb::client {
namespace {

int bytesPerPixel(I420Converter::Format format)
{
    using F = I420Converter::Format;
    switch (format) {
    case F::YUYV:
    case F::UYVY:
        return 2;
    case F::BGRA:
    case F::RGBA:
    case F::ARGB:
    case F::ABGR:
        return 4;
    default:
        return 1;
    }
}

// Readable bytes needed for `rows` rows of `rowBytes` at `stride`.
std::size_t needed(int stride, int rows, int rowBytes)
{
    return std::size_t(stride) * std::size_t(rows - 1) + std::size_t(rowBytes);
}

// Studio-range (BT.601) levels for full-range (JPEG) luma and chroma.
struct RangeTables {
    uint8_t luma[256];
    uint8_t chroma[256];
    RangeTables()
    {
        for (int i = 0; i < 256; ++i) {
            luma[i] = uint8_t(16 + (i * 219 + 127) / 255);
            chroma[i] = uint8_t(128 + ((i - 128) * 224 + (i >= 128 ? 127 : -127)) / 255);
        }
    }
};

} // namespace

int I420Converter::planeCount(Format format)
{
    switch (format) {
    case Format::I420:
    case Format::YV12:
        return 3;
    case Format::NV12:
    case Format::NV21:
        return 2;
    default:
        return 1;
    }
}

bool I420Converter::checkBounds(const Input& in) const
{
    if (in.width < 1 || in.height < 1 || in.width > I420Buffer::MaxSide || in.height > I420Buffer::MaxSide)
        return false;
    const int planes = planeCount(in.format);
    for (int i = 0; i < planes; ++i)
        if (!in.planes[i])
            return false;
    if (in.format == Format::MJPEG)
        return in.bytes[0] > 0;
    const int cw = (in.width + 1) / 2, ch = (in.height + 1) / 2;
    const int lumaRow = in.width * bytesPerPixel(in.format);
    if (in.strides[0] < lumaRow || in.bytes[0] < needed(in.strides[0], in.height, lumaRow))
        return false;
    if (planes == 2)
        return in.strides[1] >= 2 * cw && in.bytes[1] >= needed(in.strides[1], ch, 2 * cw);
    if (planes == 3)
        return in.strides[1] >= cw && in.strides[2] >= cw && in.bytes[1] >= needed(in.strides[1], ch, cw)
            && in.bytes[2] >= needed(in.strides[2], ch, cw);
    return true;
}

bool I420Converter::toI420(const Input& in, I420Buffer& into)
{
    if (!into.resize(in.width, in.height))
        return false;
    const int w = in.width, h = in.height, cw = into.chromaWidth();
    uint8_t* y = into.y();
    uint8_t* u = into.u();
    uint8_t* v = into.v();
    const auto* p = in.planes.data();
    const int* s = in.strides.data();
    int r = -1;
    switch (in.format) {
    case Format::I420:
        r = libyuv::I420Copy(p[0], s[0], p[1], s[1], p[2], s[2], y, w, u, cw, v, cw, w, h);
        break;
    case Format::YV12:
        r = libyuv::I420Copy(p[0], s[0], p[2], s[2], p[1], s[1], y, w, u, cw, v, cw, w, h);
        break;
    case Format::NV12:
        r = libyuv::NV12ToI420(p[0], s[0], p[1], s[1], y, w, u, cw, v, cw, w, h);
        break;
    case Format::NV21:
        r = libyuv::NV21ToI420(p[0], s[0], p[1], s[1], y, w, u, cw, v, cw, w, h);
        break;
    case Format::YUYV:
        r = libyuv::YUY2ToI420(p[0], s[0], y, w, u, cw, v, cw, w, h);
        break;
    case Format::UYVY:
        r = libyuv::UYVYToI420(p[0], s[0], y, w, u, cw, v, cw, w, h);
        break;
    // libyuv names 32-bit layouts by their order in a little-endian word.
    case Format::BGRA:
        r = libyuv::ARGBToI420(p[0], s[0], y, w, u, cw, v, cw, w, h);
        break;
    case Format::RGBA:
        r = libyuv::ABGRToI420(p[0], s[0], y, w, u, cw, v, cw, w, h);
        break;
    case Format::ARGB:
        r = libyuv::BGRAToI420(p[0], s[0], y, w, u, cw, v, cw, w, h);
        break;
    case Format::ABGR:
        r = libyuv::RGBAToI420(p[0], s[0], y, w, u, cw, v, cw, w, h);
        break;
    case Format::MJPEG:
        r = libyuv::ConvertToI420(
            p[0], in.bytes[0], y, w, u, cw, v, cw, 0, 0, w, h, w, h, libyuv::kRotate0, libyuv::FOURCC_MJPG);
        if (r == 0)
            fullToStudioRange(into); // JPEG samples use the full 0..255 range
        break;
    }
    return r == 0;
}

void I420Converter::fullToStudioRange(I420Buffer& picture)
{
    static const RangeTables tables;
    uint8_t* y = picture.y();
    const std::size_t lumaBytes = std::size_t(picture.width()) * picture.height();
    for (std::size_t i = 0; i < lumaBytes; ++i)
        y[i] = tables.luma[y[i]];
    uint8_t* c = picture.u(); // U and V lie one after the other
    const std::size_t chromaBytes = 2 * std::size_t(picture.chromaWidth()) * picture.chromaHeight();
    for (std::size_t i = 0; i < chromaBytes; ++i)
        c[i] = tables.chroma[c[i]];
}

bool I420Converter::scaleInto(const I420Frame& from, I420Buffer& into)
{
    // The middle of the source with the target's shape, on even lines and columns so that the
    // chroma planes crop with it.
    const int sw = from.width, sh = from.height, tw = into.width(), th = into.height();
    int cropW = sw, cropH = sh;
    if (int64_t(sw) * th > int64_t(sh) * tw)
        cropW = std::max(2, int(int64_t(sh) * tw / th) & ~1);
    else if (int64_t(sw) * th < int64_t(sh) * tw)
        cropH = std::max(2, int(int64_t(sw) * th / tw) & ~1);
    cropW = std::min(cropW, sw);
    cropH = std::min(cropH, sh);
    const int x = (sw - cropW) / 2 & ~1, y = (sh - cropH) / 2 & ~1;
    const uint8_t* srcY = from.y + std::size_t(y) * from.strideY + x;
    const uint8_t* srcU = from.u + std::size_t(y / 2) * from.strideU + x / 2;
    const uint8_t* srcV = from.v + std::size_t(y / 2) * from.strideV + x / 2;
    return libyuv::I420Scale(srcY, from.strideY, srcU, from.strideU, srcV, from.strideV, cropW, cropH, into.y(), tw,
               into.u(), into.chromaWidth(), into.v(), into.chromaWidth(), tw, th, libyuv::kFilterBox)
        == 0;
}

bool I420Converter::convert(const Input& in, QSize target)
{
    if (!checkBounds(in) || target.width() < 1 || target.height() < 1)
        return false;
    if (target == QSize(in.width, in.height))
        return toI420(in, out_);
    if (!out_.resize(target))
        return false;
    if (in.format == Format::I420 || in.format == Format::YV12) {
        const bool yv12 = in.format == Format::YV12;
        I420Frame direct;
        direct.y = in.planes[0];
        direct.u = in.planes[yv12 ? 2 : 1];
        direct.v = in.planes[yv12 ? 1 : 2];
        direct.strideY = in.strides[0];
        direct.strideU = in.strides[yv12 ? 2 : 1];
        direct.strideV = in.strides[yv12 ? 1 : 2];
        direct.width = in.width;
        direct.height = in.height;
        return scaleInto(direct, out_);
    }
    return toI420(in, full_) && scaleInto(full_.frame(), out_);
}

} // namespace cfb::client
