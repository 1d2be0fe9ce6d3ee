#include "NoisyJpeg.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>

QByteArray jpegOfSize(int size, QSize dimensions)
{
    QImage image(dimensions, QImage::Format_RGB32);
    auto* rng = QRandomGenerator::global();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, rng->generate());
    for (int quality = 95; quality > 0; quality -= 5) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", quality);
        if (bytes.size() <= size)
            return bytes + QByteArray(size - bytes.size(), '\0');
    }
    return {};
}
