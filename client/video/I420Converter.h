#pragma once

#include "video/I420Buffer.h"

#include <QSize>

#include <array>
#include <cstddef>
#include <cstdint>

namespace cfb::client {

// Turns a camera picture in whatever layout the camera gives into I420 of the size the user
// configured, with libyuv: convert, then crop the middle to the target's shape and scale. Buffers
// are kept from call to call, so once sized a steady stream of frames allocates nothing here
// (libyuv's JPEG decoder keeps its own). Not thread-safe: one converting thread at a time.
class I420Converter {
public:
    // Packed RGB layouts are named by their byte order in memory.
    enum class Format { I420, YV12, NV12, NV21, YUYV, UYVY, MJPEG, BGRA, RGBA, ARGB, ABGR };

    // One source picture. planes/strides/bytes hold as many entries as the layout has planes
    // (three for I420 and YV12 in Y, U, V and Y, V, U order; two for NV12/NV21; one otherwise);
    // bytes are the readable bytes from each plane's start. For MJPEG, planes[0] is the JPEG
    // and bytes[0] its length.
    struct Input {
        Format format = Format::I420;
        int width = 0;
        int height = 0;
        std::array<const uint8_t*, 3> planes{};
        std::array<int, 3> strides{};
        std::array<std::size_t, 3> bytes{};
    };

    // Converts `in` into output() at `target` size. False when the input is malformed or too
    // small for its stated size, or the conversion fails; output() then holds no valid picture.
    bool convert(const Input& in, QSize target);

    I420Buffer& output() { return out_; }
    const I420Buffer& output() const { return out_; }

    static int planeCount(Format format);

private:
    bool checkBounds(const Input& in) const;
    bool toI420(const Input& in, I420Buffer& into);
    bool scaleInto(const I420Frame& from, I420Buffer& into);
    void fullToStudioRange(I420Buffer& picture);

    I420Buffer full_; // the source picture in I420 at its own size, when it must be scaled
    I420Buffer out_;
};

} // namespace cfb::client
