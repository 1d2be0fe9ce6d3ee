#include "imaging/JpegDecode.h"

#include <turbojpeg.h>

#include <limits>
#include <memory>

namespace cfb {
namespace {

// TurboJPEG's layout of QImage::Format_RGB32 (0xFFRRGGBB in host order); it sets the X byte to 0xFF.
constexpr int kRgb32 = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;

#ifdef TJFLAG_LIMITSCANS
// A progressive JPEG of thousands of scans takes long to decode while being no real picture.
constexpr int kLimitScans = TJFLAG_LIMITSCANS;
#else
constexpr int kLimitScans = 0;
#endif

struct HandleCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// Four-colour JPEGs store ink inverted, as Adobe writes them: no ink is 255.
void inkToRgb(QImage& picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        uchar* p = picture.scanLine(y);
        auto* out = reinterpret_cast<QRgb*>(p);
        for (int x = 0; x < picture.width(); ++x, p += 4) {
            const int k = p[3];
            out[x] = qRgb(k * p[0] / 255, k * p[1] / 255, k * p[2] / 255);
        }
    }
}

// The largest scaled size of width x height that fits within bounds, or an invalid size.
QSize scaledToFit(int width, int height, QSize bounds)
{
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    QSize best;
    for (int i = 0; factors && i < count; ++i) {
        const QSize scaled(TJSCALED(width, factors[i]), TJSCALED(height, factors[i]));
        if (factors[i].num <= factors[i].denom && scaled.width() <= bounds.width() && scaled.height() <= bounds.height()
            && scaled.width() * qint64(scaled.height()) > best.width() * qint64(best.height()))
            best = scaled;
    }
    return best.isEmpty() ? QSize() : best;
}

} // namespace

QImage decodeJpeg(QByteArrayView jpeg, PictureSizeCheck sizeAllowed, QSize fitWithin)
{
    if (jpeg.isEmpty() || static_cast<quint64>(jpeg.size()) > std::numeric_limits<unsigned long>::max())
        return {};
    // A fresh decoder each time (it costs next to nothing beside decoding): one that failed part way
    // through a header can refuse the next good picture.
    const std::unique_ptr<void, HandleCloser> decoder(tjInitDecompress());
    if (!decoder)
        return {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    const auto length = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decoder.get(), bytes, length, &width, &height, &subsampling, &colourspace) != 0
        || !sizeAllowed(QSize(width, height)))
        return {};
    if (fitWithin.isValid() && (width > fitWithin.width() || height > fitWithin.height())) {
        const QSize scaled = scaledToFit(width, height, fitWithin);
        if (!scaled.isValid())
            return {};
        width = scaled.width();
        height = scaled.height();
    }
    const bool grey = colourspace == TJCS_GRAY;
    const bool ink = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    QImage picture(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (picture.isNull())
        return {};
    const int pixelFormat = grey ? TJPF_GRAY : (ink ? TJPF_CMYK : kRgb32);
    if (tjDecompress2(decoder.get(), bytes, length, picture.bits(), width, static_cast<int>(picture.bytesPerLine()),
            height, pixelFormat, TJFLAG_STOPONWARNING | kLimitScans)
        != 0)
        return {};
    if (ink)
        inkToRgb(picture);
    return picture;
}

} // namespace cfb
