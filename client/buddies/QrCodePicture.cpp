#include "buddies/QrCodePicture.h"

#include <qrencode.h>

#include <memory>

namespace cfb::client::QrCodePicture {
namespace {

constexpr int QuietZone = 4;

} // namespace

QImage of(const QString& text, int moduleSize)
{
    if (text.isEmpty() || moduleSize <= 0)
        return {};
    const QByteArray bytes = text.toUtf8();
    // Version 0: the smallest that holds the text; case-sensitive, so nothing is changed.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(bytes.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code || code->width <= 0)
        return {};
    const int width = code->width;
    const int side = (width + 2 * QuietZone) * moduleSize;
    QImage picture(side, side, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int y = 0; y < width; ++y)
        for (int x = 0; x < width; ++x) {
            if (!(code->data[y * width + x] & 1)) // the low bit: a dark module
                continue;
            const int left = (x + QuietZone) * moduleSize, top = (y + QuietZone) * moduleSize;
            for (int dy = 0; dy < moduleSize; ++dy) {
                auto* row = reinterpret_cast<QRgb*>(picture.scanLine(top + dy));
                for (int dx = 0; dx < moduleSize; ++dx)
                    row[left + dx] = qRgb(0, 0, 0);
            }
        }
    return picture;
}

} // namespace cfb::client::QrCodePicture
