#pragma once

#include "imaging/cDIBSection.h"

#include <QColor>
#include <QImage>
#include <QtEndian>

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

// A BMP file with a header of headerSize bytes (40, or 108/124 with the bit masks inside) whose
// fields beyond those given are 0. `extra` (bit masks after a 40-byte header, colour table) and
// `pixels` follow it as given; the file header points at the pixels.
inline QByteArray bmpFile(int headerSize, int width, int height, int bitCount, int compression, const QByteArray& extra,
    const QByteArray& pixels, int colours = 0, const QList<quint32>& masks = {})
{
    QByteArray file(14 + headerSize, '\0');
    char* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    qToLittleEndian<quint32>(14 + headerSize + extra.size() + pixels.size(), p + 2);
    qToLittleEndian<quint32>(14 + headerSize + extra.size(), p + 10);
    qToLittleEndian<qint32>(headerSize, p + 14);
    qToLittleEndian<qint32>(width, p + 18);
    qToLittleEndian<qint32>(height, p + 22);
    qToLittleEndian<qint16>(1, p + 26);
    qToLittleEndian<qint16>(bitCount, p + 28);
    qToLittleEndian<qint32>(compression, p + 30);
    qToLittleEndian<qint32>(pixels.size(), p + 34);
    qToLittleEndian<qint32>(colours, p + 46);
    for (int i = 0; i < masks.size() && headerSize > 40; ++i)
        qToLittleEndian<quint32>(masks[i], p + 54 + 4 * i);
    return file + extra + pixels;
}

// The rows of a 24-bit bitmap of `picture`, bottom row first unless topDown.
inline QByteArray bmpRows24(const QImage& picture, bool topDown)
{
    const int stride = (picture.width() * 3 + 3) / 4 * 4;
    QByteArray rows(stride * picture.height(), '\0');
    for (int r = 0; r < picture.height(); ++r) {
        const int y = topDown ? r : picture.height() - 1 - r;
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = picture.pixel(x, y);
            char* px = rows.data() + r * stride + 3 * x;
            px[0] = static_cast<char>(qBlue(c));
            px[1] = static_cast<char>(qGreen(c));
            px[2] = static_cast<char>(qRed(c));
        }
    }
    return rows;
}

} // namespace dibtest
