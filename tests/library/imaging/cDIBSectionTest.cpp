// The bitmap itself: arithmetic, creation, files, pictures and painting.
#include "imaging/cDIBSection.h"
#include "DibTestSupport.h"
#include "platform/UserNotice.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using cfb::cDIBSection;
using dibtest::bitmapPixel;

namespace {

TEST(DibArithmetic, RoundUpAndTrimByte)
{
    EXPECT_EQ(cDIBSection::RoundUp(2.0f), 2);
    EXPECT_EQ(cDIBSection::RoundUp(2.1f), 3);
    EXPECT_EQ(cDIBSection::RoundUp(-1.5f), -1);
    EXPECT_EQ(cDIBSection::RoundUp(160 / 2.0f), 80);
    EXPECT_EQ(cDIBSection::RoundUp(121 / 2.0f), 61);
    EXPECT_EQ(cDIBSection::RoundUp(32767.0f), 32767);
    EXPECT_THROW(cDIBSection::RoundUp(32767.5f), cfb::OverflowError);
    EXPECT_THROW(cDIBSection::RoundUp(-40000.0f), cfb::OverflowError);
    EXPECT_THROW(cDIBSection::RoundUp(std::numeric_limits<float>::quiet_NaN()), cfb::OverflowError);
    EXPECT_EQ(cDIBSection::TrimByte(-5), 0);
    EXPECT_EQ(cDIBSection::TrimByte(300), 255);
    EXPECT_EQ(cDIBSection::TrimByte(128), 128);
    EXPECT_EQ(cDIBSection::TrimByte(-32768), 0);
}

TEST(DibArithmetic, StridePadsRowsToFourBytes)
{
    cDIBSection dib;
    EXPECT_EQ(dib.BytesPerScanLine(), 0); // empty
    ASSERT_TRUE(dib.Create(5, 2, 3));
    EXPECT_EQ(dib.BytesPerScanLine(), 16);
    ASSERT_TRUE(dib.Create(160, 2, 3));
    EXPECT_EQ(dib.BytesPerScanLine(), 480);
    ASSERT_TRUE(dib.Create(5, 2, 4));
    EXPECT_EQ(dib.BytesPerScanLine(), 20);
    EXPECT_EQ(dib.Description().bmiHeader.biSizeImage, 40);
}

// Rows wider than 32,764 bytes do not fit the 16-bit stride: an error, and the object stays empty.
TEST(DibArithmetic, TooWideRowsRaiseOverflow)
{
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(10921, 1, 3)); // 32,763 bytes: the widest 24-bit row
    EXPECT_EQ(dib.BytesPerScanLine(), 32764);
    EXPECT_THROW(dib.Create(10922, 1, 3), cfb::OverflowError);
    EXPECT_EQ(dib.hDib(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_THROW(dib.Create(8192, 1, 4), cfb::OverflowError);
}

TEST(DibCreate, ChannelCountsAndBadSizes)
{
    cDIBSection dib;
    for (int channels : {1, 2, 4, 7}) {
        ASSERT_TRUE(dib.Create(3, 3, channels));
        EXPECT_EQ(dib.Description().bmiHeader.biBitCount, 32) << channels;
        EXPECT_EQ(dib.dib_channels(), 4);
    }
    ASSERT_TRUE(dib.Create(3, 3, 3));
    EXPECT_EQ(dib.dib_channels(), 3);
    const uintptr_t first = dib.hDib();
    EXPECT_NE(first, 0u);
    EXPECT_NE(dib.hdc(), nullptr);
    ASSERT_TRUE(dib.Create(3, 3, 3));
    EXPECT_NE(dib.hDib(), first); // a new bitmap, a new handle

    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-4, 5}, {5, -4}}) {
        EXPECT_FALSE(dib.Create(w, h, 3)) << w << "x" << h;
        EXPECT_EQ(dib.hDib(), 0u);
        EXPECT_EQ(dib.hdc(), nullptr);
    }
    // Too big to hold: fails like an allocation, no crash. Beyond 32-bit sizes: overflow.
    EXPECT_FALSE(dib.Create(10000, 60000, 3));
    EXPECT_THROW(dib.Create(10000, 200000, 3), cfb::OverflowError);

    uintptr_t handle = 0;
    EXPECT_TRUE(dib.CreateDIB(nullptr, 4, 4, 3, handle));
    EXPECT_EQ(handle, dib.hDib());
}

TEST(DibCreate, CleanUpEmptiesButKeepsQuality)
{
    cDIBSection dib;
    dib.setJPGQuality(42);
    ASSERT_TRUE(dib.Create(8, 8, 3));
    dib.CleanUp();
    EXPECT_EQ(dib.hDib(), 0u);
    EXPECT_EQ(dib.hdc(), nullptr);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(dib.dib_width(), 0);
    EXPECT_EQ(dib.dib_height(), 0);
    EXPECT_EQ(dib.Description().bmiHeader.biSize, 40);
    EXPECT_EQ(dib.JPGQuality(), 42);
    EXPECT_TRUE(dib.JPGBuffer().isEmpty());
    dib.CleanUp(); // twice is harmless
}

TEST(DibPicture, CreateFromPictureStoresRowsBottomUp)
{
    const QImage picture = dibtest::patternPicture(7, 5);
    cDIBSection dib;
    dib.CreateFromPicture(picture);
    ASSERT_NE(dib.hDib(), 0u);
    EXPECT_EQ(dib.dib_width(), 7);
    EXPECT_EQ(dib.dib_height(), 5);
    EXPECT_EQ(dib.dib_channels(), 3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(bitmapPixel(dib, x, y), picture.pixel(x, y) | 0xFF000000) << x << "," << y;
    // The first memory row is the picture's bottom row.
    const uint8_t* first = dib.DIBSectionBitsPtr();
    EXPECT_EQ(qRgb(first[2], first[1], first[0]), picture.pixel(0, 4));

    dib.CreateFromPicture(QImage());
    EXPECT_EQ(dib.hDib(), 0u);
}

TEST(DibPicture, PaintPictureCopiesUprightAndHonoursOffsets)
{
    const QImage picture = dibtest::patternPicture(9, 6);
    cDIBSection dib;
    dib.CreateFromPicture(picture);

    QImage target(12, 10, QImage::Format_RGB32);
    target.fill(Qt::black);
    dib.PaintPicture(&target); // all defaults: whole bitmap at (0, 0)
    EXPECT_EQ(target.copy(0, 0, 9, 6), picture);
    EXPECT_EQ(target.pixel(9, 0), qRgb(0, 0, 0));
    EXPECT_EQ(target.pixel(0, 6), qRgb(0, 0, 0));

    target.fill(Qt::black);
    dib.PaintPicture(&target, 2, 3, 4, 2, 5, 1); // part (5,1) 4x2 to (2,3)
    EXPECT_EQ(target.copy(2, 3, 4, 2), picture.copy(5, 1, 4, 2));
    EXPECT_EQ(target.pixel(1, 3), qRgb(0, 0, 0));
    EXPECT_EQ(target.pixel(6, 3), qRgb(0, 0, 0));

    // Source partly outside the bitmap: only the part inside is painted, at its own place.
    target.fill(Qt::black);
    dib.PaintPicture(&target, 0, 0, 4, 4, -2, -1);
    EXPECT_EQ(target.copy(2, 1, 2, 3), picture.copy(0, 0, 2, 3));
    EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 0));

    // Nothing to paint on, or an empty object: nothing happens.
    dib.PaintPicture(nullptr);
    cDIBSection empty;
    target.fill(Qt::black);
    empty.PaintPicture(&target);
    EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 0));
}

TEST(DibPicture, RasterOperations)
{
    const QImage picture = dibtest::patternPicture(6, 4);
    cDIBSection dib;
    dib.CreateFromPicture(picture);
    const QRgb before = bitmapPixel(dib, 3, 2);

    constexpr int32_t SRCINVERT = 0x660046, SRCAND = 0x8800C6, DSTINVERT = 0x550009, NOTSRCCOPY = 0x330008;
    QImage white(6, 4, QImage::Format_RGB32);
    white.fill(Qt::white);
    dib.LoadPictureBlt(picture, -1, -1, 0, 0, -1, -1, SRCINVERT); // x ^ x = 0
    EXPECT_EQ(bitmapPixel(dib, 3, 2), qRgb(0, 0, 0));
    dib.LoadPictureBlt(picture, -1, -1, 0, 0, -1, -1, SRCINVERT);
    EXPECT_EQ(bitmapPixel(dib, 3, 2), before);
    dib.LoadPictureBlt(white, -1, -1, 0, 0, -1, -1, SRCAND); // x & 1 = x
    EXPECT_EQ(bitmapPixel(dib, 3, 2), before);
    dib.LoadPictureBlt(white, -1, -1, 0, 0, -1, -1, DSTINVERT);
    EXPECT_EQ(bitmapPixel(dib, 3, 2), qRgb(255 - qRed(before), 255 - qGreen(before), 255 - qBlue(before)));

    // A partial copy lands at the top left; the rest keeps its pixels.
    dib.CreateFromPicture(picture);
    dib.LoadPictureBlt(white, 100, 100, 0, 0, 2, 1);
    EXPECT_EQ(bitmapPixel(dib, 0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(bitmapPixel(dib, 1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(bitmapPixel(dib, 2, 0), picture.pixel(2, 0));
    EXPECT_EQ(bitmapPixel(dib, 0, 1), picture.pixel(0, 1));

    QImage target(6, 4, QImage::Format_RGB32);
    target.fill(Qt::black);
    dib.PaintPicture(&target, 0, 0, -1, -1, 0, 0, NOTSRCCOPY);
    EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 0)); // not white
    EXPECT_EQ(target.pixel(5, 3),
        qRgb(255 - qRed(picture.pixel(5, 3)), 255 - qGreen(picture.pixel(5, 3)), 255 - qBlue(picture.pixel(5, 3))));
}

TEST(DibPicture, ThirtyTwoBitBitmapPaintsOpaque)
{
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(4, 3, 4));
    const QImage picture = dibtest::patternPicture(4, 3);
    dib.LoadPictureBlt(picture);
    QImage target(4, 3, QImage::Format_ARGB32);
    target.fill(Qt::transparent);
    dib.PaintPicture(&target);
    EXPECT_EQ(target.convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_EQ(qAlpha(target.pixel(2, 1)), 255);
}

class DibFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = cfb::UserNotice::setHandler([this](const QString& text, const QString&) { notices << text; });
    }
    void TearDown() override { cfb::UserNotice::setHandler(previous); }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    QStringList notices;
    cfb::UserNotice::Handler previous;
};

TEST_F(DibFiles, LoadReadsBmpFilesAsTwentyFourBit)
{
    const QImage picture = dibtest::patternPicture(13, 7);
    ASSERT_TRUE(picture.save(path("a.bmp"), "BMP"));
    ASSERT_TRUE(picture.convertToFormat(QImage::Format_ARGB32).save(path("b.bmp"), "BMP"));
    QFile topDown(path("c.bmp")); // rows stored top-down, height negative
    ASSERT_TRUE(topDown.open(QIODevice::WriteOnly));
    topDown.write(dibtest::bmpFile(40, 13, -7, 24, 0, {}, dibtest::bmpRows24(picture, true)));
    topDown.close();
    cDIBSection dib;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
        ASSERT_TRUE(dib.Load(path(name))) << name;
        EXPECT_EQ(dib.Description().bmiHeader.biBitCount, 24);
        EXPECT_EQ(dib.dib_width(), 13);
        EXPECT_EQ(dib.dib_height(), 7);
        EXPECT_EQ(bitmapPixel(dib, 12, 6), picture.pixel(12, 6));
        EXPECT_EQ(bitmapPixel(dib, 0, 0), picture.pixel(0, 0));
    }
    EXPECT_TRUE(notices.isEmpty());
}

TEST_F(DibFiles, LoadFailureTellsTheUserOnce)
{
    ASSERT_TRUE(dibtest::patternPicture(4, 4).save(path("p.png"), "PNG"));
    QFile junk(path("junk.bmp"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("BM\x10\x00\x00\x00garbage that is not a bitmap");
    junk.close();
    QFile cut(path("cut.bmp")); // the last row's last byte is missing
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(
        dibtest::bmpFile(40, 4, 4, 24, 0, {}, dibtest::bmpRows24(dibtest::patternPicture(4, 4), false)).chopped(1));
    cut.close();

    cDIBSection dib;
    ASSERT_TRUE(dib.Create(2, 2, 3));
    for (const char* name : {"missing.bmp", "p.png", "junk.bmp", "cut.bmp"}) {
        notices.clear();
        EXPECT_FALSE(dib.Load(path(name))) << name;
        EXPECT_EQ(notices, QStringList{QStringLiteral("Can't load BMP image")}) << name;
        EXPECT_EQ(dib.hDib(), 0u); // the old bitmap is gone
    }
}

TEST_F(DibFiles, SaveJpgToFileWritesADecodablePicture)
{
    const QImage picture = dibtest::gradientPicture(64, 48);
    cDIBSection dib;
    EXPECT_FALSE(dib.SaveJPGToFile(path("empty.jpg")));
    EXPECT_FALSE(QFile::exists(path("empty.jpg")));

    for (int channels : {3, 4}) {
        ASSERT_TRUE(dib.Create(64, 48, channels));
        dib.LoadPictureBlt(picture);
        dib.setJPGQuality(5); // not used by the file writer
        const QString file = path(channels == 3 ? "rgb.jpg" : "rgbx.jpg");
        ASSERT_TRUE(dib.SaveJPGToFile(file));
        QImage back(file, "JPEG");
        ASSERT_FALSE(back.isNull());
        EXPECT_EQ(back.size(), QSize(64, 48));
        EXPECT_LT(dibtest::meanDifference(back, picture), 3.0) << channels;
    }
    EXPECT_FALSE(dib.SaveJPGToFile(path("no/such/folder/x.jpg")));
    EXPECT_FALSE(dib.SaveJPGToFile(QString()));
}

TEST(DibJpeg, BufferDecodesBackWithinTolerance)
{
    const QImage picture = dibtest::gradientPicture(161, 121); // odd sizes: padded rows, odd chroma
    cDIBSection dib;
    EXPECT_TRUE(dib.JPGBuffer().isEmpty());
    dib.CreateFromPicture(picture);
    dib.setJPGQuality(90);
    const QByteArray jpeg = dib.JPGBuffer();
    ASSERT_FALSE(jpeg.isEmpty());
    const QImage back = QImage::fromData(jpeg, "JPEG");
    ASSERT_EQ(back.size(), picture.size());
    EXPECT_LT(dibtest::meanDifference(back, picture), 2.0);
    // Upside down would be far off.
    EXPECT_GT(dibtest::meanDifference(back.mirrored(false, true), picture), 20.0);

    // Into a kept array: the same bytes; a copy handed out earlier keeps its own.
    QByteArray kept = "left over";
    ASSERT_TRUE(dib.JPGBuffer(kept));
    EXPECT_EQ(kept, jpeg);
    const QByteArray handedOut = kept;
    dib.setJPGQuality(20);
    ASSERT_TRUE(dib.JPGBuffer(kept));
    EXPECT_LT(kept.size(), jpeg.size());
    EXPECT_EQ(handedOut, jpeg);
    cDIBSection empty;
    EXPECT_FALSE(empty.JPGBuffer(kept));
    EXPECT_TRUE(kept.isEmpty());
}

TEST(DibJpeg, QualityIsPassedAndClamped)
{
    cDIBSection dib;
    dib.CreateFromPicture(dibtest::patternPicture(80, 60));
    auto encodedAt = [&](int16_t q) {
        dib.setJPGQuality(q);
        return dib.JPGBuffer();
    };
    const QByteArray q75 = encodedAt(75), q10 = encodedAt(10), q100 = encodedAt(100);
    EXPECT_LT(q10.size(), q75.size());
    EXPECT_LT(q75.size(), q100.size());
    EXPECT_EQ(encodedAt(0), q75); // not set yet: the usual quality
    EXPECT_EQ(encodedAt(1000), q100);
    EXPECT_EQ(encodedAt(-3), encodedAt(1));
    EXPECT_FALSE(encodedAt(1).isEmpty());
}

// A 32-bit bitmap is encoded as what it is, not read as 3-byte pixels.
TEST(DibJpeg, ThirtyTwoBitBitmapEncodesCorrectly)
{
    const QImage picture = dibtest::gradientPicture(50, 40);
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(50, 40, 4));
    dib.LoadPictureBlt(picture);
    dib.setJPGQuality(90);
    const QImage back = QImage::fromData(dib.JPGBuffer(), "JPEG");
    ASSERT_EQ(back.size(), picture.size());
    EXPECT_LT(dibtest::meanDifference(back, picture), 2.0);
}

TEST(DibPacked, CopiesOnlyWholeTrueColourBitmaps)
{
    cfb::BITMAPINFOHEADER header{40, 2, 2, 1, 24, cfb::BI_RGB, 16, 0, 0, 0, 0};
    QByteArray packed(reinterpret_cast<const char*>(&header), 40);
    for (int i = 0; i < 16; ++i)
        packed.append(char(i));

    cDIBSection dib;
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(nullptr, 100));
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(packed.constData(), 39));
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(packed.constData(), packed.size() - 1)); // pixels cut short
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.constData(), packed.size()));
    EXPECT_EQ(dib.PackedPixels(), packed.mid(40));
    EXPECT_EQ(int{dib.PackedHeader().biWidth}, 2);
    EXPECT_EQ(int{dib.PackedFileHeader().bfType}, 19778);
    EXPECT_EQ(uint32_t{dib.PackedFileHeader().bfOffBits}, 54u); // a copy: the field is unaligned

    auto rejects = [&](int16_t bits, int32_t sizeImage) {
        cfb::BITMAPINFOHEADER h = header;
        h.biBitCount = bits;
        h.biSizeImage = sizeImage;
        QByteArray b(reinterpret_cast<const char*>(&h), 40);
        b.append(QByteArray(64, 'x'));
        return !dib.CreateFromPackedDIBPointer(b.constData(), b.size());
    };
    EXPECT_TRUE(rejects(8, 16));
    EXPECT_TRUE(rejects(15, 16));
    EXPECT_TRUE(rejects(16, 0));
    EXPECT_TRUE(rejects(24, -5));
    EXPECT_TRUE(rejects(32, 0x7FFFFFFF));
    EXPECT_FALSE(rejects(16, 16));
}

} // namespace
