#pragma once

#include <cstdint>
#include <stdexcept>

// The bitmap records of the image class, laid out byte for byte as the bitmap file format and the
// packed bitmaps handed to CreateFromPackedDIBPointer store them (little-endian, no padding).
namespace cfb {

enum ERGBCompression : int32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    DIB_RGB_COLORS = 0,
};

#pragma pack(push, 1)

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct BITMAPFILEHEADER {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};

struct BITMAPINFOHEADER {
    int32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    int16_t biPlanes;
    int16_t biBitCount;
    ERGBCompression biCompression;
    int32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    int32_t biClrUsed;
    int32_t biClrImportant;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[2];
};

struct Bitmap {
    int32_t bmType;
    int32_t bmWidth;
    int32_t bmHeight;
    int32_t bmWidthBytes;
    int16_t bmPlanes;
    int16_t bmBitsPixel;
    int32_t bmBits;
};

#pragma pack(pop)

static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPINFO) == 48);
static_assert(sizeof(Bitmap) == 24);

// Raised by the image class's 16-bit arithmetic (RoundUp, BytesPerScanLine) when a result does not
// fit, and by the members that use it.
class OverflowError : public std::overflow_error {
public:
    using std::overflow_error::overflow_error;
};

} // namespace cfb
