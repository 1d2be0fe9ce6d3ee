#pragma once

#include "video/I420Frame.h"

#include <QSize>

#include <cstdint>
#include <vector>

namespace cfb::client {

// Owned, tightly packed I420 planes that are reused from frame to frame: memory is taken only
// when the picture grows beyond what the buffer held before.
class I420Buffer {
public:
    // Sizes the planes for width x height; false (and left empty) for a size below 1x1 or above
    // MaxSide in either direction.
    bool resize(int width, int height);
    bool resize(QSize size) { return resize(size.width(), size.height()); }

    int width() const { return width_; }
    int height() const { return height_; }
    QSize size() const { return {width_, height_}; }
    int chromaWidth() const { return (width_ + 1) / 2; }
    int chromaHeight() const { return (height_ + 1) / 2; }

    uint8_t* y() { return planes_.data(); }
    uint8_t* u() { return planes_.data() + lumaBytes(); }
    uint8_t* v() { return planes_.data() + lumaBytes() + chromaBytes(); }
    const uint8_t* y() const { return planes_.data(); }
    const uint8_t* u() const { return planes_.data() + lumaBytes(); }
    const uint8_t* v() const { return planes_.data() + lumaBytes() + chromaBytes(); }

    // All three planes one after the other, as the image class takes a frame.
    const uint8_t* data() const { return planes_.data(); }
    std::size_t byteCount() const { return lumaBytes() + 2 * chromaBytes(); }

    I420Frame frame(qint64 timestampUs = 0) const;

    static constexpr int MaxSide = 8192;

private:
    std::size_t lumaBytes() const { return std::size_t(width_) * std::size_t(height_); }
    std::size_t chromaBytes() const { return std::size_t(chromaWidth()) * std::size_t(chromaHeight()); }

    std::vector<uint8_t> planes_;
    int width_ = 0;
    int height_ = 0;
};

} // namespace cfb::client
