// Camera frames: CreateDIBEx sizing, SetBits through Pixmill, and the JPEG of a frame.
#include "DibTestSupport.h"
#include "YuvKernels.h"
#include "imaging/PixmillLoader.h"
#include "imaging/cDIBSection.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using cfb::cDIBSection;

namespace {

cfb::BITMAPINFO captureFormat(int w, int h, int bits = 24)
{
    cfb::BITMAPINFO info{};
    info.bmiHeader = {40, w, h, 1, static_cast<int16_t>(bits), cfb::BI_RGB, 0, 0, 0, 0, 0};
    return info;
}

QByteArray randomFrame(int w, int h, unsigned seed)
{
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    QByteArray frame(w * h + 2 * cw * ch, Qt::Uninitialized);
    std::mt19937 rng(seed);
    for (auto& b : frame)
        b = static_cast<char>(rng());
    return frame;
}

// The bytes the bitmap must hold for an I420 frame: the plain conversion, padding zero.
std::vector<uint8_t> expectedBitmap(const QByteArray& frame, int w, int h)
{
    const auto* y = reinterpret_cast<const uint8_t*>(frame.constData());
    const std::size_t c = pixmill::chromaStride(w) * ((h + 1) / 2);
    std::vector<uint8_t> out(pixmill::rowStride(w) * h, 0);
    pixmill::convertScalar(y, y + w * h, y + w * h + c, out.data(), w, h);
    return out;
}

bool bitmapEquals(const cDIBSection& dib, const std::vector<uint8_t>& want)
{
    return std::memcmp(dib.DIBSectionBitsPtr(), want.data(), want.size()) == 0;
}

TEST(DibFrames, CreateDibExSizesPlanesForTheFormat)
{
    cDIBSection dib;
    uintptr_t handle = 12345;
    const cfb::BITMAPINFO info = captureFormat(176, 144);
    const uintptr_t result = dib.CreateDIBEx(nullptr, &info, handle);
    ASSERT_NE(result, 0u);
    EXPECT_EQ(handle, result);
    EXPECT_EQ(dib.hDib(), result);
    EXPECT_NE(dib.hdc(), nullptr);
    EXPECT_EQ(dib.BytesPerScanLine(), 528);

    // Y plane 25,344 bytes, U and V 6,336 each: 38,016 bytes fill all three.
    const QByteArray frame = randomFrame(176, 144, 1);
    ASSERT_EQ(frame.size(), 38016);
    EXPECT_FALSE(dib.SetBits(frame.left(38015), true));
    EXPECT_FALSE(dib.SetBits(QByteArray(), true));
    ASSERT_TRUE(dib.SetBits(frame, true));
    EXPECT_TRUE(bitmapEquals(dib, expectedBitmap(frame, 176, 144)));
    // Extra bytes after the planes are ignored.
    EXPECT_TRUE(dib.SetBits(frame + QByteArray(100, '\xFF'), true));
    EXPECT_TRUE(bitmapEquals(dib, expectedBitmap(frame, 176, 144)));
}

TEST(DibFrames, CallerContextIsKeptNotOwned)
{
    QImage screen(4, 4, QImage::Format_RGB32);
    cDIBSection dib;
    uintptr_t handle = 0;
    const cfb::BITMAPINFO info = captureFormat(16, 16);
    ASSERT_NE(dib.CreateDIBEx(&screen, &info, handle), 0u);
    EXPECT_EQ(dib.hdc(), &screen);
    dib.CleanUp();
    EXPECT_EQ(dib.hdc(), nullptr);
    EXPECT_EQ(screen.size(), QSize(4, 4)); // still the caller's, untouched
}

TEST(DibFrames, CreateDibExRejectsFormatsThatCannotHoldFrames)
{
    cDIBSection dib;
    uintptr_t handle = 7;
    EXPECT_EQ(dib.CreateDIBEx(nullptr, nullptr, handle), 0u);
    EXPECT_EQ(handle, 0u);
    for (const auto& info : {captureFormat(0, 10), captureFormat(10, 0), captureFormat(10, -10),
             captureFormat(16, 16, 32), captureFormat(16, 16, 16)}) {
        EXPECT_EQ(dib.CreateDIBEx(nullptr, &info, handle), 0u);
        EXPECT_EQ(dib.hDib(), 0u);
        EXPECT_FALSE(dib.SetBits(randomFrame(16, 16, 2), true));
    }
    cfb::BITMAPINFO compressed = captureFormat(16, 16);
    compressed.bmiHeader.biCompression = cfb::BI_RLE8;
    EXPECT_EQ(dib.CreateDIBEx(nullptr, &compressed, handle), 0u);
    const cfb::BITMAPINFO wide = captureFormat(20000, 2);
    EXPECT_THROW(dib.CreateDIBEx(nullptr, &wide, handle), cfb::OverflowError);
    EXPECT_EQ(dib.hDib(), 0u);
}

TEST(DibFrames, SetBitsNeedsAFrameBitmap)
{
    cDIBSection dib;
    const QByteArray frame = randomFrame(16, 16, 3);
    EXPECT_FALSE(dib.SetBits(frame, true));
    EXPECT_FALSE(dib.SetBits(frame, false));
    ASSERT_TRUE(dib.Create(16, 16, 3)); // a bitmap, but not prepared for frames
    EXPECT_FALSE(dib.SetBits(frame, true));

    uintptr_t handle = 0;
    const cfb::BITMAPINFO info = captureFormat(16, 16);
    ASSERT_NE(dib.CreateDIBEx(nullptr, &info, handle), 0u);
    ASSERT_TRUE(dib.SetBits(frame, true));
    // Another bitmap of another size replaces the frame bitmap: frames no longer fit it.
    ASSERT_TRUE(dib.Create(8, 8, 3));
    EXPECT_FALSE(dib.SetBits(frame, true));
}

// Odd capture sizes: the planes are rounded up, as I420 stores them, and Pixmill reads them the same way.
TEST(DibFrames, OddSizedFramesConvertExactly)
{
    for (auto [w, h] : {std::pair{5, 3}, {121, 97}, {33, 1}}) {
        cDIBSection dib;
        uintptr_t handle = 0;
        const cfb::BITMAPINFO info = captureFormat(w, h);
        ASSERT_NE(dib.CreateDIBEx(nullptr, &info, handle), 0u);
        const QByteArray frame = randomFrame(w, h, w * 1000 + h);
        EXPECT_FALSE(dib.SetBits(frame.left(frame.size() - 1), true));
        ASSERT_TRUE(dib.SetBits(frame, true)) << w << "x" << h;
        EXPECT_TRUE(bitmapEquals(dib, expectedBitmap(frame, w, h))) << w << "x" << h;
    }
}

// Without IsCompressed the bitmap is refreshed from the last converted frame; the bytes are not read.
TEST(DibFrames, UncompressedRefreshesFromWorkingPixels)
{
    cDIBSection dib;
    uintptr_t handle = 0;
    const cfb::BITMAPINFO info = captureFormat(32, 8);
    ASSERT_NE(dib.CreateDIBEx(nullptr, &info, handle), 0u);
    const QByteArray frame = randomFrame(32, 8, 4);
    ASSERT_TRUE(dib.SetBits(frame, true));
    const auto want = expectedBitmap(frame, 32, 8);
    std::memset(dib.DIBSectionBitsPtr(), 0x77, want.size());
    ASSERT_TRUE(dib.SetBits(randomFrame(32, 8, 5))); // IsCompressed omitted
    EXPECT_TRUE(bitmapEquals(dib, want));
    ASSERT_TRUE(dib.SetBits(QByteArray(), false));
    EXPECT_TRUE(bitmapEquals(dib, want));
}

TEST(DibFrames, FrameJpegDecodesToTheConvertedPicture)
{
    const int w = 160, h = 120;
    // A smooth frame: luma ramps, chroma varies slowly.
    QByteArray frame(w * h + 2 * (w / 2) * (h / 2), Qt::Uninitialized);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            frame[y * w + x] = static_cast<char>(30 + (x + y) * 190 / (w + h));
    for (int i = 0; i < (w / 2) * (h / 2); ++i) {
        frame[w * h + i] = static_cast<char>(100 + (i % 80) / 2);
        frame[w * h + (w / 2) * (h / 2) + i] = static_cast<char>(150 - (i / 80) / 2);
    }
    cDIBSection dib;
    uintptr_t handle = 0;
    const cfb::BITMAPINFO info = captureFormat(w, h);
    ASSERT_NE(dib.CreateDIBEx(nullptr, &info, handle), 0u);
    dib.setJPGQuality(85);
    ASSERT_TRUE(dib.SetBits(frame, true));
    const QByteArray jpeg = dib.JPGBuffer();
    ASSERT_FALSE(jpeg.isEmpty());
    QImage bitmap(w, h, QImage::Format_RGB32);
    QImage target(w, h, QImage::Format_RGB32);
    dib.PaintPicture(&target);
    const QImage back = QImage::fromData(jpeg, "JPEG");
    ASSERT_EQ(back.size(), QSize(w, h));
    EXPECT_LT(dibtest::meanDifference(back, target), 2.5);
}

TEST(PixmillLoader, FoundBesideTheLibraryAndMissingIsNull)
{
    const QStringList where = cfb::PixmillLoader::candidates();
    ASSERT_EQ(where.size(), 2);
    EXPECT_TRUE(where[0].endsWith(QStringLiteral("/libpixmill.so")));
    EXPECT_TRUE(QFileInfo::exists(where[0])) << where[0].toStdString();
    EXPECT_EQ(where[1], QStringLiteral("libpixmill.so"));
    EXPECT_NE(cfb::PixmillLoader::yuvFrame(), nullptr);
    EXPECT_EQ(cfb::PixmillLoader::loadFrom({QStringLiteral("/nonexistent/libpixmill.so")}), nullptr);
    // A library that loads but has no YUVFrame does not count.
    EXPECT_EQ(cfb::PixmillLoader::loadFrom({QStringLiteral("libz.so.1")}), nullptr);
    EXPECT_NE(cfb::PixmillLoader::loadFrom({QStringLiteral("/nonexistent/x.so"), where[0]}), nullptr);
}

} // namespace
