#pragma once

#include "imaging/cDIBSection.h"

#include <QColor>
#include <QImage>

#include <cstdint>
#include <cstdlib>

namespace dibtest {

// A picture whose every pixel differs from its neighbours, so a shifted, flipped or swapped copy
// cannot pass for the original.
inline QImage patternPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x * 37 + y * 11) & 0xFF, (y * 53 + 7) & 0xFF, (x * 19 + y * 29 + 101) & 0xFF));
    return img;
}

// A smooth picture, the kind JPEG keeps close.
inline QImage gradientPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, 128 + (x - y) * 64 / (w + h)));
    return img;
}

// The colour of picture pixel (x, y) (y counted from the top) as the bitmap's memory holds it.
inline QRgb bitmapPixel(const cfb::cDIBSection& dib, int x, int y)
{
    const uint8_t* p = dib.DIBSectionBitsPtr()
        + static_cast<std::size_t>(dib.dib_height() - 1 - y) * dib.BytesPerScanLine()
        + static_cast<std::size_t>(x) * dib.dib_channels();
    return qRgb(p[2], p[1], p[0]);
}

// Mean absolute difference per channel between two pictures of the same size.
inline double meanDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace dibtest
