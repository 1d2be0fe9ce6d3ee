#pragma once

#include <QtGlobal>

#include <cstdint>

namespace cfb::client {

// A view of one planar YUV 4:2:0 picture (BT.601, studio range): a full-size luma plane and two
// chroma planes of half the width and height, rounded up. The memory belongs to whoever handed
// the view out and stays valid only while the call that received it runs.
struct I420Frame {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int width = 0;
    int height = 0;
    qint64 timestampUs = 0; // capture time, microseconds since the source started

    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }
    bool isValid() const { return y && u && v && width > 0 && height > 0; }
};

} // namespace cfb::client
