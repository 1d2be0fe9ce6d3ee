#include "imaging/modPic.h"

#include "imaging/BmpLayout.h"
#include "imaging/JpegDecode.h"

#include <QBuffer>
#include <QImageReader>

namespace cfb {
namespace {

// Pictures larger than this are refused before any pixel memory is allocated.
constexpr int kMaxSide = 8192;
constexpr qint64 kMaxPixels = qint64(32) << 20;

// The picture kind from its leading bytes; only these four are pictures here.
QByteArray formatOf(const QByteArray& b)
{
    if (b.startsWith("\xFF\xD8\xFF"))
        return "jpeg";
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a"))
        return "gif";
    if (b.startsWith("\x89PNG\r\n\x1A\n"))
        return "png";
    if (b.startsWith("BM"))
        return "bmp";
    return {};
}

bool acceptable(const QSize& size)
{
    return size.isValid() && !size.isEmpty() && size.width() <= kMaxSide && size.height() <= kMaxSide
        && qint64(size.width()) * size.height() <= kMaxPixels;
}

bool acceptableFrame(const QSize& size)
{
    return acceptable(size) && size.width() <= LargestFrame.width() && size.height() <= LargestFrame.height();
}

// Decodes a picture whose size passes sizeAllowed, checked before any pixel memory is made; a JPEG
// larger than fitWithin (when valid) is decoded scaled down to fit.
QImage decodePicture(const QByteArray& bytes, PictureSizeCheck sizeAllowed, QSize fitWithin)
{
    const QByteArray format = formatOf(bytes);
    if (format.isEmpty())
        return {};
    if (format == "jpeg") // not Qt's reader: it passes a JPEG that ends early for a whole one
        return decodeJpeg(bytes, sizeAllowed, fitWithin);
    // The reader gives a top-down bitmap's size with a negative height and decodes a cut-off one.
    QSize expected;
    if (format == "bmp") {
        const BmpLayout layout(bytes);
        if (!layout.complete())
            return {};
        expected = layout.size();
    }
    QByteArray data = bytes; // shares, never copies: the buffer only reads
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(false);
    if (!reader.canRead())
        return {};
    if (!sizeAllowed(expected.isValid() ? expected : reader.size()))
        return {};
    QImage picture;
    // The header's size is not always the decoded one (a GIF's screen and frame differ).
    if (!reader.read(&picture) || !sizeAllowed(picture.size()) || (expected.isValid() && picture.size() != expected))
        return {};
    return picture;
}

} // namespace

QImage PictureFromBytes(const QByteArray& bytes)
{
    return decodePicture(bytes, acceptable, QSize());
}

QImage FrameFromBytes(const QByteArray& bytes)
{
    // A JPEG is checked against the general limits and scaled to the frame size; other kinds,
    // which cannot be decoded scaled, must be no larger than a frame.
    return decodePicture(bytes, formatOf(bytes) == "jpeg" ? acceptable : acceptableFrame, LargestFrame);
}

} // namespace cfb
