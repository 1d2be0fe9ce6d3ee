#include "imaging/BmpLayout.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

namespace cfb {
namespace {

constexpr qint64 kFileHeaderSize = 14;
constexpr qint64 kCoreHeaderSize = 12; // the oldest header: 16-bit sizes, 3-byte colour entries
constexpr int kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;

template <typename T> T field(QByteArrayView file, qint64 at)
{
    return qFromLittleEndian<T>(file.data() + at);
}

bool knownHeaderSize(qint32 size)
{
    return size == kCoreHeaderSize || size == 40 || size == 64 || size == 108 || size == 124;
}

bool readableLayout(int bitCount, int compression)
{
    switch (compression) {
    case kRgb:
        return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    case kRle8:
        return bitCount == 8;
    case kRle4:
        return bitCount == 4;
    case kBitFields:
        return bitCount == 16 || bitCount == 32;
    default:
        return false;
    }
}

} // namespace

BmpLayout::BmpLayout(QByteArrayView file)
{
    if (file.size() < kFileHeaderSize + 4 || !file.startsWith("BM"))
        return;
    const qint32 headerSize = field<qint32>(file, 14);
    if (!knownHeaderSize(headerSize) || file.size() < kFileHeaderSize + headerSize)
        return;
    qint64 width, height;
    int bitCount, compression = kRgb;
    quint32 coloursUsed = 0;
    if (headerSize == kCoreHeaderSize) {
        width = field<qint16>(file, 18);
        height = field<qint16>(file, 20);
        bitCount = field<quint16>(file, 24);
    } else {
        width = field<qint32>(file, 18);
        height = field<qint32>(file, 22);
        bitCount = field<quint16>(file, 28);
        compression = field<qint32>(file, 30);
        coloursUsed = field<quint32>(file, 46);
    }
    if (!readableLayout(bitCount, compression) || width < 1 || height == 0)
        return;
    const qint64 rows = height < 0 ? -height : height; // negative: stored top-down
    if (rows > std::numeric_limits<int>::max())
        return;
    size_ = QSize(static_cast<int>(width), static_cast<int>(rows));

    // The bit masks of a short header follow it; then a colour table for up to 8 bits a pixel.
    qint64 at = kFileHeaderSize + headerSize;
    if (compression == kBitFields && headerSize < 108)
        at += 12;
    if (bitCount <= 8) {
        const qint64 colours = coloursUsed ? coloursUsed : qint64(1) << bitCount;
        if (colours > 256)
            return;
        at += colours * (headerSize == kCoreHeaderSize ? 3 : 4);
    }
    // The pixels start where the file header says, unless that points back into the headers.
    at = std::max<qint64>(at, field<qint32>(file, 10));
    if (at > file.size())
        return;
    const QByteArrayView pixels = file.sliced(at);
    if (compression == kRle8 || compression == kRle4)
        complete_ = runsPresent(pixels, compression == kRle4);
    else
        complete_ = rowsPresent(pixels, bitCount);
}

bool BmpLayout::rowsPresent(QByteArrayView pixels, int bitCount) const
{
    const qint64 stride = (qint64(size_.width()) * bitCount + 31) / 32 * 4; // rows padded to 32 bits
    return size_.height() <= pixels.size() / stride;
}

// The runs must reach their end-of-bitmap mark: the last rows' runs may end without an end-of-line,
// and a jump may skip the last rows altogether, so nothing else tells a cut-off stream from a whole.
bool BmpLayout::runsPresent(QByteArrayView pixels, bool fourBit)
{
    const qint64 end = pixels.size();
    qint64 at = 0;
    while (end - at >= 2) {
        const auto count = static_cast<quint8>(pixels[at]), code = static_cast<quint8>(pixels[at + 1]);
        at += 2;
        if (count > 0 || code == 0) // a run of one colour, or the end of a line
            continue;
        if (code == 1) // end of bitmap
            return true;
        if (code == 2) // jump right and down
            at += 2;
        else // `code` pixels stored as they are, padded to a 16-bit boundary
            at += ((fourBit ? (code + 1) / 2 : code) + 1) & ~1;
    }
    return false;
}

} // namespace cfb
