#pragma once

#include "imaging/DibTypes.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

class QPaintDevice;

namespace cfb {

// A 24- or 32-bit bitmap held in memory the object owns: rows bottom-up, each padded to a multiple
// of 4 bytes, blue byte first. It is filled from a bitmap file, a picture or an I420 camera frame,
// painted onto any QPainter target, and encoded to JPEG in memory or to a file.
//
// A drawing context here is a QPaintDevice. The object's own context is an image over the bitmap's
// memory as it lies (bottom-up, so it shows the picture upside down); PaintPicture and
// LoadPictureBlt do the flipping. Handles are opaque numbers, 0 when there is nothing.
//
// Failures show as false, 0 or empty results. The 16-bit arithmetic of RoundUp and BytesPerScanLine
// raises OverflowError, also out of the members that size a bitmap with it.
class cDIBSection {
public:
    static constexpr int32_t SRCCOPY = 13369376; // copies the source unchanged

    cDIBSection();
    ~cDIBSection();
    cDIBSection(const cDIBSection&) = delete;
    cDIBSection& operator=(const cDIBSection&) = delete;

    // Quality for JPGBuffer, 1..100. 0 (the initial value) stands for the usual 75; values outside
    // the range are clamped into it.
    int16_t JPGQuality() const { return jpgQuality_; }
    void setJPGQuality(int16_t quality) { jpgQuality_ = quality; }

    // Describes and creates a bitmap of the given size (24-bit for 3 channels, 32-bit for any other
    // count) and writes its handle to hDib. The object holds the one bitmap it created last.
    bool CreateDIB(QPaintDevice* lhDC, int32_t lWidth, int32_t lHeight, int32_t lChannels, uintptr_t& hDib);
    // Prepares for camera frames of the 24-bit size that lpbmi describes: sizes the planes, the
    // working pixels and the bitmap once. Returns the bitmap handle (also in hDib), 0 on failure.
    // The context passed in is used, never destroyed, by the object.
    uintptr_t CreateDIBEx(QPaintDevice* lhDC, const BITMAPINFO* lpbmi, uintptr_t& hDib);
    bool Create(int32_t lWidth, int32_t lHeight, int32_t lChannels);
    // Loads a BMP file as a 24-bit bitmap. On failure the user is told "Can't load BMP image".
    bool Load(const QString& Name);

    int32_t BytesPerScanLine() const;
    int32_t dib_width() const { return header().biWidth; }
    int32_t dib_height() const { return header().biHeight; }
    int32_t dib_channels() const;

    // Copies the bitmap (or the part from lSrcLeft, lSrcTop) to lhDC at lDestLeft, lDestTop; a
    // negative width or height means the bitmap's own. Raster operations without a QPainter
    // equivalent paint nothing.
    void PaintPicture(QPaintDevice* lhDC, int32_t lDestLeft = 0, int32_t lDestTop = 0, int32_t lDestWidth = -1,
        int32_t lDestHeight = -1, int32_t lSrcLeft = 0, int32_t lSrcTop = 0, int32_t eRop = SRCCOPY) const;

    QPaintDevice* hdc() const;
    uintptr_t hDib() const { return hDib_; }
    uint8_t* DIBSectionBitsPtr() const;

    void CleanUp();

    // Copies a picture into a new 24-bit bitmap of its size; a null picture leaves the object empty.
    void CreateFromPicture(const QImage& picThis);
    // Copies lSrcWidth x lSrcHeight (negative: the bitmap's own size) from lSrcLeft, lSrcTop of
    // the picture to the top left of the bitmap, combining with any of the 256 raster operations.
    // lWidth and lHeight have no effect.
    void LoadPictureBlt(const QImage& lhDC, int32_t lWidth = -1, int32_t lHeight = -1, int32_t lSrcLeft = 0,
        int32_t lSrcTop = 0, int32_t lSrcWidth = -1, int32_t lSrcHeight = -1, int32_t eRop = SRCCOPY);

    // Writes the bitmap as a baseline JPEG at quality 75 (4:2:0 YCbCr, also for 32-bit bitmaps).
    bool SaveJPGToFile(const QString& sFile);
    // The bitmap as JPEG bytes at JPGQuality (4:2:0 YCbCr); empty when there is no bitmap.
    QByteArray JPGBuffer();
    // The same bytes written into jpeg, whose storage is reused: a caller that keeps one array
    // from frame to frame (and shares it with nobody meanwhile) allocates nothing per frame.
    // False, with jpeg emptied, when there is no bitmap or the encoder fails.
    bool JPGBuffer(QByteArray& jpeg);

    // Smallest integer not below inVal.
    static int16_t RoundUp(float inVal);
    // Loads one camera frame: with IsCompressed, bits holds I420 planes of the CreateDIBEx size,
    // which are converted through Pixmill; in every case the bitmap is refreshed from the working
    // pixels. False before CreateDIBEx, for a short frame, or when Pixmill is missing.
    bool SetBits(const QByteArray& bits, bool IsCompressed = false);
    // Copies a packed bitmap (40-byte header, then biSizeImage pixel bytes) of which `available`
    // bytes can be read at pDIB. False for fewer than 16 bits per pixel, no pixels, or too few bytes.
    bool CreateFromPackedDIBPointer(const void* pDIB, int64_t available);
    static uint8_t TrimByte(int16_t inVal);

    // The copies CreateFromPackedDIBPointer keeps.
    const BITMAPINFOHEADER& PackedHeader() const { return packedInfo_; }
    const QByteArray& PackedPixels() const { return packedPixels_; }
    const BITMAPFILEHEADER& PackedFileHeader() const { return fileHeader_; }

    const BITMAPINFO& Description() const { return info_; }

private:
    const BITMAPINFOHEADER& header() const { return info_.bmiHeader; }
    bool allocateBitmap(int32_t width, int32_t height, int32_t bitCount);
    // The most bytes a JPEG of the bitmap can take; 0 without a bitmap.
    unsigned long encodedCapacity() const;
    // Encodes into out, which holds capacity bytes; size becomes the JPEG's size.
    bool encodeInto(int quality, unsigned char* out, unsigned long capacity, unsigned long& size);
    bool encodeTo(int quality, QByteArray& jpeg);
    void resetDescription();

    uintptr_t hDib_ = 0;
    QPaintDevice* callerContext_ = nullptr; // a context handed to CreateDIBEx
    bool ownContext_ = false;
    QImage contextImage_; // the own context: a view of bits_
    std::vector<uint8_t> bits_; // the bitmap's pixels
    BITMAPINFO info_{};

    QByteArray packedPixels_;
    QByteArray packedHeaderBytes_;
    BITMAPINFOHEADER packedInfo_{};
    BITMAPFILEHEADER fileHeader_{};

    int16_t jpgQuality_ = 0;
    std::vector<uint8_t> yPlane_, uPlane_, vPlane_;
    std::vector<uint8_t> working_;
    int32_t frameWidth_ = 0, frameHeight_ = 0;
    int16_t chromaWidth_ = 0, chromaHeight_ = 0;

    void* compressor_ = nullptr; // TurboJPEG handle, made on first use
    std::vector<uint8_t> jpegOut_; // encoder output, sized for the worst case once per bitmap size
};

} // namespace cfb
