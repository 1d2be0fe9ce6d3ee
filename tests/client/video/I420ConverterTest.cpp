// The camera path's conversion: every picture layout a camera may give, converted (and scaled)
// to I420 and compared with a reference computed here from the same RGB picture.
#include "video/I420Converter.h"
#include "video/CameraSource.h"

#include <QBuffer>
#include <QImage>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using cfb::client::I420Buffer;
using cfb::client::I420Converter;
using F = I420Converter::Format;

namespace {

// Four flat quadrants (white, black, orange, a vertical blue gradient), even sized.
QImage referencePicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool left = x < w / 2, top = y < h / 2;
            QRgb c = top ? (left ? qRgb(255, 255, 255) : qRgb(0, 0, 0))
                         : (left ? qRgb(255, 128, 0) : qRgb(0, 40 + 100 * (y - h / 2) / (h / 2), 220));
            image.setPixel(x, y, c);
        }
    return image;
}

// BT.601 studio range, chroma from the mean colour of each 2x2 block.
I420Buffer referenceI420(const QImage& image)
{
    I420Buffer out;
    out.resize(image.size());
    const auto luma = [](double r, double g, double b) { return 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255; };
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            out.y()[y * image.width() + x] = uint8_t(std::lround(luma(qRed(c), qGreen(c), qBlue(c))));
        }
    for (int y = 0; y < out.chromaHeight(); ++y)
        for (int x = 0; x < out.chromaWidth(); ++x) {
            double r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const QRgb c = image.pixel(2 * x + dx, 2 * y + dy);
                    r += qRed(c) / 4.0;
                    g += qGreen(c) / 4.0;
                    b += qBlue(c) / 4.0;
                }
            out.u()[y * out.chromaWidth() + x] = uint8_t(std::lround(128 + (-37.797 * r - 74.203 * g + 112 * b) / 255));
            out.v()[y * out.chromaWidth() + x] = uint8_t(std::lround(128 + (112 * r - 93.786 * g - 18.214 * b) / 255));
        }
    return out;
}

struct Difference {
    double mean = 0;
    int max = 0;
};

Difference compare(const I420Buffer& a, const I420Buffer& b)
{
    Difference d;
    if (a.size() != b.size())
        return {1e9, 255};
    const std::size_t n = a.byteCount();
    for (std::size_t i = 0; i < n; ++i) {
        const int diff = std::abs(int(a.data()[i]) - int(b.data()[i]));
        d.mean += diff;
        d.max = std::max(d.max, diff);
    }
    d.mean /= double(n);
    return d;
}

// The reference picture laid out as a camera would give it, rows padded to `stride` bytes.
struct CameraPicture {
    std::vector<uint8_t> bytes[3];
    I420Converter::Input input;
};

CameraPicture layout(F format, const QImage& image, const I420Buffer& yuv)
{
    CameraPicture p;
    const int w = image.width(), h = image.height(), cw = w / 2, ch = h / 2, pad = 12;
    I420Converter::Input& in = p.input;
    in.format = format;
    in.width = w;
    in.height = h;
    const auto plane = [&](int index, int rowBytes, int rows, const std::function<uint8_t(int, int)>& at) {
        const int stride = rowBytes + pad;
        auto& b = p.bytes[index];
        b.assign(std::size_t(stride) * rows, 0xEE); // padding that must not leak into the picture
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < rowBytes; ++c)
                b[std::size_t(r) * stride + c] = at(c, r);
        in.planes[index] = b.data();
        in.strides[index] = stride;
        in.bytes[index] = b.size();
    };
    const auto Y = [&](int x, int y) { return yuv.y()[y * w + x]; };
    const auto U = [&](int x, int y) { return yuv.u()[y * cw + x]; };
    const auto V = [&](int x, int y) { return yuv.v()[y * cw + x]; };
    const auto rgb = [&](const char* order) {
        return [&image, order](int c, int r) {
            const QRgb px = image.pixel(c / 4, r);
            switch (order[c % 4]) {
            case 'R':
                return uint8_t(qRed(px));
            case 'G':
                return uint8_t(qGreen(px));
            case 'B':
                return uint8_t(qBlue(px));
            default:
                return uint8_t(255);
            }
        };
    };
    switch (format) {
    case F::I420:
    case F::YV12:
        plane(0, w, h, Y);
        plane(1, cw, ch, format == F::I420 ? std::function<uint8_t(int, int)>(U) : V);
        plane(2, cw, ch, format == F::I420 ? std::function<uint8_t(int, int)>(V) : U);
        break;
    case F::NV12:
    case F::NV21:
        plane(0, w, h, Y);
        plane(1, 2 * cw, ch,
            [&](int c, int r) { return (c % 2 == 0) == (format == F::NV12) ? U(c / 2, r) : V(c / 2, r); });
        break;
    case F::YUYV:
        plane(0, 2 * w, h,
            [&](int c, int r) { return c % 2 == 0 ? Y(c / 2, r) : (c % 4 == 1 ? U(c / 4, r / 2) : V(c / 4, r / 2)); });
        break;
    case F::UYVY:
        plane(0, 2 * w, h,
            [&](int c, int r) { return c % 2 == 1 ? Y(c / 2, r) : (c % 4 == 0 ? U(c / 4, r / 2) : V(c / 4, r / 2)); });
        break;
    case F::BGRA:
        plane(0, 4 * w, h, rgb("BGRA"));
        break;
    case F::RGBA:
        plane(0, 4 * w, h, rgb("RGBA"));
        break;
    case F::ARGB:
        plane(0, 4 * w, h, rgb("ARGB"));
        break;
    case F::ABGR:
        plane(0, 4 * w, h, rgb("ABGR"));
        break;
    case F::MJPEG: {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", 100);
        p.bytes[0].assign(jpeg.begin(), jpeg.end());
        in.planes[0] = p.bytes[0].data();
        in.bytes[0] = p.bytes[0].size();
        break;
    }
    }
    return p;
}

} // namespace

TEST(I420Converter, EveryCameraLayoutMatchesTheReference)
{
    const QImage image = referencePicture(64, 48);
    const I420Buffer reference = referenceI420(image);
    struct Case {
        F format;
        const char* name;
        double meanLimit;
        int maxLimit;
    };
    // YUV layouts carry the reference samples themselves; RGB goes through libyuv's fixed-point
    // matrix; JPEG adds its own loss at the quadrant edges.
    const Case cases[] = {{F::I420, "I420", 0, 0}, {F::YV12, "YV12", 0, 0}, {F::NV12, "NV12", 0, 0},
        {F::NV21, "NV21", 0, 0}, {F::YUYV, "YUYV", 0, 0}, {F::UYVY, "UYVY", 0, 0}, {F::BGRA, "BGRA", 0.6, 2},
        {F::RGBA, "RGBA", 0.6, 2}, {F::ARGB, "ARGB", 0.6, 2}, {F::ABGR, "ABGR", 0.6, 2}, {F::MJPEG, "MJPEG", 1.5, 40}};
    I420Converter converter;
    for (const Case& c : cases) {
        const CameraPicture picture = layout(c.format, image, reference);
        ASSERT_TRUE(converter.convert(picture.input, {64, 48})) << c.name;
        const Difference d = compare(converter.output(), reference);
        EXPECT_LE(d.mean, c.meanLimit) << c.name;
        EXPECT_LE(d.max, c.maxLimit) << c.name;
    }
    // JPEG's full range lands in studio range: black is 16, white 235, not 0 and 255.
    EXPECT_NEAR(converter.output().y()[64 * 5 + 40], 16, 2);
    EXPECT_NEAR(converter.output().y()[64 * 5 + 5], 235, 2);
}

TEST(I420Converter, ScalesToTheTargetCroppingTheMiddleToItsShape)
{
    // A 16:9 picture whose outer columns are red: a 4:3 target keeps the middle, without red.
    QImage wide(128, 72, QImage::Format_RGB32);
    wide.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 72; ++y)
        for (int x : {0, 1, 2, 3, 124, 125, 126, 127})
            wide.setPixel(x, y, qRgb(255, 0, 0));
    const I420Buffer wideYuv = referenceI420(wide);
    I420Converter converter;
    for (F format : {F::YUYV, F::NV12, F::I420, F::BGRA}) {
        const CameraPicture picture = layout(format, wide, wideYuv);
        ASSERT_TRUE(converter.convert(picture.input, {48, 36}));
        const I420Buffer& out = converter.output();
        ASSERT_EQ(out.size(), QSize(48, 36));
        for (int x = 0; x < out.chromaWidth(); ++x) {
            EXPECT_NEAR(out.v()[5 * out.chromaWidth() + x], wideYuv.v()[5 * 64 + 32], 2) << "column " << x;
            EXPECT_NEAR(out.u()[5 * out.chromaWidth() + x], wideYuv.u()[5 * 64 + 32], 2) << "column " << x;
        }
    }
    // Back up to a larger size from the same converter: the buffers follow.
    const CameraPicture again = layout(F::NV12, wide, wideYuv);
    ASSERT_TRUE(converter.convert(again.input, {256, 192}));
    EXPECT_EQ(converter.output().size(), QSize(256, 192));
}

TEST(I420Converter, RefusesPicturesThatDoNotHoldWhatTheyClaim)
{
    const QImage image = referencePicture(32, 24);
    const I420Buffer reference = referenceI420(image);
    I420Converter converter;

    CameraPicture p = layout(F::YUYV, image, reference);
    I420Converter::Input in = p.input;
    in.bytes[0] = std::size_t(in.strides[0]) * 23 + 2 * 32 - 1; // one byte short of the last row
    EXPECT_FALSE(converter.convert(in, {32, 24}));
    in = p.input;
    in.strides[0] = 2 * 32 - 2; // rows overlap
    EXPECT_FALSE(converter.convert(in, {32, 24}));
    in = p.input;
    in.width = 0;
    EXPECT_FALSE(converter.convert(in, {32, 24}));
    in = p.input;
    in.height = 100000;
    EXPECT_FALSE(converter.convert(in, {32, 24}));
    EXPECT_FALSE(converter.convert(p.input, {0, 24}));

    p = layout(F::NV12, image, reference);
    in = p.input;
    in.planes[1] = nullptr;
    EXPECT_FALSE(converter.convert(in, {32, 24}));
    in = p.input;
    in.bytes[1] = 10;
    EXPECT_FALSE(converter.convert(in, {32, 24}));

    const QByteArray notJpeg(4000, 'x');
    in = {};
    in.format = F::MJPEG;
    in.width = 32;
    in.height = 24;
    in.planes[0] = reinterpret_cast<const uint8_t*>(notJpeg.constData());
    in.bytes[0] = std::size_t(notJpeg.size());
    EXPECT_FALSE(converter.convert(in, {32, 24}));

    // A good picture still converts afterwards.
    EXPECT_TRUE(converter.convert(layout(F::BGRA, image, reference).input, {32, 24}));
}

TEST(I420Converter, CameraFramesFromQtReachTheConverterInTheirOwnLayout)
{
    // Qt's own idea of which video layout equals which picture layout settles the byte orders.
    const QImage image = referencePicture(64, 48);
    const I420Buffer reference = referenceI420(image);
    I420Converter converter;
    for (QImage::Format imageFormat :
        {QImage::Format_ARGB32, QImage::Format_RGB32, QImage::Format_RGBA8888, QImage::Format_RGBX8888}) {
        const QImage picture = image.convertToFormat(imageFormat);
        const auto pixelFormat = QVideoFrameFormat::pixelFormatFromImageFormat(imageFormat);
        QVideoFrame frame(QVideoFrameFormat(picture.size(), pixelFormat));
        ASSERT_TRUE(frame.map(QVideoFrame::WriteOnly)) << imageFormat;
        for (int row = 0; row < picture.height(); ++row)
            std::memcpy(frame.bits(0) + row * frame.bytesPerLine(0), picture.constScanLine(row), 4 * 64);
        frame.unmap();
        ASSERT_TRUE(cfb::client::CameraSource::convertVideoFrame(frame, converter, {64, 48})) << imageFormat;
        EXPECT_LE(compare(converter.output(), reference).max, 2) << imageFormat;
    }
    // YUYV and NV12 with the strides Qt gives them, and a layout the converter does not know.
    for (auto pixelFormat :
        {QVideoFrameFormat::Format_YUYV, QVideoFrameFormat::Format_NV12, QVideoFrameFormat::Format_AYUV}) {
        QVideoFrame frame(QVideoFrameFormat(QSize(64, 48), pixelFormat));
        ASSERT_TRUE(frame.map(QVideoFrame::WriteOnly));
        for (int row = 0; row < 48; ++row)
            for (int x = 0; x < 64; ++x) {
                const uint8_t y = reference.y()[row * 64 + x], u = reference.u()[row / 2 * 32 + x / 2],
                              v = reference.v()[row / 2 * 32 + x / 2];
                if (pixelFormat == QVideoFrameFormat::Format_YUYV) {
                    uint8_t* p = frame.bits(0) + row * frame.bytesPerLine(0) + 2 * x;
                    p[0] = y;
                    p[1] = x % 2 ? v : u;
                } else if (pixelFormat == QVideoFrameFormat::Format_NV12) {
                    frame.bits(0)[row * frame.bytesPerLine(0) + x] = y;
                    frame.bits(1)[row / 2 * frame.bytesPerLine(1) + x] = x % 2 ? v : u;
                } else {
                    uint8_t* p = frame.bits(0) + row * frame.bytesPerLine(0) + 4 * x;
                    p[0] = 255; // A, Y, U, V
                    p[1] = y;
                    p[2] = u;
                    p[3] = v;
                }
            }
        frame.unmap();
        ASSERT_TRUE(cfb::client::CameraSource::convertVideoFrame(frame, converter, {32, 24})) << pixelFormat;
        ASSERT_EQ(converter.output().size(), QSize(32, 24));
        // The white quadrant's middle, scaled down: white in any of these layouts.
        EXPECT_NEAR(converter.output().y()[6 * 32 + 8], 235, 4) << pixelFormat;
        EXPECT_NEAR(converter.output().u()[3 * 16 + 4], 128, 4) << pixelFormat;
        // The orange quadrant keeps its colour (no swapped chroma).
        EXPECT_NEAR(converter.output().v()[9 * 16 + 4], reference.v()[18 * 32 + 8], 6) << pixelFormat;
    }
    EXPECT_FALSE(cfb::client::CameraSource::convertVideoFrame(QVideoFrame(), converter, {32, 24}));
}
