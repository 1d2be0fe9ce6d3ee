// Bytes from the network or an avatar store become a picture, or nothing; never a crash.
#include "imaging/modPic.h"
#include "DibTestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <random>

namespace {

// An 8x6 GIF (Qt writes no GIF): palette entry i is (16i, 255 - 16i, 48i mod 256), and pixel
// (x, y) uses entry (3x + 5y) mod 16.
const char gifBytes[]
    = "\x47\x49\x46\x38\x39\x61\x08\x00\x06\x00\xF3\x00\x00\x00\xFF\x00\x10\xEF\x30\x20\xDF\x60\x30\xCF\x90"
      "\x40\xBF\xC0\x50\xAF\xF0\x60\x9F\x20\x70\x8F\x50\x80\x7F\x80\x90\x6F\xB0\xA0\x5F\xE0\xB0\x4F\x10\xC0"
      "\x3F\x40\xD0\x2F\x70\xE0\x1F\xA0\xF0\x0F\xD0\x2C\x00\x00\x00\x00\x08\x00\x06\x00\x00\x04\x19\x10\x0C"
      "\x93\xD8\x13\xA5\xA0\xE5\x02\x39\x8A\xD2\x48\x94\x75\x69\x9C\xF7\x89\x64\x52\x9D\x9B\x13\x01\x00\x3B";
const QByteArray gifPicture = QByteArray(gifBytes, sizeof gifBytes - 1);

QByteArray encoded(const QImage& img, const char* format)
{
    if (qstrcmp(format, "GIF") == 0)
        return gifPicture;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(img.save(&buffer, format)) << format;
    return bytes;
}

// The picture as TurboJPEG encodes it from the given pixel layout, at quality 90; empty on failure.
QByteArray turboJpeg(const QImage& source, int pixelFormat, int subsampling, int flags)
{
    tjhandle encoder = tjInitCompress(); // fresh: a reused one keeps the last progressive scan script
    unsigned char* out = nullptr;
    unsigned long size = 0;
    QByteArray jpeg;
    if (encoder
        && tjCompress2(encoder, source.constBits(), source.width(), static_cast<int>(source.bytesPerLine()),
               source.height(), pixelFormat, &out, &size, subsampling, 90, flags)
            == 0)
        jpeg = QByteArray(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    tjFree(out);
    if (encoder)
        tjDestroy(encoder);
    return jpeg;
}

TEST(PictureFromBytes, DecodesTheFourPictureKinds)
{
    const QImage picture = dibtest::patternPicture(23, 17);
    for (const char* format : {"JPEG", "BMP", "PNG"}) {
        const QImage back = cfb::PictureFromBytes(encoded(picture, format));
        ASSERT_FALSE(back.isNull()) << format;
        EXPECT_EQ(back.size(), picture.size()) << format;
    }
    const QImage gif = cfb::PictureFromBytes(gifPicture);
    ASSERT_EQ(gif.size(), QSize(8, 6));
    EXPECT_EQ(gif.pixel(2, 1), qRgb(176, 79, 16));
    EXPECT_EQ(gif.pixel(7, 5), qRgb(224, 31, 160));
    const QImage png = cfb::PictureFromBytes(encoded(picture, "PNG"));
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), picture);
}

TEST(PictureFromBytes, NonPicturesGiveNothing)
{
    EXPECT_TRUE(cfb::PictureFromBytes(QByteArray()).isNull());
    EXPECT_TRUE(cfb::PictureFromBytes(QByteArray("hello, this is text")).isNull());
    EXPECT_TRUE(cfb::PictureFromBytes(QByteArray("BM")).isNull());
    EXPECT_TRUE(cfb::PictureFromBytes(QByteArray("\xFF\xD8\xFF", 3)).isNull());
    EXPECT_TRUE(cfb::PictureFromBytes(QByteArray("GIF89a")).isNull());
    // A format Qt reads but that is no picture kind here.
    EXPECT_TRUE(cfb::PictureFromBytes(encoded(dibtest::patternPicture(4, 4), "PPM")).isNull());
}

// Rows stored top-down (a negative height) decode to the same picture as rows stored bottom-up.
TEST(PictureFromBytes, TopDownBitmapsDecode)
{
    const QImage picture = dibtest::patternPicture(3, 2);
    for (const bool topDown : {false, true}) {
        const QByteArray bmp
            = dibtest::bmpFile(40, 3, topDown ? -2 : 2, 24, 0, {}, dibtest::bmpRows24(picture, topDown));
        const QImage back = cfb::PictureFromBytes(bmp);
        ASSERT_EQ(back.size(), picture.size()) << topDown;
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), picture) << topDown;
    }
}

// Every layout of bitmap the decoder reads decodes whole and gives nothing once cut short anywhere.
TEST(PictureFromBytes, CutOffBitmapsGiveNothing)
{
    using dibtest::bmpFile;
    const auto bytes = [](int n, int modulo) {
        QByteArray b(n, '\0');
        for (int i = 0; i < n; ++i)
            b[i] = static_cast<char>(i * 37 % modulo);
        return b;
    };
    const QByteArray palette = bytes(4 * 16, 256);
    const QByteArray masks565("\x00\xF8\0\0\xE0\x07\0\0\x1F\0\0\0", 12);
    // Run-length rows: a run, end of line; a literal run (padded) and a run, end of line; then a
    // jump and a run, end of line, end of bitmap (RLE8), or a run and end of bitmap (RLE4).
    const QByteArray rle8("\x05\x01\0\0"
                          "\0\x03\x01\x02\x03\0\x02\x02\0\0"
                          "\0\x02\x01\0\x04\x03\0\0\0\x01",
        24);
    const QByteArray rle4("\x05\x12\0\0"
                          "\0\x05\x12\x34\x50\0\0\0"
                          "\x05\x34\0\x01",
        16);
    const struct {
        const char* name;
        QByteArray file;
        QSize size;
    } bitmaps[] = {
        {"1-bit", bmpFile(40, 5, 3, 1, 0, palette.left(8), bytes(12, 256), 2), {5, 3}},
        {"4-bit", bmpFile(40, 5, 3, 4, 0, palette, bytes(12, 256)), {5, 3}},
        {"8-bit", bmpFile(40, 5, 3, 8, 0, palette.left(16), bytes(24, 4), 4), {5, 3}},
        {"16-bit", bmpFile(40, 5, 3, 16, 0, {}, bytes(36, 256)), {5, 3}},
        {"16-bit fields", bmpFile(40, 5, 3, 16, 3, masks565, bytes(36, 256)), {5, 3}},
        {"24-bit", bmpFile(40, 23, 17, 24, 0, {}, dibtest::bmpRows24(dibtest::patternPicture(23, 17), false)),
            {23, 17}},
        {"32-bit", bmpFile(40, 5, 3, 32, 0, {}, bytes(60, 256)), {5, 3}},
        {"32-bit fields top-down",
            bmpFile(124, 5, -3, 32, 3, {}, bytes(60, 256), 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}), {5, 3}},
        {"RLE8", bmpFile(40, 5, 3, 8, 1, palette.left(16), rle8, 4), {5, 3}},
        {"RLE4", bmpFile(40, 5, 3, 4, 2, palette, rle4), {5, 3}},
    };
    for (const auto& bitmap : bitmaps) {
        EXPECT_EQ(cfb::PictureFromBytes(bitmap.file).size(), bitmap.size) << bitmap.name;
        for (int len = 0; len < bitmap.file.size(); ++len)
            ASSERT_TRUE(cfb::PictureFromBytes(bitmap.file.left(len)).isNull()) << bitmap.name << " cut to " << len;
    }
}

// A JPEG that ends early gives nothing, whichever way it was encoded; the whole one decodes.
TEST(PictureFromBytes, CutOffJpegsGiveNothing)
{
    const QImage colour = dibtest::gradientPicture(64, 48);
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
    // Ink-inverted CMYK without black ink, as Adobe writes it: the stored C, M, Y are red, green, blue.
    const QImage cmyk = colour.convertToFormat(QImage::Format_RGBX8888);
    const struct {
        const char* name;
        const QImage& source;
        int pixelFormat, subsampling, flags;
    } kinds[] = {
        {"baseline", colour, TJPF_BGRX, TJSAMP_420, 0},
        {"progressive", colour, TJPF_BGRX, TJSAMP_420, TJFLAG_PROGRESSIVE},
        {"progressive grey", grey, TJPF_BGRX, TJSAMP_GRAY, TJFLAG_PROGRESSIVE},
        {"CMYK", cmyk, TJPF_CMYK, TJSAMP_444, 0},
    };
    for (const auto& kind : kinds) {
        const QByteArray jpeg = turboJpeg(kind.source, kind.pixelFormat, kind.subsampling, kind.flags);
        ASSERT_FALSE(jpeg.isEmpty()) << kind.name;
        const QImage whole = cfb::PictureFromBytes(jpeg);
        ASSERT_EQ(whole.size(), QSize(64, 48)) << kind.name;
        EXPECT_LT(dibtest::meanDifference(
                      whole.convertToFormat(QImage::Format_RGB32), kind.source.convertToFormat(QImage::Format_RGB32)),
            3.0)
            << kind.name;
        for (int len = 0; len < jpeg.size(); ++len)
            ASSERT_TRUE(cfb::PictureFromBytes(jpeg.left(len)).isNull()) << kind.name << " cut to " << len;
    }
}

// A header claiming an enormous picture is refused before any pixels are allocated.
TEST(PictureFromBytes, OversizedPicturesAreRefused)
{
    QByteArray png = encoded(dibtest::patternPicture(4, 4), "PNG");
    // IHDR width and height sit at bytes 16..23; the CRC no longer matches either.
    png.replace(16, 8, QByteArray("\x00\x01\x00\x00\x00\x01\x00\x00", 8));
    EXPECT_TRUE(cfb::PictureFromBytes(png).isNull());

    // A GIF whose logical screen is taller than any picture accepted here.
    QByteArray gif = gifPicture;
    gif.replace(8, 2, QByteArray("\x06\x2A", 2));
    EXPECT_TRUE(cfb::PictureFromBytes(gif).isNull());

    QByteArray bmp = encoded(dibtest::patternPicture(4, 4), "BMP");
    bmp.replace(18, 8, QByteArray("\xFF\xFF\x00\x00\xFF\xFF\x00\x00", 8));
    EXPECT_TRUE(cfb::PictureFromBytes(bmp).isNull());
}

// A received frame never costs more than the largest frame a client sends: a few bytes declaring
// a huge JPEG are decoded scaled down (a picture sent whole still shows), other kinds refused.
TEST(FrameFromBytes, LargePicturesDecodeScaledDownToTheLargestFrame)
{
    QImage grey(4096, 2048, QImage::Format_Grayscale8);
    grey.fill(200);
    const QByteArray large = turboJpeg(grey, TJPF_GRAY, TJSAMP_GRAY, 0);
    ASSERT_FALSE(large.isEmpty());
    EXPECT_EQ(cfb::PictureFromBytes(large).size(), QSize(4096, 2048)) << "a picture keeps its size";
    const QImage frame = cfb::FrameFromBytes(large);
    EXPECT_EQ(frame.size(), QSize(1536, 768)) << "3/8, the largest of the decoder's factors that fits 1920x1080";
    EXPECT_NEAR(qGray(frame.pixel(700, 300)), 200, 2);

    const QImage full = dibtest::patternPicture(1920, 1080).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(cfb::FrameFromBytes(turboJpeg(full, TJPF_BGRX, TJSAMP_420, 0)).size(), QSize(1920, 1080));

    const QByteArray widePng = encoded(dibtest::patternPicture(1921, 2), "PNG");
    EXPECT_FALSE(cfb::PictureFromBytes(widePng).isNull());
    EXPECT_TRUE(cfb::FrameFromBytes(widePng).isNull()) << "no scaled decoding for other kinds";
}

// Damaged pictures of every kind: truncated and bit-flipped copies must decode or give nothing.
TEST(PictureFromBytes, DamagedPicturesDoNotCrash)
{
    std::mt19937 rng(77);
    for (const char* format : {"JPEG", "GIF", "BMP", "PNG"}) {
        const QByteArray good = encoded(dibtest::patternPicture(16, 12), format);
        for (int len = 0; len < good.size(); len += 1 + good.size() / 40)
            (void)cfb::PictureFromBytes(good.left(len));
        for (int round = 0; round < 60; ++round) {
            QByteArray bad = good;
            for (int flips = 0; flips < 4; ++flips)
                bad[2 + rng() % (bad.size() - 2)] = static_cast<char>(rng());
            const QImage img = cfb::PictureFromBytes(bad);
            if (!img.isNull()) {
                EXPECT_LE(qint64(img.width()) * img.height(), qint64(32) << 20);
            }
        }
    }
}

} // namespace
