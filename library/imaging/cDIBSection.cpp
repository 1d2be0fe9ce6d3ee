#include "imaging/cDIBSection.h"

#include "imaging/BmpLayout.h"
#include "imaging/PixmillLoader.h"
#include "platform/UserNotice.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QSaveFile>

#include <turbojpeg.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace cfb {
namespace {

// The largest bitmap the object allocates; anything larger fails as an allocation would.
constexpr std::size_t kMaxBitmapBytes = std::size_t(256) << 20;
// Largest BMP file picture Load accepts (width and height).
constexpr int kMaxLoadSide = 10921;

uintptr_t nextHandle()
{
    static std::atomic<uintptr_t> counter{0};
    return ++counter;
}

int effectiveQuality(int quality)
{
    if (quality == 0)
        return 75; // not set by the caller: the client's usual quality
    return quality < 1 ? 1 : (quality > 100 ? 100 : quality);
}

// One byte of a ternary raster operation, whose index bit (P << 2 | S << 1 | D) gives the result
// for each combination of pattern, source and destination bits. The pattern is the default white
// brush, so only the four combinations with P set count.
uint8_t rasterByte(unsigned index, uint8_t s, uint8_t d)
{
    uint8_t r = 0;
    if (index & 0x10)
        r |= ~s & ~d;
    if (index & 0x20)
        r |= ~s & d;
    if (index & 0x40)
        r |= s & ~d;
    if (index & 0x80)
        r |= s & d;
    return r;
}

// The QPainter composition matching a raster operation, for those that have one.
bool compositionFor(unsigned index, QPainter::CompositionMode& mode)
{
    switch (index) {
    case 0xCC:
        mode = QPainter::CompositionMode_Source;
        return true; // SRCCOPY
    case 0xEE:
        mode = QPainter::RasterOp_SourceOrDestination;
        return true; // SRCPAINT
    case 0x88:
        mode = QPainter::RasterOp_SourceAndDestination;
        return true; // SRCAND
    case 0x66:
        mode = QPainter::RasterOp_SourceXorDestination;
        return true; // SRCINVERT
    case 0x33:
        mode = QPainter::RasterOp_NotSource;
        return true; // NOTSRCCOPY
    case 0x44:
        mode = QPainter::RasterOp_SourceAndNotDestination;
        return true; // SRCERASE
    case 0x11:
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        return true; // NOTSRCERASE
    case 0xBB:
        mode = QPainter::RasterOp_NotSourceOrDestination;
        return true; // MERGEPAINT
    case 0x55:
        mode = QPainter::RasterOp_NotDestination;
        return true; // DSTINVERT
    case 0x00:
        mode = QPainter::RasterOp_ClearDestination;
        return true; // BLACKNESS
    case 0xFF:
        mode = QPainter::RasterOp_SetDestination;
        return true; // WHITENESS
    default:
        return false;
    }
}

QImage::Format imageFormat(int bitCount)
{
    return bitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32;
}

// A complete BMP file as a picture; null when it cannot be read, is damaged, cut off or too large.
QImage readBmpFile(const QString& name)
{
    QFile file(name);
    // Read, not mapped: a file that another program shortens while it is read must fail the
    // load, not end the process. The largest bitmap the size limit lets through is 32-bit.
    constexpr qint64 kMaxFileBytes = 4LL * kMaxLoadSide * kMaxLoadSide + 64 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.isSequential() || file.size() > kMaxFileBytes)
        return {};
    QByteArray bytes = file.readAll();
    // The reader gives a top-down bitmap's size with a negative height and decodes a cut-off one.
    const BmpLayout layout(bytes);
    const QSize size = layout.size();
    if (!layout.complete() || size.width() > kMaxLoadSide || size.height() > kMaxLoadSide)
        return {};
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    reader.setDecideFormatFromContent(false);
    QImage picture;
    if (!reader.read(&picture) || picture.size() != size)
        return {};
    return picture;
}

} // namespace

cDIBSection::cDIBSection()
{
    resetDescription();
}

cDIBSection::~cDIBSection()
{
    CleanUp();
    if (compressor_)
        tjDestroy(compressor_);
}

int16_t cDIBSection::RoundUp(float inVal)
{
    if (!std::isfinite(inVal))
        throw OverflowError("RoundUp: value out of range");
    double n = std::floor(static_cast<double>(inVal));
    if (n != static_cast<double>(inVal))
        n += 1;
    if (n > std::numeric_limits<int16_t>::max() || n < std::numeric_limits<int16_t>::min())
        throw OverflowError("RoundUp: result does not fit 16 bits");
    return static_cast<int16_t>(n);
}

uint8_t cDIBSection::TrimByte(int16_t inVal)
{
    return static_cast<uint8_t>(inVal < 0 ? 0 : (inVal > 255 ? 255 : inVal));
}

int32_t cDIBSection::BytesPerScanLine() const
{
    const int r = RoundUp(static_cast<float>(header().biBitCount / 8.0 * header().biWidth));
    if (r + 3 > std::numeric_limits<int16_t>::max())
        throw OverflowError("BytesPerScanLine: row does not fit 16 bits");
    return (r + 3) / 4 * 4;
}

int32_t cDIBSection::dib_channels() const
{
    return static_cast<int32_t>(std::nearbyint(header().biBitCount / 8.0));
}

QPaintDevice* cDIBSection::hdc() const
{
    if (callerContext_)
        return callerContext_;
    if (ownContext_ && hDib_)
        return const_cast<QImage*>(&contextImage_);
    return nullptr;
}

uint8_t* cDIBSection::DIBSectionBitsPtr() const
{
    return hDib_ ? const_cast<uint8_t*>(bits_.data()) : nullptr;
}

void cDIBSection::resetDescription()
{
    BITMAPINFOHEADER& bi = info_.bmiHeader;
    bi.biSize = 40;
    bi.biWidth = bi.biHeight = 0;
    bi.biPlanes = bi.biBitCount = 0;
    bi.biCompression = BI_RGB;
    bi.biClrUsed = bi.biClrImportant = 0;
    info_.bmiColors[1] = RGBQUAD{};
}

void cDIBSection::CleanUp()
{
    hDib_ = 0;
    contextImage_ = QImage();
    std::vector<uint8_t>().swap(bits_);
    std::vector<uint8_t>().swap(jpegOut_);
    callerContext_ = nullptr; // a caller's context stays the caller's
    ownContext_ = false;
    resetDescription();
}

bool cDIBSection::allocateBitmap(int32_t width, int32_t height, int32_t bitCount)
{
    if (width < 1 || height < 1)
        return false;
    const std::size_t stride = static_cast<std::size_t>(BytesPerScanLine());
    if (stride == 0 || static_cast<std::size_t>(height) > kMaxBitmapBytes / stride)
        return false;
    contextImage_ = QImage();
    hDib_ = 0;
    try {
        bits_.assign(stride * static_cast<std::size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(bits_);
        return false;
    }
    contextImage_ = QImage(bits_.data(), width, height, static_cast<qsizetype>(stride), imageFormat(bitCount));
    hDib_ = nextHandle();
    return true;
}

bool cDIBSection::CreateDIB(QPaintDevice* lhDC, int32_t lWidth, int32_t lHeight, int32_t lChannels, uintptr_t& hDib)
{
    (void)lhDC; // every bitmap lives in memory in the same layout
    BITMAPINFOHEADER& bi = info_.bmiHeader;
    bi.biSize = 40;
    bi.biWidth = lWidth;
    bi.biHeight = lHeight;
    bi.biPlanes = 1;
    bi.biBitCount = lChannels == 3 ? 24 : 32;
    bi.biCompression = BI_RGB;
    const int64_t sizeImage = static_cast<int64_t>(lHeight) * BytesPerScanLine();
    if (sizeImage > std::numeric_limits<int32_t>::max() || sizeImage < std::numeric_limits<int32_t>::min())
        throw OverflowError("CreateDIB: image size does not fit 32 bits");
    bi.biSizeImage = static_cast<int32_t>(sizeImage);
    if (!allocateBitmap(lWidth, lHeight, bi.biBitCount))
        return false;
    hDib = hDib_;
    return true;
}

bool cDIBSection::Create(int32_t lWidth, int32_t lHeight, int32_t lChannels)
{
    CleanUp();
    ownContext_ = true;
    uintptr_t handle = 0;
    try {
        if (CreateDIB(nullptr, lWidth, lHeight, lChannels, handle))
            return true;
    } catch (...) {
        CleanUp();
        throw;
    }
    CleanUp();
    return false;
}

uintptr_t cDIBSection::CreateDIBEx(QPaintDevice* lhDC, const BITMAPINFO* lpbmi, uintptr_t& hDib)
{
    CleanUp();
    hDib = 0;
    if (!lpbmi)
        return 0;
    callerContext_ = lhDC;
    ownContext_ = lhDC == nullptr;
    std::memcpy(&info_, lpbmi, sizeof(BITMAPINFO));
    const BITMAPINFOHEADER& bi = header();
    // Frames are converted to 24-bit rows; any other layout cannot hold them.
    if (bi.biBitCount != 24 || bi.biCompression != BI_RGB || bi.biWidth < 1 || bi.biHeight < 1) {
        CleanUp();
        return 0;
    }
    try {
        const int32_t w = bi.biWidth, h = bi.biHeight;
        const int16_t cw = RoundUp(w / 2.0f), ch = RoundUp(h / 2.0f);
        if (!allocateBitmap(w, h, 24)) {
            CleanUp();
            return 0;
        }
        const std::size_t stride = static_cast<std::size_t>(BytesPerScanLine());
        yPlane_.resize(static_cast<std::size_t>(w) * h);
        uPlane_.resize(static_cast<std::size_t>(cw) * ch);
        vPlane_.resize(static_cast<std::size_t>(cw) * ch);
        working_.resize(stride * h);
        frameWidth_ = w;
        frameHeight_ = h;
        chromaWidth_ = cw;
        chromaHeight_ = ch;
    } catch (const std::bad_alloc&) {
        CleanUp();
        return 0;
    } catch (...) {
        CleanUp();
        throw;
    }
    hDib = hDib_;
    return hDib_;
}

bool cDIBSection::SetBits(const QByteArray& bits, bool IsCompressed)
{
    const BITMAPINFOHEADER& bi = header();
    // The working pixels must describe this very bitmap (CreateDIBEx sized both).
    if (!hDib_ || bi.biBitCount != 24 || bi.biWidth != frameWidth_ || bi.biHeight != frameHeight_
        || working_.size() != bits_.size())
        return false;
    if (IsCompressed) {
        const std::size_t ySize = yPlane_.size(), cSize = uPlane_.size();
        if (static_cast<std::size_t>(bits.size()) < ySize + 2 * cSize)
            return false;
        const PixmillLoader::YUVFrameFn convert = PixmillLoader::yuvFrame();
        if (!convert)
            return false;
        const auto* src = reinterpret_cast<const uint8_t*>(bits.constData());
        std::memcpy(yPlane_.data(), src, ySize);
        std::memcpy(uPlane_.data(), src + ySize, cSize);
        std::memcpy(vPlane_.data(), src + ySize + cSize, cSize);
        convert(yPlane_.data(), uPlane_.data(), vPlane_.data(), working_.data(), frameWidth_, frameHeight_);
    }
    std::memcpy(bits_.data(), working_.data(), bits_.size());
    return true;
}

unsigned long cDIBSection::encodedCapacity() const
{
    if (!hDib_)
        return 0;
    const unsigned long capacity = tjBufSize(header().biWidth, header().biHeight, TJSAMP_420);
    if (capacity == static_cast<unsigned long>(-1)
        || capacity > static_cast<unsigned long>(std::numeric_limits<qsizetype>::max()))
        return 0;
    return capacity;
}

bool cDIBSection::encodeInto(int quality, unsigned char* out, unsigned long capacity, unsigned long& size)
{
    const BITMAPINFOHEADER& bi = header();
    if (!hDib_ || !out || capacity == 0)
        return false;
    if (!compressor_)
        compressor_ = tjInitCompress();
    if (!compressor_)
        return false;
    size = capacity;
    const int pixelFormat = bi.biBitCount == 24 ? TJPF_BGR : TJPF_BGRX;
    return tjCompress2(compressor_, bits_.data(), bi.biWidth, BytesPerScanLine(), bi.biHeight, pixelFormat, &out, &size,
               TJSAMP_420, quality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC)
        == 0;
}

bool cDIBSection::encodeTo(int quality, QByteArray& jpeg)
{
    const unsigned long capacity = encodedCapacity();
    unsigned long size = 0;
    try {
        // Within the capacity the array has, and unshared, this moves no memory.
        if (capacity > 0)
            jpeg.resize(static_cast<qsizetype>(capacity));
    } catch (const std::bad_alloc&) {
        jpeg.clear();
        return false;
    }
    if (capacity == 0 || !encodeInto(quality, reinterpret_cast<unsigned char*>(jpeg.data()), capacity, size)) {
        jpeg.truncate(0);
        return false;
    }
    jpeg.truncate(static_cast<qsizetype>(size));
    return true;
}

QByteArray cDIBSection::JPGBuffer()
{
    const unsigned long capacity = encodedCapacity();
    if (capacity == 0)
        return {};
    try {
        if (jpegOut_.size() != capacity)
            jpegOut_.assign(capacity, 0); // once per bitmap size, not per frame
    } catch (const std::bad_alloc&) {
        return {};
    }
    unsigned long size = 0;
    if (!encodeInto(effectiveQuality(jpgQuality_), jpegOut_.data(), capacity, size))
        return {};
    return QByteArray(reinterpret_cast<const char*>(jpegOut_.data()), static_cast<qsizetype>(size));
}

bool cDIBSection::JPGBuffer(QByteArray& jpeg)
{
    return encodeTo(effectiveQuality(jpgQuality_), jpeg);
}

bool cDIBSection::SaveJPGToFile(const QString& sFile)
{
    QByteArray jpeg;
    if (sFile.isEmpty() || !encodeTo(75, jpeg))
        return false;
    QSaveFile file(sFile); // no half-written file on failure
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(jpeg) != jpeg.size())
        return false;
    return file.commit();
}

bool cDIBSection::Load(const QString& Name)
{
    CleanUp();
    const QImage picture = readBmpFile(Name);
    if (picture.isNull()) {
        UserNotice::show(QStringLiteral("Can't load BMP image"));
        return false;
    }
    if (!Create(picture.width(), picture.height(), 3))
        return false;
    LoadPictureBlt(picture);
    return true;
}

void cDIBSection::CreateFromPicture(const QImage& picThis)
{
    if (!Create(picThis.width(), picThis.height(), 3))
        return;
    LoadPictureBlt(picThis);
}

void cDIBSection::LoadPictureBlt(const QImage& lhDC, int32_t lWidth, int32_t lHeight, int32_t lSrcLeft, int32_t lSrcTop,
    int32_t lSrcWidth, int32_t lSrcHeight, int32_t eRop)
{
    (void)lWidth;
    (void)lHeight;
    const BITMAPINFOHEADER& bi = header();
    if (!hDib_ || lhDC.isNull())
        return;
    // The copy lands at the bitmap's top left; whatever reaches past it is clipped.
    const int w = std::min(lSrcWidth < 0 ? bi.biWidth : lSrcWidth, bi.biWidth);
    const int h = std::min(lSrcHeight < 0 ? bi.biHeight : lSrcHeight, bi.biHeight);
    if (w <= 0 || h <= 0)
        return;
    const QImage part = lhDC.copy(lSrcLeft, lSrcTop, w, h).convertToFormat(imageFormat(bi.biBitCount));
    if (part.isNull())
        return;
    const unsigned index = (static_cast<uint32_t>(eRop) >> 16) & 0xFF;
    const std::size_t stride = static_cast<std::size_t>(BytesPerScanLine());
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (bi.biBitCount / 8);
    for (int r = 0; r < h; ++r) {
        uint8_t* dst = bits_.data() + static_cast<std::size_t>(bi.biHeight - 1 - r) * stride;
        const uint8_t* src = part.constScanLine(r);
        if (index == 0xCC) {
            std::memcpy(dst, src, rowBytes);
        } else {
            for (std::size_t i = 0; i < rowBytes; ++i)
                dst[i] = rasterByte(index, src[i], dst[i]);
        }
    }
}

void cDIBSection::PaintPicture(QPaintDevice* lhDC, int32_t lDestLeft, int32_t lDestTop, int32_t lDestWidth,
    int32_t lDestHeight, int32_t lSrcLeft, int32_t lSrcTop, int32_t eRop) const
{
    const BITMAPINFOHEADER& bi = header();
    QPainter::CompositionMode mode;
    if (!hDib_ || !lhDC || !compositionFor((static_cast<uint32_t>(eRop) >> 16) & 0xFF, mode))
        return;
    const QRect wanted(
        lSrcLeft, lSrcTop, lDestWidth < 0 ? bi.biWidth : lDestWidth, lDestHeight < 0 ? bi.biHeight : lDestHeight);
    const QRect part = wanted & QRect(0, 0, bi.biWidth, bi.biHeight);
    if (part.isEmpty())
        return;
    // Turn the bottom-up rows of the part the right way up.
    const std::size_t stride = static_cast<std::size_t>(BytesPerScanLine());
    const std::size_t bpp = bi.biBitCount / 8;
    QImage upright(part.width(), part.height(), imageFormat(bi.biBitCount));
    if (upright.isNull())
        return;
    for (int r = 0; r < part.height(); ++r) {
        const std::size_t row = static_cast<std::size_t>(bi.biHeight - 1 - (part.top() + r));
        uint8_t* line = upright.scanLine(r);
        std::memcpy(line, bits_.data() + row * stride + part.left() * bpp, part.width() * bpp);
        if (bpp == 4) // the fourth byte of a bitmap pixel is not alpha; Qt wants it opaque
            for (int x = 0; x < part.width(); ++x)
                line[4 * x + 3] = 0xFF;
    }
    QPainter painter(lhDC);
    if (!painter.isActive())
        return;
    painter.setCompositionMode(mode);
    painter.drawImage(QPoint(lDestLeft + part.left() - wanted.left(), lDestTop + part.top() - wanted.top()), upright);
}

bool cDIBSection::CreateFromPackedDIBPointer(const void* pDIB, int64_t available)
{
    if (!pDIB || available < 40)
        return false;
    const auto* bytes = static_cast<const char*>(pDIB);
    std::memcpy(&packedInfo_, bytes, 40);
    if (packedInfo_.biBitCount <= 15 || packedInfo_.biSizeImage <= 0)
        return false;
    if (available - 40 < packedInfo_.biSizeImage)
        return false;
    packedPixels_ = QByteArray(bytes + 40, packedInfo_.biSizeImage);
    packedHeaderBytes_ = QByteArray(bytes, 40);
    fileHeader_ = BITMAPFILEHEADER{19778, 0, 0, 0, 54};
    return true;
}

} // namespace cfb
