#include "setup/AvatarFit.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace cfb::client {
namespace {

constexpr int Quality = 85;
// Each try is this much narrower than the last: JPEG bytes go roughly with the area.
constexpr double Step = 0.85;

QByteArray jpeg(const QImage& picture, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    // JPEG has no alpha: transparent parts go white, as they show on a light window.
    QImage opaque(picture.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    if (picture.hasAlphaChannel()) {
        QPainter(&opaque).drawImage(0, 0, picture);
    } else {
        opaque = picture.convertToFormat(QImage::Format_RGB32);
    }
    return writer.write(opaque) ? bytes : QByteArray();
}

} // namespace

QByteArray AvatarFit::fit(const QImage& picture, qsizetype limit)
{
    if (picture.isNull() || limit <= 0)
        return {};
    QSize size = picture.size();
    // Start where the area alone says it could fit (about one byte per pixel at this quality),
    // not at a photo's full size.
    const double start = std::sqrt(double(limit) / std::max<qint64>(1, qint64(size.width()) * size.height()));
    if (start < 1.0)
        size = (QSizeF(size) * std::min(1.0, start * 1.5)).toSize();
    while (std::min(size.width(), size.height()) >= SmallestSide) {
        const QImage scaled
            = size == picture.size() ? picture : picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        for (const int quality : {Quality, 70}) {
            const QByteArray bytes = jpeg(scaled, quality);
            if (!bytes.isEmpty() && bytes.size() <= limit)
                return bytes;
        }
        size = (QSizeF(size) * Step).toSize();
    }
    return {};
}

} // namespace cfb::client
