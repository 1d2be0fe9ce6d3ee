#pragma once

#include "video/I420View.h"

#include <cmath>
#include <cstdint>
#include <vector>

// Camera-like pictures for the codec tests and benchmarks: smooth shading that drifts, a bright disc that moves
// across it and a little fixed sensor noise, tightly packed I420.
class MovingPattern {
public:
    MovingPattern(int width, int height)
        : width_(width)
        , height_(height)
        , planes_(std::size_t(width) * height + 2 * std::size_t((width + 1) / 2) * ((height + 1) / 2))
    {
    }

    cfb::I420View frame(int index)
    {
        const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
        uint8_t* y = planes_.data();
        uint8_t* u = y + std::size_t(width_) * height_;
        uint8_t* v = u + std::size_t(cw) * ch;
        const double cx = width_ * (0.2 + 0.6 * (0.5 + 0.5 * std::sin(index * 0.05)));
        const double cy = height_ * (0.5 + 0.25 * std::cos(index * 0.07));
        const double r2 = (height_ / 6.0) * (height_ / 6.0);
        uint32_t noise = 12345;
        for (int row = 0; row < height_; ++row)
            for (int col = 0; col < width_; ++col) {
                noise = noise * 1103515245u + 12345u;
                const double dx = col - cx, dy = row - cy;
                double luma = 110 + 50 * std::sin((col + index * 2) * 0.02) * std::cos(row * 0.03);
                if (dx * dx + dy * dy < r2)
                    luma = 200;
                y[std::size_t(row) * width_ + col] = uint8_t(luma + (noise >> 29));
            }
        for (int row = 0; row < ch; ++row)
            for (int col = 0; col < cw; ++col) {
                u[std::size_t(row) * cw + col] = uint8_t(128 + 30 * std::sin((col + index) * 0.04));
                v[std::size_t(row) * cw + col] = uint8_t(128 + 30 * std::cos(row * 0.06));
            }
        return {y, u, v, width_, cw, cw, width_, height_};
    }

private:
    int width_;
    int height_;
    std::vector<uint8_t> planes_;
};

// Peak signal-to-noise ratio of the luma planes, in dB.
inline double lumaPsnr(const cfb::I420View& a, const cfb::I420View& b)
{
    double sum = 0;
    for (int row = 0; row < a.height; ++row)
        for (int col = 0; col < a.width; ++col) {
            const double d = double(a.y[std::ptrdiff_t(row) * a.strideY + col]) - b.y[std::ptrdiff_t(row) * b.strideY + col];
            sum += d * d;
        }
    const double mse = sum / (double(a.width) * a.height);
    return mse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}
