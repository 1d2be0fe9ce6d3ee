#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A plain table-driven conversion, written the slow and obvious way: the yardstick the fast paths
// must match byte for byte.
namespace yuvref {

struct Tables {
    int luma[256], vRed[256], uGreen[256], vGreen[256], uBlue[256];
    Tables()
    {
        for (int i = 0; i < 256; ++i) {
            luma[i] = static_cast<int16_t>((i - 16) * 1.164);
            vRed[i] = static_cast<int16_t>((i - 128) * 1.596);
            uGreen[i] = static_cast<int16_t>((i - 128) * 0.391);
            vGreen[i] = static_cast<int16_t>((i - 128) * 0.813);
            uBlue[i] = static_cast<int16_t>((i - 128) * 2.018);
        }
    }
};

inline int clampByte(int v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline std::size_t stride(int width)
{
    return ((3 * static_cast<std::size_t>(width) + 3) / 4) * 4;
}

inline std::size_t chromaWidth(int width)
{
    return (static_cast<std::size_t>(width) + 1) / 2;
}

inline std::size_t chromaHeight(int height)
{
    return (static_cast<std::size_t>(height) + 1) / 2;
}

inline void convert(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* out, int width, int height)
{
    static const Tables t;
    if (width < 1 || height < 1)
        return;
    const std::size_t cw = chromaWidth(width);
    for (int k = 0; k < height; ++k) {
        uint8_t* row = out + static_cast<std::size_t>(height - 1 - k) * stride(width);
        for (int x = 0; x < width; ++x) {
            const int y = Y[static_cast<std::size_t>(k) * width + x];
            const int u = U[(k / 2) * cw + x / 2];
            const int v = V[(k / 2) * cw + x / 2];
            row[3 * x] = static_cast<uint8_t>(clampByte(t.luma[y] + t.uBlue[u]));
            row[3 * x + 1] = static_cast<uint8_t>(clampByte(t.luma[y] - t.vGreen[v] - t.uGreen[u]));
            row[3 * x + 2] = static_cast<uint8_t>(clampByte(t.luma[y] + t.vRed[v]));
        }
    }
}

// One frame's planes, each allocated to its exact size so a read past a plane is caught by ASan.
struct Frame {
    int width, height;
    std::vector<uint8_t> y, u, v;
    Frame(int w, int h)
        : width(w)
        , height(h)
        , y(static_cast<std::size_t>(w) * h)
        , u(chromaWidth(w) * chromaHeight(h))
        , v(chromaWidth(w) * chromaHeight(h))
    {
    }
    std::size_t outSize() const { return stride(width) * height; }
};

} // namespace yuvref
