#pragma once

#include <cstdint>

namespace cfb {

// Planes of one YUV 4:2:0 picture as the video codecs read and write them: a full-size luma plane
// and two chroma planes of half the width and height, rounded up, each with its own stride. The
// memory belongs to whoever made the view.
struct I420View {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int width = 0;
    int height = 0;

    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }
    bool isValid() const
    {
        return y && u && v && width > 0 && height > 0 && strideY >= width && strideU >= chromaWidth()
            && strideV >= chromaWidth();
    }
};

} // namespace cfb
